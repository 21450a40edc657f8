// The process list: every process in /proc in the order they were started,
// behind a pseudo entry for PID 0 (where Windows lists its idle process), each
// named by its executable's file name; a Windows program under Wine by its
// own file name, as Windows would list it.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/posix/internal.h"

namespace platform {
namespace {

const char DeletedSuffix[] = " (deleted)";
const char IdleProcessName[] = "[System Process]";
// The executables of Wine's loader, in all the forms Wine's packages have had.
const char* const WineLoaderNames[] = {"wine", "wine64", "wine-preloader", "wine64-preloader"};

bool IsWineLoader(const std::string& name) {
  for (const char* loader : WineLoaderNames) {
    if (name == loader) return true;
  }
  return false;
}

// Wine puts the path of the Windows program first in its process's command
// line: a Windows path where Windows started it, the Unix one where a shell
// did. Its file name, after the last backslash or slash; empty when there is
// none to read.
std::string WindowsProgramName(DWORD pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%" PRIu32 "/cmdline", pid);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  std::string program;
  char chunk[4096];
  ssize_t count;
  while (program.find('\0') == std::string::npos && (count = read(fd, chunk, sizeof chunk)) > 0) {
    program.append(chunk, static_cast<std::size_t>(count));
  }
  close(fd);
  program.resize(std::min(program.size(), program.find('\0')));  // the first argument alone
  return program.substr(program.find_last_of("\\/") + 1);        // npos + 1 is 0: no folder
}

// The last part of the exe link (for Wine's loader, its Windows program's), or
// the kernel's short name where the link cannot be read (kernel threads, other
// users).
void FillExeName(DWORD pid, const std::string& shortName, char (&exeFile)[MAX_PATH]) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%" PRIu32 "/exe", pid);
  char target[4096];
  ssize_t length = readlink(path, target, sizeof target);
  std::string name;
  if (length > 0 && static_cast<std::size_t>(length) < sizeof target) {
    name.assign(target, static_cast<std::size_t>(length));
    const std::size_t suffixLength = sizeof DeletedSuffix - 1;
    if (name.size() > suffixLength &&
        name.compare(name.size() - suffixLength, suffixLength, DeletedSuffix) == 0) {
      name.erase(name.size() - suffixLength);
    }
    std::size_t slash = name.rfind('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
  }
  if (IsWineLoader(name)) {
    const std::string program = WindowsProgramName(pid);
    if (!program.empty()) name = program;
  }
  if (name.empty()) name = shortName;
  std::size_t kept = std::min(name.size(), static_cast<std::size_t>(MAX_PATH - 1));
  std::memcpy(exeFile, name.data(), kept);
  exeFile[kept] = '\0';
}

bool ParsePid(const char* text, DWORD& pid) {
  if (*text < '1' || *text > '9') return false;
  unsigned long long value = 0;
  for (const char* digit = text; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9') return false;
    value = value * 10 + static_cast<unsigned>(*digit - '0');
    if (value > 0xFFFFFFFFu) return false;
  }
  pid = static_cast<DWORD>(value);
  return true;
}

struct ListedProcess {
  unsigned long long startTime;
  PROCESSENTRY32 entry;
};

bool StartedEarlier(const ListedProcess& left, const ListedProcess& right) {
  if (left.startTime != right.startTime) return left.startTime < right.startTime;
  return left.entry.th32ProcessID < right.entry.th32ProcessID;
}

PROCESSENTRY32 BlankEntry() {
  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  entry.pcPriClassBase = 8;  // the base priority of a normal process
  return entry;
}

// Every process in /proc, earliest started first. A process that ends while
// the list is read is left out.
bool ListProcesses(std::vector<PROCESSENTRY32>& entries) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return false;
  std::vector<ListedProcess> listed;
  while (dirent* item = readdir(proc)) {
    ListedProcess process;
    process.entry = BlankEntry();
    DWORD pid = 0;
    if (!ParsePid(item->d_name, pid)) continue;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%" PRIu32 "/stat", pid);
    posix::StatFields stat;
    if (!posix::ReadStat(AT_FDCWD, path, stat)) continue;
    process.startTime = stat.startTime;
    process.entry.th32ProcessID = pid;
    process.entry.th32ParentProcessID = stat.parentPid;
    process.entry.cntThreads = stat.threadCount;
    FillExeName(pid, stat.shortName, process.entry.szExeFile);
    listed.push_back(process);
  }
  closedir(proc);
  std::sort(listed.begin(), listed.end(), StartedEarlier);

  PROCESSENTRY32 idle = BlankEntry();
  idle.cntThreads = posix::ProcessorCount();
  idle.pcPriClassBase = 0;
  std::memcpy(idle.szExeFile, IdleProcessName, sizeof IdleProcessName);
  entries.assign(1, idle);
  for (const ListedProcess& process : listed) entries.push_back(process.entry);
  return true;
}

BOOL CopyNextEntry(HANDLE snapshot, PROCESSENTRY32* entry, bool fromStart) {
  posix::HandleRecord* record = posix::FindLiveHandle(snapshot, posix::SnapshotHandle);
  if (record == nullptr || entry == nullptr || entry->dwSize != sizeof(PROCESSENTRY32)) return FALSE;
  if (fromStart) record->nextEntry = 0;
  if (record->nextEntry >= record->entries.size()) return FALSE;
  *entry = record->entries[record->nextEntry++];
  return TRUE;
}

}  // namespace

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

HANDLE CreateToolhelp32Snapshot(DWORD dwFlags, DWORD /*th32ProcessID*/) {
  if ((dwFlags & TH32CS_SNAPPROCESS) == 0) return InvalidHandleValue();
  posix::HandleRecord* record = new posix::HandleRecord();
  record->kind = posix::SnapshotHandle;
  record->nextEntry = 0;
  if (!ListProcesses(record->entries)) {
    delete record;
    return InvalidHandleValue();
  }
  return posix::AddLiveHandle(record);
}

BOOL Process32First(HANDLE hSnapshot, PROCESSENTRY32* lppe) { return CopyNextEntry(hSnapshot, lppe, true); }

BOOL Process32Next(HANDLE hSnapshot, PROCESSENTRY32* lppe) { return CopyNextEntry(hSnapshot, lppe, false); }

}  // namespace platform
