#include "process/process_finder.h"

#include <cstring>

using namespace platform;

ProcessChoice LastChoice;

std::string TrimBlanks(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20) --end;
  return text.substr(begin, end - begin);
}

std::string FoldCase(const std::string& text) {
  std::string folded = text;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

namespace {

// Opens the process list and returns whether it has an entry, `entry` the
// first that can be an emulator: Windows lists its idle process (PID 0)
// first, which never is, not even for the name "0". Under Wine there is none:
// there the first entry is the first program started in the prefix, often the
// emulator. Starts LastChoice afresh, noting whether the list could be read.
bool OpenProcessList(HANDLE& snapshot, PROCESSENTRY32& entry) {
  snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  LastChoice = ProcessChoice();
  LastChoice.listed = snapshot != InvalidHandleValue();
  bool more = Process32First(snapshot, &entry) != FALSE;
  if (more && entry.th32ProcessID == 0) more = Process32Next(snapshot, &entry) != FALSE;
  return more;
}

}  // namespace

DWORD FindEmulatorProcess(const std::string& emulatorName) {
  const DWORD ownPid = GetCurrentProcessId();
  const std::string wanted = TrimBlanks(emulatorName);
  const std::string wantedLower = FoldCase(wanted);

  HANDLE snapshot = nullptr;
  PROCESSENTRY32 entry;
  DWORD selected = 0;
  DWORD lastPid = 0;
  std::string lastName;
  for (bool more = OpenProcessList(snapshot, entry); more; more = Process32Next(snapshot, &entry) != FALSE) {
    // Neither the tool nor what was started for it (the console host that
    // Windows creates for a console program) is ever the emulator; such a
    // child, listed after the tool, would otherwise be the default choice.
    if (entry.th32ProcessID == ownPid || entry.th32ParentProcessID == ownPid) continue;
    const std::string lastExe(entry.szExeFile, strnlen(entry.szExeFile, sizeof entry.szExeFile));
    lastPid = entry.th32ProcessID;
    lastName = lastExe;
    const std::string pidText = std::to_string(lastPid);
    if (pidText == wanted || lastExe == wanted) {
      selected = lastPid;
      LastChoice.chosenName = lastExe;
      break;
    }
    // The first loose match is kept; a later exact match may still replace it.
    if (selected == 0 && FoldCase(lastExe) == wantedLower) {
      selected = lastPid;
      LastChoice.chosenName = lastExe;
    }
  }
  LastChoice.matched = selected != 0;
  if (selected == 0) {
    selected = lastPid;
    LastChoice.chosenName = lastName;
  }
  CloseHandle(snapshot);
  return selected;
}

std::vector<Candidate> WatchCandidates(const std::string& emulatorName) {
  const DWORD ownPid = GetCurrentProcessId();
  const std::string wanted = TrimBlanks(emulatorName);
  HANDLE snapshot = nullptr;
  PROCESSENTRY32 entry;
  std::vector<Candidate> exact;
  std::vector<Candidate> loose;
  for (bool more = OpenProcessList(snapshot, entry); more; more = Process32Next(snapshot, &entry) != FALSE) {
    if (entry.th32ProcessID == ownPid || entry.th32ParentProcessID == ownPid) continue;
    const Candidate listed = {entry.th32ProcessID,
                              std::string(entry.szExeFile, strnlen(entry.szExeFile, sizeof entry.szExeFile))};
    if (wanted.empty() || std::to_string(listed.pid) == wanted || listed.name == wanted) {
      exact.insert(exact.begin(), listed);
    } else if (FoldCase(listed.name) == FoldCase(wanted)) {
      loose.insert(loose.begin(), listed);
    }
  }
  CloseHandle(snapshot);
  exact.insert(exact.end(), loose.begin(), loose.end());
  LastChoice.matched = !exact.empty() && !wanted.empty();
  return exact;
}
