#include "app/run.h"

#include "app/command_line.h"
#include "app/help_text.h"
#include "app/result_format.h"
#include "locator/markers.h"
#include "locator/memory_scan.h"
#include "platform/console.h"
#include "platform/output_lines.h"
#include "process/process_finder.h"

namespace {

// The run-wide state, held until the process ends.
RunSettings Settings;
Address RamBase = 0;

// Every failure in here ends the search and nothing else; the slots keep what
// was recorded until then.
void GuardedSearch() {
  try {
    BuildMarkerWords();
    const platform::DWORD pid = FindEmulatorProcess(Settings.EmulatorName);
    if (pid == 0) throw SearchFailed;
    ScanEmulatorMemory(pid);
  } catch (...) {
  }
}

// A failure outside the search: what could be written is out, the rest goes;
// a short report follows on standard error.
int ReportFailure(const char* kind, const char* where, const char* message) {
  DiscardOutput();
  const std::string newline = platform::LineEnd();
  platform::WriteStandardError(std::string(kind) + " while " + where + ": " + message + newline + newline);
  return 1;
}

}  // namespace

int RunMirvane(const std::vector<std::string>& arguments) {
  RamBase = 0;
  Settings = RunSettings();
  const char* stage = "reading the command line";
  try {
    switch (ParseCommandLine(arguments, Settings)) {
      case ParseHelp:
        stage = "writing the help text";
        PrintHelp();
        FlushOutput();
        return 0;
      case ParseWrongUsage:
        stage = "writing the usage message";
        WriteOutputLine(WrongUsageMessage);
        FlushOutput();
        return 0;
      case ParseRun: break;
    }
    ClearFoundSlots();
    stage = "searching";
    GuardedSearch();
    RamBase = EvaluateRamBase(FoundSlots);
    stage = "writing the result line";
    WriteOutputLine(FormatResult(RamBase, Settings.OutputType));
    FlushOutput();
    return platform::ExitStatusForResult(RamBase);
  } catch (const OutputFailure& failure) {
    return ReportFailure("Write error", stage, failure.what());
  } catch (const std::exception& failure) {
    return ReportFailure("Unexpected error", stage, failure.what());
  }
}
