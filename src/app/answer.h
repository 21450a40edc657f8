// One answer of the tool, as a watching run compares answers and as --json
// writes them: which process, whether and where its RAM was found, and how.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "locator/markers.h"
#include "platform/process_services.h"

// What proved the RAM: its two markers, or the console's kernel area in it.
enum FoundBy { FoundByMarkers, FoundByKernelArea };

struct Answer {
  platform::DWORD pid = 0;      // the process searched; 0 where there was none
  std::uint64_t startTime = 0;  // when it started (watching runs only)
  std::string name;             // its executable name
  bool found = false;
  Address address = 0;  // the RAM's base where found, else 0
  FoundBy foundBy = FoundByMarkers;
  std::vector<Address> views;        // the views of the RAM seen (one, where it was seen once)
  int shortCopies = 0;               // regions that could not be copied whole
  std::vector<std::string> reasons;  // why not found, each line as standard error shows it
};

// The answer of the search just made, from what it left behind (the chosen
// process, the slots, the walk), for a run that asked for `emulatorName`.
Answer AnswerOfLastSearch(const std::string& emulatorName);

// Whether `later` is news after `earlier`: found or lost, or found in another
// process or at another place. Answers that both found nothing are the same.
bool AnswerChanged(const Answer& earlier, const Answer& later);
