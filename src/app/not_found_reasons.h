// Why the answer is 0, told by the 64-bit tools on standard error: one line
// per cause, each starting with the tool's name. The run notes how its search
// ended; the process choice, the walk and the sightings tell the rest.
#pragma once

#include <string>
#include <vector>

#include "platform/process_services.h"

enum SearchEnd {
  SearchNoProcess,  // no process could be chosen
  SearchNotOpened,  // the chosen process could not be opened
  SearchStopped,    // the walk was cut short by a failure
  SearchWalked,     // the walk went through
};

struct SearchNotes {
  SearchEnd end = SearchNoProcess;
  platform::DWORD pid = 0;  // the chosen process
  std::string failure;      // what cut the walk short
};
extern SearchNotes LastSearch;

// Walks process `pid`, noting in LastSearch its PID and how far the walk
// came: every failure in it ends the walk and nothing else.
void WalkNotingHowFar(platform::DWORD pid);

// What the 64-bit tools say, after the tool's name, where the RAM was found
// by the console's kernel area.
extern const char FoundByKernelAreaNote[];
// That note as the line standard error gets, the tool's name before it.
std::string FoundByKernelAreaLine();

// The reason lines, without line ends, for a run that asked for
// `emulatorName` and found nothing.
std::vector<std::string> NotFoundReasons(const std::string& emulatorName);

// The reason line, with the tool's name, where the process a watching run
// followed by its PID has ended.
std::string EndedReason(platform::DWORD pid, const std::string& name);
