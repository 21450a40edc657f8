// Snapshot and process handles: every handle given out is on the LiveHandles
// list until CloseHandle, so a handle can be checked without touching memory
// it might not point to. A process handle holds /proc/PID open, so that it
// keeps naming that very process.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "platform/posix/internal.h"

namespace platform {
namespace posix {
namespace {

const DWORD PF_KTHREAD = 0x00200000;  // the kernel's per-task flag for its own threads

HandleRecord* LiveHandles = nullptr;

// Why the last OpenProcess gave no handle, as Windows would say it.
DWORD LastError = 0;

HANDLE Refuse(DWORD error, int dirFd) {
  if (dirFd >= 0) close(dirFd);
  LastError = error;
  return nullptr;
}

}  // namespace

HandleRecord* FindLiveHandle(HANDLE handle, HandleKind kind) {
  for (HandleRecord* record = LiveHandles; record != nullptr; record = record->nextLive) {
    if (record == handle) return record->kind == kind ? record : nullptr;
  }
  return nullptr;
}

HANDLE AddLiveHandle(HandleRecord* record) {
  record->nextLive = LiveHandles;
  LiveHandles = record;
  return record;
}

}  // namespace posix

HANDLE InvalidHandleValue() { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)); }

BOOL CloseHandle(HANDLE hObject) {
  for (posix::HandleRecord** link = &posix::LiveHandles; *link != nullptr; link = &(*link)->nextLive) {
    posix::HandleRecord* record = *link;
    if (record != hObject) continue;
    *link = record->nextLive;
    if (record->kind == posix::ProcessHandle) {
      close(record->memFd);
      if (record->pagemapFd >= 0) close(record->pagemapFd);
      close(record->procDirFd);
    }
    delete record;
    return TRUE;
  }
  return FALSE;
}

HANDLE OpenProcess(DWORD /*dwDesiredAccess*/, BOOL /*bInheritHandle*/, DWORD dwProcessId) {
  if (dwProcessId == 0 || dwProcessId > 0x7FFFFFFFu) return posix::Refuse(ERROR_INVALID_PARAMETER, -1);
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%" PRIu32, dwProcessId);
  int dirFd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return posix::Refuse(ERROR_INVALID_PARAMETER, -1);
  // A process that has ended (a zombie) or a kernel thread has no memory to read.
  posix::StatFields stat;
  if (!posix::ReadStat(dirFd, "stat", stat) || stat.state == 'Z' || stat.state == 'X' ||
      (stat.flags & posix::PF_KTHREAD) != 0) {
    return posix::Refuse(ERROR_INVALID_PARAMETER, dirFd);
  }
  // Opening mem makes the kernel check that we may read the process.
  int memFd = openat(dirFd, "mem", O_RDONLY | O_CLOEXEC);
  if (memFd < 0) {
    return posix::Refuse(errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER,
                         dirFd);
  }
  posix::HandleRecord* record = new posix::HandleRecord();
  record->kind = posix::ProcessHandle;
  record->nextEntry = 0;
  record->pid = static_cast<pid_t>(dwProcessId);
  record->procDirFd = dirFd;
  record->memFd = memFd;
  // Which pages are touched; without it every page is read, as where the system can't tell.
  record->pagemapFd = openat(dirFd, "pagemap", O_RDONLY | O_CLOEXEC);
  return posix::AddLiveHandle(record);
}

DWORD GetLastError() { return posix::LastError; }

}  // namespace platform
