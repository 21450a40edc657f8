// ReadProcessMemory and ReadProcessMemoryStretches: process_vm_readv as far
// as it goes (scattered stretches with a remote iovec each, so a piece whose
// touched pages lie apart costs one call), or /proc/PID/mem where that call
// is refused (a container's system-call filter), limited to the pages the
// target itself could read.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64  // /proc/PID/mem offsets reach 4 GiB on 32-bit hosts too
#endif

#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "platform/posix/internal.h"
#include "platform/stretches_one_by_one.h"

namespace platform {
namespace {

const std::size_t LargestTransfer = 0x40000000;  // per system call, below every size limit
// iovecs per process_vm_readv: the system's limit.
const int MostStretchesPerCall = IOV_MAX;

// How many bytes from `from` lie in readable mappings without a gap. Reads
// through /proc/PID/mem may reach pages that the process itself cannot read;
// this keeps them out, as process_vm_readv does.
std::size_t ReadableLength(posix::HandleRecord& process, std::uint64_t from, std::size_t length) {
  const std::vector<posix::Mapping>* maps = posix::CurrentMaps(process);
  if (maps == nullptr) return 0;
  std::uint64_t reached = from;
  for (auto mapping = posix::FirstEndingAbove(*maps, from); mapping != maps->end() && reached < from + length;
       ++mapping) {
    if (mapping->start > reached || !mapping->readable) break;
    reached = mapping->end;
  }
  return static_cast<std::size_t>(std::min<std::uint64_t>(reached - from, length));
}

// Copies with process_vm_readv as far as it goes; `refused` tells that the
// call itself is not allowed here, so that another way may be tried.
std::size_t CopyWithVmRead(const posix::HandleRecord& process, std::uint64_t base, char* buffer,
                           std::size_t size, bool& refused) {
  std::size_t done = 0;
  refused = false;
  while (done < size) {
    std::size_t part = std::min(size - done, LargestTransfer);
    iovec local = {buffer + done, part};
    iovec remote = {reinterpret_cast<void*>(static_cast<std::uintptr_t>(base + done)), part};
    ssize_t count = process_vm_readv(process.pid, &local, 1, &remote, 1, 0);
    if (count > 0) {
      done += static_cast<std::size_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    refused = count < 0 && (errno == EPERM || errno == ENOSYS);
    break;
  }
  return done;
}

std::size_t CopyWithProcMem(posix::HandleRecord& process, std::uint64_t base, char* buffer,
                            std::size_t size) {
  std::size_t readable = ReadableLength(process, base, size);
  std::size_t done = 0;
  while (done < readable) {
    std::size_t part = std::min(readable - done, LargestTransfer);
    ssize_t count = pread(process.memFd, buffer + done, part, static_cast<off_t>(base + done));
    if (count > 0) {
      done += static_cast<std::size_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    break;
  }
  return done;
}

// Copies the `count` stretches (at most MostStretchesPerCall) with one
// process_vm_readv, as far as it goes.
std::size_t CopyStretchesWithVmRead(const posix::HandleRecord& process, const MEMORY_STRETCH* stretches,
                                    int count, bool& refused) {
  iovec local[MostStretchesPerCall];
  iovec remote[MostStretchesPerCall];
  const unsigned long used = static_cast<unsigned long>(count);
  for (int i = 0; i < count; ++i) {
    local[i] = {stretches[i].buffer, static_cast<std::size_t>(stretches[i].size)};
    remote[i] = {reinterpret_cast<void*>(static_cast<std::uintptr_t>(stretches[i].base)),
                 static_cast<std::size_t>(stretches[i].size)};
  }
  for (;;) {
    const ssize_t copied = process_vm_readv(process.pid, local, used, remote, used, 0);
    if (copied < 0 && errno == EINTR) continue;
    refused = copied < 0 && (errno == EPERM || errno == ENOSYS);
    return copied < 0 ? 0 : static_cast<std::size_t>(copied);
  }
}

}  // namespace

// One call takes at most MostStretchesPerCall stretches, each in the address
// space and below the largest transfer. Where it can't be had, or comes back
// short, each stretch is read as ReadProcessMemory reads it, which tells where
// the reading stops (a short one is rare: the run it belongs to is dropped).
BOOL ReadProcessMemoryStretches(HANDLE hProcess, const MEMORY_STRETCH* stretches, int count,
                                SIZE_T* lpNumberOfBytesRead) {
  posix::HandleRecord* process = posix::FindLiveHandle(hProcess, posix::ProcessHandle);
  bool oneCall = process != nullptr && stretches != nullptr && count >= 0 && count <= MostStretchesPerCall;
  std::size_t wanted = 0;
  for (int i = 0; oneCall && i < count; ++i) {
    oneCall = stretches[i].size < LargestTransfer && stretches[i].base < posix::AddressSpaceEnd &&
              stretches[i].size <= posix::AddressSpaceEnd - stretches[i].base;
    wanted += static_cast<std::size_t>(stretches[i].size);
  }
  bool refused = true;
  if (oneCall && CopyStretchesWithVmRead(*process, stretches, count, refused) == wanted && !refused) {
    if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = static_cast<SIZE_T>(wanted);
    return TRUE;
  }
  return ReadStretchesOneByOne(hProcess, stretches, count, lpNumberOfBytesRead);
}

BOOL ReadProcessMemory(HANDLE hProcess, ULONG_PTR lpBaseAddress, void* lpBuffer, SIZE_T nSize,
                       SIZE_T* lpNumberOfBytesRead) {
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
  posix::HandleRecord* process = posix::FindLiveHandle(hProcess, posix::ProcessHandle);
  if (process == nullptr || (lpBuffer == nullptr && nSize != 0)) return FALSE;
  // Nothing past the reported address space is read.
  std::uint64_t base = lpBaseAddress;
  std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(nSize, posix::AddressSpaceEnd - base));
  char* buffer = static_cast<char*>(lpBuffer);
  bool refused = false;
  std::size_t copied = CopyWithVmRead(*process, base, buffer, size, refused);
  if (refused) copied += CopyWithProcMem(*process, base + copied, buffer + copied, size - copied);
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = static_cast<SIZE_T>(copied);
  // The memory changed since the maps were read (or was never there): read them again.
  if (copied != nSize) process->mapsCurrent = false;
  return copied == nSize ? TRUE : FALSE;
}

}  // namespace platform
