#include "app/answer.h"

#include "app/not_found_reasons.h"
#include "locator/kernel_search.h"
#include "locator/memory_scan.h"
#include "platform/address_width.h"
#include "process/process_finder.h"

Answer AnswerOfLastSearch(const std::string& emulatorName) {
  Answer answer;
  answer.pid = LastSearch.pid;
  answer.name = LastChoice.chosenName;
  bool byKernelArea = false;
  answer.found = EvaluateRamOfWalk(answer.address, byKernelArea);
  answer.foundBy = byKernelArea ? FoundByKernelArea : FoundByMarkers;
  answer.shortCopies = LastWalk.shortCopies;
  if (answer.found) {
    answer.views = LastWalk.ramViews.empty() ? std::vector<Address>{answer.address} : LastWalk.ramViews;
  } else if (platform::ExplainsNotFound) {
    answer.reasons = NotFoundReasons(emulatorName);
  }
  return answer;
}

bool AnswerChanged(const Answer& earlier, const Answer& later) {
  if (earlier.found != later.found) return true;
  return later.found && (earlier.pid != later.pid || earlier.startTime != later.startTime ||
                         earlier.address != later.address || earlier.foundBy != later.foundBy);
}
