#include "app/watch.h"

#include "app/answer.h"
#include "app/answer_json.h"
#include "app/not_found_reasons.h"
#include "app/result_format.h"
#include "locator/kernel_area.h"
#include "locator/kernel_search.h"
#include "locator/markers.h"
#include "locator/memory_scan.h"
#include "platform/console.h"
#include "platform/output_lines.h"
#include "process/process_finder.h"

namespace {

// While nothing is found, the processes are walked again at most this often:
// a walk costs far more than a check.
const std::uint64_t WalkSpacingMs = 1000;

RunSettings Watch;

// Whether the name given is a process ID: then the run ends with that process.
bool NamesAPid(const std::string& name) {
  const std::string wanted = TrimBlanks(name);
  return !wanted.empty() && wanted.find_first_not_of("0123456789") == std::string::npos;
}

// Walks one process as a single run walks the one it chose: every failure
// ends the walk and nothing else.
Answer WalkCandidate(const Candidate& candidate) {
  ClearFoundSlots();
  LastSearch = SearchNotes();
  LastChoice.chosenName = candidate.name;
  std::uint64_t started = 0;
  platform::GetProcessStartTime(candidate.pid, &started);
  WalkNotingHowFar(candidate.pid);
  Answer answer = AnswerOfLastSearch(Watch.EmulatorName);
  answer.startTime = started;
  return answer;
}

// The candidates in turn, until one holds a RAM; where none does, the answer
// about the first (the newest), or about there being none.
Answer SearchCandidates() {
  const std::vector<Candidate> candidates = WatchCandidates(Watch.EmulatorName);
  Answer first;
  for (size_t i = 0; i < candidates.size(); ++i) {
    Answer answer = WalkCandidate(candidates[i]);
    if (answer.found) return answer;
    if (i == 0) first = answer;
  }
  if (candidates.empty()) {
    ClearFoundSlots();
    LastSearch = SearchNotes();
    first = AnswerOfLastSearch(Watch.EmulatorName);
  }
  return first;
}

// Whether the process of the answer still runs: its ID, and no other process
// given that ID since.
bool SameProcessRuns(const Answer& answer) {
  std::uint64_t started = 0;
  return platform::GetProcessStartTime(answer.pid, &started) != platform::FALSE &&
         started == answer.startTime;
}

// The cheap check between changes: the same process, and what proved its RAM
// still there.
bool StillHolds(const Answer& answer) {
  if (!SameProcessRuns(answer)) return false;
  switch (answer.foundBy) {
    case FoundByMarkers: return RamMarkersStillAt(WalkedProcess, answer.address);
    case FoundByKernelArea: return KernelAreaAt(WalkedProcess, answer.address);
  }
  return false;
}

void Show(const Answer& answer) {
  WriteOutputLine(Watch.Json ? AnswerJson(answer, Watch.OutputType)
                             : FormatResult(answer.address, Watch.OutputType));
  FlushOutput();
  std::string text;
  for (const std::string& reason : answer.reasons) text += reason + platform::LineEnd();
  if (answer.found && answer.foundBy == FoundByKernelArea) text = FoundByKernelAreaLine();
  if (!text.empty()) platform::WriteStandardError(text);
}

// The answer once the process of the PID given has ended.
Answer Ended(const Answer& last) {
  Answer ended;
  ended.pid = last.pid;
  ended.name = last.name;
  ended.reasons = {EndedReason(last.pid, last.name)};
  return ended;
}

}  // namespace

int WatchRam(const RunSettings& settings) {
  Watch = settings;
  WritesErrLines = false;
  platform::CatchStopRequests();
  BuildMarkerWords();
  const bool byPid = NamesAPid(Watch.EmulatorName);
  Answer shown;
  bool shownOnce = false;
  std::uint64_t lastWalk = 0;
  for (;;) {
    if (byPid && shownOnce && !SameProcessRuns(shown)) {
      if (shown.found) Show(Ended(shown));
      return 0;
    }
    Answer now = shown;
    if (shownOnce && shown.found && StillHolds(shown)) {
      // Nothing changed: the cheap check holds.
    } else if (!shownOnce || shown.found || platform::MonotonicMilliseconds() - lastWalk >= WalkSpacingMs) {
      lastWalk = platform::MonotonicMilliseconds();
      now = SearchCandidates();
    }
    if (!shownOnce || AnswerChanged(shown, now)) Show(now);
    shown = now;
    shownOnce = true;
    // A PID that no process has: nothing to wait for.
    if (byPid && shown.pid == 0) return 0;
    if (platform::SleepUnlessStopped(Watch.IntervalMs) == platform::FALSE) return 0;
  }
}
