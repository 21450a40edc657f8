#include "app/run.h"

#include "app/answer.h"
#include "app/answer_json.h"
#include "app/command_line.h"
#include "app/help_text.h"
#include "app/not_found_reasons.h"
#include "app/result_format.h"
#include "app/watch.h"
#include "locator/kernel_search.h"
#include "locator/markers.h"
#include "locator/memory_scan.h"
#include "platform/console.h"
#include "platform/output_lines.h"
#include "process/process_finder.h"

namespace {

// The run-wide state, held until the process ends.
RunSettings Settings;
Address RamBase = 0;
bool RamFound = false;

// Every failure in here ends the search and nothing else; the slots keep what
// was recorded until then, and LastSearch how far it came.
void GuardedSearch() {
  LastSearch = SearchNotes();
  platform::DWORD pid = 0;
  try {
    BuildMarkerWords();
    pid = FindEmulatorProcess(Settings.EmulatorName);
  } catch (const std::exception& failure) {
    LastSearch.end = SearchStopped;
    LastSearch.failure = failure.what();
    return;
  } catch (...) {
    LastSearch.end = SearchStopped;
    return;
  }
  if (pid != 0) WalkNotingHowFar(pid);
}

// Why the answer is 0, where the build says so, after the result line. The
// answer stands whatever happens here.
void ExplainNotFound() {
  if (!platform::ExplainsNotFound) return;
  try {
    std::string text;
    for (const std::string& reason : NotFoundReasons(Settings.EmulatorName))
      text += reason + platform::LineEnd();
    platform::WriteStandardError(text);
  } catch (...) {
  }
}

// A script reading standard output sees the answer as ever; a user learns
// that no marker program was running.
void NoteFoundByKernelArea() {
  try {
    platform::WriteStandardError(FoundByKernelAreaLine());
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
  RamFound = false;
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
    // The options of the 64-bit tools (watch.cc, answer_json.cc).
    if (Settings.Watch) {
      stage = "watching";
      return WatchRam(Settings);
    }
    WritesErrLines = !Settings.Json;
    ClearFoundSlots();
    stage = "searching";
    GuardedSearch();
    bool byKernelArea = false;
    RamFound = EvaluateRamOfWalk(RamBase, byKernelArea);
    stage = "writing the result line";
    WriteOutputLine(Settings.Json ? AnswerJson(AnswerOfLastSearch(Settings.EmulatorName), Settings.OutputType)
                                  : FormatResult(RamBase, Settings.OutputType));
    FlushOutput();
    if (!RamFound) ExplainNotFound();
    if (byKernelArea) NoteFoundByKernelArea();
    return platform::ExitStatusForResult(RamFound, RamBase);
  } catch (const OutputFailure& failure) {
    return ReportFailure("Write error", stage, failure.what());
  } catch (const std::exception& failure) {
    return ReportFailure("Unexpected error", stage, failure.what());
  }
}
