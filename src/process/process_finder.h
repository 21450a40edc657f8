// Chooses the process whose memory the tool searches: by process ID, by
// executable name (exact, then case-insensitive), or the last listed process.
#pragma once

#include <string>
#include <vector>

#include "platform/process_services.h"

// The chosen process ID; 0 when no process can be chosen. Never the tool
// itself, nor a process it started.
platform::DWORD FindEmulatorProcess(const std::string& emulatorName);

// A listed process a watching run may choose.
struct Candidate {
  platform::DWORD pid;
  std::string name;
};

// The processes a watching run tries, in turn, until one holds a RAM: with a
// PID, that process; with a name, the processes of that name, newest first,
// exact matches before those whose letter case differs; with none, every
// process, newest first. Never the tool itself, nor a process it started.
// Nothing stands in for a name or PID that no process has. Notes in LastChoice
// whether the list was read and whether a process matched.
std::vector<Candidate> WatchCandidates(const std::string& emulatorName);

// What the last FindEmulatorProcess saw, for the reasons given when the answer is 0.
struct ProcessChoice {
  bool listed = false;     // the process list could be read
  bool matched = false;    // a process had the name or PID asked for
  std::string chosenName;  // the chosen process's executable name
};
extern ProcessChoice LastChoice;

// `text` without the blanks and control characters (codes up to 0x20) at both ends.
std::string TrimBlanks(const std::string& text);

// `text` with only "A".."Z" mapped to "a".."z".
std::string FoldCase(const std::string& text);
