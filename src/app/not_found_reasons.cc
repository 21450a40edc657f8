#include "app/not_found_reasons.h"

#include "locator/kernel_area.h"
#include "locator/markers.h"
#include "locator/memory_scan.h"
#include "platform/console.h"
#include "process/process_finder.h"

SearchNotes LastSearch;

void WalkNotingHowFar(platform::DWORD pid) {
  LastSearch.pid = pid;
  try {
    LastSearch.end = SearchNotOpened;  // what SearchFailed means from here on
    ScanEmulatorMemory(pid);
    LastSearch.end = SearchWalked;
  } catch (SearchFailure) {
  } catch (const std::exception& failure) {
    LastSearch.end = SearchStopped;
    LastSearch.failure = failure.what();
  } catch (...) {
    LastSearch.end = SearchStopped;
  }
}

const char FoundByKernelAreaNote[] =
    "the RAM was found by the console's kernel area, as no marker program is running in the emulator";

std::string FoundByKernelAreaLine() {
  return platform::ToolName() + ": " + FoundByKernelAreaNote + platform::LineEnd();
}

namespace {

// Names come from the command line and the process list: each is shown on
// one line, and not a screenful of it.
std::string Printable(const std::string& text) {
  const size_t Longest = 80;
  std::string shown;
  for (size_t i = 0; i < text.size() && i < Longest; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    shown += c < 0x20 || c == 0x7F ? '?' : text[i];
  }
  if (text.size() > Longest) shown += "...";
  return shown;
}

// Sightings told apart: copies in private memory, or of what else.
std::string NotOneRam(const std::string& seen, int privateSightings) {
  const std::string notOne = seen + ", in memory not shown to be one RAM";
  if (privateSightings == 0) return notOne + " (a copy of it, such as a snapshot?)";
  return notOne + ": " + std::to_string(privateSightings) +
         " of the sightings lie in the emulator's private memory, as copies of the RAM do: turn off "
         "rewind, run-ahead, save states kept in memory and the like in the emulator, and run again";
}

std::string Times(int count) {
  if (count > MaxSightings) return "more than " + std::to_string(MaxSightings) + " times";
  if (count == 0) return "not at all";
  return count == 1 ? "once" : std::to_string(count) + " times";
}

// The chosen process was walked and the answer is 0.
std::string WalkReason(const std::string& process, bool nameGiven) {
  const int starts = SightingCounts[0];
  const int ends = SightingCounts[1];
  if (starts == 0 && ends == 0 && LastWalk.regions > 0 && LastWalk.shortCopies == LastWalk.regions) {
    return "no memory of " + process + " could be read (" + std::to_string(LastWalk.regions) +
           " region(s) tried): it may have ended; else " + platform::RightsAdvice();
  }
  const int kernels = KernelAreaSearch.sightings;
  if (starts == 0 && ends == 0 && kernels > 1) {
    return NotOneRam(process + " holds no marker, and the console's kernel area " + Times(kernels),
                     KernelAreaSearch.privateSightings);
  }
  if (starts == 0 && ends == 0) {
    std::string reason = process + " holds no marker" +
                         (LastWalk.shortCopies > 0 ? " where it could be read" : "") +
                         ": is the marker program (TESSIL.EXE or TESSIL.ISO) running in the emulator?";
    if (!nameGiven)
      reason += " Pass the emulator's name or PID: with none given, the newest process is searched";
    return reason;
  }
  const std::string seen =
      process + " holds the start marker " + Times(starts) + " and the end marker " + Times(ends);
  if (starts > 1 || ends > 1) return NotOneRam(seen, LastWalk.privateSightings);
  return seen + ", not one RAM (2 MiB) apart: is the marker program running?";
}

}  // namespace

std::vector<std::string> NotFoundReasons(const std::string& emulatorName) {
  const std::string tool = std::string(platform::ToolName()) + ": ";
  if (!LastChoice.listed) return {tool + "the process list could not be read"};
  std::vector<std::string> reasons;
  const std::string wanted = TrimBlanks(emulatorName);
  const std::string process =
      "PID " + std::to_string(LastSearch.pid) + " (" + Printable(LastChoice.chosenName) + ")";
  if (!wanted.empty() && !LastChoice.matched) {
    std::string reason = tool + "no process has the name or PID \"" + Printable(wanted) + "\"";
    if (LastSearch.end != SearchNoProcess)
      reason += "; the newest process, " + process + ", was searched instead";
    reasons.push_back(reason);
  }
  switch (LastSearch.end) {
    case SearchNoProcess:
      if (wanted.empty()) reasons.push_back(tool + "there is no process to search but the tool itself");
      break;
    case SearchNotOpened:
      if (LastWalk.openError == platform::ERROR_ACCESS_DENIED) {
        reasons.push_back(tool + process + " could not be opened for reading: access denied; " +
                          platform::RightsAdvice());
      } else {
        reasons.push_back(tool + process +
                          " could not be opened: it has ended, or has no memory of its own to read");
      }
      break;
    case SearchStopped:
      reasons.push_back(tool + "the search of " + process +
                        " stopped early: " + Printable(LastSearch.failure));
      break;
    case SearchWalked: reasons.push_back(tool + WalkReason(process, !wanted.empty())); break;
  }
  return reasons;
}

std::string EndedReason(platform::DWORD pid, const std::string& name) {
  return platform::ToolName() + ": PID " + std::to_string(pid) + " (" + Printable(name) + ") has ended";
}
