// The process and memory services answered from /proc, for the Linux build.
// Processes are listed in the order they were started, behind a pseudo entry
// for PID 0 (where Windows lists its idle process). Regions are the lines of
// /proc/PID/maps below the top of the address space the build's addresses
// reach (4 GiB at 32 bits, all of user space at 64); reads go through
// process_vm_readv, or /proc/PID/mem where that call is refused.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64  // /proc/PID/mem offsets reach 4 GiB on 32-bit hosts too
#endif

#include "platform/process_services.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace platform {
namespace {

// Regions are reported up to the end of what an address of the build's width
// reaches: 4 GiB at 32 bits, where a region that ends there makes BaseAddress +
// RegionSize wrap to 0, which a walk must take as its end; at 64 bits the top
// of x86-64 user space with five-level paging (2^56), above which the kernel
// lists only its own vsyscall page.
const std::uint64_t AddressSpaceEnd = MIRVANE_ADDRESS_BITS == 32 ? 0x100000000ull : 0x100000000000000ull;
const ULONG_PTR LowestApplicationAddress = 0x10000;
const DWORD AllocationGranularity = 0x10000;
const std::size_t HugePageSize = 0x200000;
const std::size_t LargestTransfer = 0x40000000;  // per system call, below every size limit

const DWORD PAGE_EXECUTE = 0x10;
const DWORD PAGE_EXECUTE_READ = 0x20;
const DWORD PAGE_EXECUTE_READWRITE = 0x40;
const DWORD PF_KTHREAD = 0x00200000;  // the kernel's per-task flag for its own threads
const char DeletedSuffix[] = " (deleted)";
const char IdleProcessName[] = "[System Process]";

enum HandleKind { SnapshotHandle = 1, ProcessHandle = 2 };

// Every handle given out is on the LiveHandles list until CloseHandle, so a
// handle can be checked without touching memory it might not point to.
struct HandleRecord {
  HandleKind kind;
  HandleRecord* nextLive;
  std::vector<PROCESSENTRY32> entries;  // snapshot: the list, in order
  std::size_t nextEntry;                // snapshot: what Process32Next returns
  pid_t pid;                            // process
  int procDirFd;                        // process: /proc/PID, bound to that very process
  int memFd;                            // process: /proc/PID/mem
};

HandleRecord* LiveHandles = nullptr;

// The page in front of each VirtualAlloc buffer holds its header; the headers
// form the LiveAllocations list, so VirtualFree can check what it is given.
struct AllocationHeader {
  AllocationHeader* nextLive;
  void* buffer;
  void* mapping;
  std::size_t mappingLength;
};

AllocationHeader* LiveAllocations = nullptr;
// The last released buffer, kept mapped for the next one of no larger size:
// the walk releases each region's copy before it allocates the next, and
// fresh pages cost the kernel a zeroing on first touch. At most one is kept,
// and it goes before a larger buffer is mapped, so there is never more than
// one copy buffer's worth of memory.
AllocationHeader* IdleAllocation = nullptr;

void UnmapAllocation(AllocationHeader* header) {
  void* mapping = header->mapping;
  std::size_t length = header->mappingLength;  // the header goes with the mapping
  munmap(mapping, length);
}

struct StatFields {
  std::string shortName;  // the kernel's name between the parentheses
  char state;
  DWORD parentPid;
  DWORD flags;
  DWORD threadCount;
  unsigned long long startTime;
};

struct Mapping {
  std::uint64_t start;
  std::uint64_t end;
  bool readable;
  bool writable;
  bool executable;
  bool fileBacked;
};

// Reads /proc/PID/maps line by line, so a query can stop at the address it asked for.
struct MapsReader {
  int fd;
  std::string text;
  std::size_t parsed;
  bool atEnd;
};

enum MapsResult { MapsLine, MapsEnd, MapsError };

std::size_t PageSize() {
  long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<std::size_t>(size) : 4096;
}

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

bool ReadSmallFile(int dirFd, const char* path, std::string& content) {
  int fd = openat(dirFd, path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  content.clear();
  char chunk[4096];
  for (;;) {
    ssize_t count = read(fd, chunk, sizeof chunk);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      close(fd);
      return count == 0;
    }
    content.append(chunk, static_cast<std::size_t>(count));
  }
}

// The fields of a stat line; the short name may hold blanks and parentheses,
// so the numbered fields are counted from after the last ')'.
bool ReadStat(int dirFd, const char* path, StatFields& stat) {
  std::string line;
  if (!ReadSmallFile(dirFd, path, line)) return false;
  std::size_t nameStart = line.find('(');
  std::size_t nameEnd = line.rfind(')');
  if (nameStart == std::string::npos || nameEnd == std::string::npos || nameEnd < nameStart) return false;
  stat.shortName = line.substr(nameStart + 1, nameEnd - nameStart - 1);
  std::vector<unsigned long long> numbers;  // fields 4 onward
  const char* cursor = line.c_str() + nameEnd + 1;
  while (*cursor == ' ') ++cursor;
  if (*cursor == '\0') return false;
  stat.state = *cursor++;
  while (numbers.size() < 20) {
    char* after = nullptr;
    errno = 0;
    unsigned long long number = std::strtoull(cursor, &after, 10);
    if (after == cursor || errno != 0) break;
    numbers.push_back(number);
    cursor = after;
  }
  if (numbers.size() < 19) return false;
  stat.parentPid = static_cast<DWORD>(numbers[0]);     // field 4
  stat.flags = static_cast<DWORD>(numbers[5]);         // field 9
  stat.threadCount = static_cast<DWORD>(numbers[16]);  // field 20
  stat.startTime = numbers[18];                        // field 22
  return true;
}

// The executable's file name: the last part of the exe link, or the kernel's
// short name where the link cannot be read (kernel threads, other users).
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
  if (name.empty()) name = shortName;
  std::size_t kept = std::min(name.size(), static_cast<std::size_t>(MAX_PATH - 1));
  std::memcpy(exeFile, name.data(), kept);
  exeFile[kept] = '\0';
}

DWORD ProcessorCount() {
  long count = sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<DWORD>(count) : 1;
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
    StatFields stat;
    if (!ReadStat(AT_FDCWD, path, stat)) continue;
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
  idle.cntThreads = ProcessorCount();
  idle.pcPriClassBase = 0;
  std::memcpy(idle.szExeFile, IdleProcessName, sizeof IdleProcessName);
  entries.assign(1, idle);
  for (const ListedProcess& process : listed) entries.push_back(process.entry);
  return true;
}

BOOL CopyNextEntry(HANDLE snapshot, PROCESSENTRY32* entry, bool fromStart) {
  HandleRecord* record = FindLiveHandle(snapshot, SnapshotHandle);
  if (record == nullptr || entry == nullptr || entry->dwSize != sizeof(PROCESSENTRY32)) return FALSE;
  if (fromStart) record->nextEntry = 0;
  if (record->nextEntry >= record->entries.size()) return FALSE;
  *entry = record->entries[record->nextEntry++];
  return TRUE;
}

bool OpenMaps(const HandleRecord& process, MapsReader& reader) {
  reader.fd = openat(process.procDirFd, "maps", O_RDONLY | O_CLOEXEC);
  reader.text.clear();
  reader.parsed = 0;
  reader.atEnd = false;
  return reader.fd >= 0;
}

bool ParseMapsLine(char* line, Mapping& mapping) {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  std::uint64_t inode = 0;
  char perms[5] = {};
  if (std::sscanf(line, "%" SCNx64 "-%" SCNx64 " %4s %*s %*s %" SCNu64, &start, &end, perms, &inode) != 4 ||
      end <= start) {
    return false;
  }
  mapping.start = start;
  mapping.end = end;
  mapping.readable = perms[0] == 'r';
  mapping.writable = perms[1] == 'w';
  mapping.executable = perms[2] == 'x';
  mapping.fileBacked = inode != 0;
  return true;
}

MapsResult NextMapping(MapsReader& reader, Mapping& mapping) {
  for (;;) {
    std::size_t lineEnd = reader.text.find('\n', reader.parsed);
    if (lineEnd != std::string::npos) {
      reader.text[lineEnd] = '\0';
      char* line = &reader.text[reader.parsed];
      reader.parsed = lineEnd + 1;
      return ParseMapsLine(line, mapping) ? MapsLine : MapsError;
    }
    if (reader.atEnd) return reader.parsed == reader.text.size() ? MapsEnd : MapsError;
    reader.text.erase(0, reader.parsed);
    reader.parsed = 0;
    char chunk[16384];
    ssize_t count = read(reader.fd, chunk, sizeof chunk);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return MapsError;
    if (count == 0) reader.atEnd = true;
    reader.text.append(chunk, static_cast<std::size_t>(count));
  }
}

DWORD ProtectionOf(const Mapping& mapping) {
  if (mapping.executable) {
    if (mapping.writable) return PAGE_EXECUTE_READWRITE;
    return mapping.readable ? PAGE_EXECUTE_READ : PAGE_EXECUTE;
  }
  if (mapping.writable) return PAGE_READWRITE;  // write-only pages read as well
  return mapping.readable ? PAGE_READONLY : PAGE_NOACCESS;
}

// How many bytes from `from` lie in readable mappings without a gap. Reads
// through /proc/PID/mem may reach pages that the process itself cannot read;
// this keeps them out, as process_vm_readv does.
std::size_t ReadableLength(const HandleRecord& process, std::uint64_t from, std::size_t length) {
  MapsReader reader;
  if (!OpenMaps(process, reader)) return 0;
  std::uint64_t reached = from;
  Mapping mapping;
  while (reached < from + length && NextMapping(reader, mapping) == MapsLine) {
    if (mapping.end <= reached) continue;
    if (mapping.start > reached || !mapping.readable) break;
    reached = mapping.end;
  }
  close(reader.fd);
  return static_cast<std::size_t>(std::min<std::uint64_t>(reached - from, length));
}

// Copies with process_vm_readv as far as it goes; `refused` tells that the
// call itself is not allowed here, so that another way may be tried.
std::size_t CopyWithVmRead(const HandleRecord& process, std::uint64_t base, char* buffer, std::size_t size,
                           bool& refused) {
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

std::size_t CopyWithProcMem(const HandleRecord& process, std::uint64_t base, char* buffer, std::size_t size) {
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

void FillRegion(MEMORY_BASIC_INFORMATION& region, std::uint64_t base, std::uint64_t end) {
  // All of the 4 GiB does not fit a 32-bit size: the last page becomes a region of its own.
  if (end - base > static_cast<SIZE_T>(~static_cast<SIZE_T>(0))) end -= PageSize();
  std::memset(&region, 0, sizeof region);
  region.BaseAddress = static_cast<ULONG_PTR>(base);
  region.RegionSize = static_cast<SIZE_T>(end - base);
}

}  // namespace

HANDLE InvalidHandleValue() { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)); }

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

HANDLE CreateToolhelp32Snapshot(DWORD dwFlags, DWORD /*th32ProcessID*/) {
  if ((dwFlags & TH32CS_SNAPPROCESS) == 0) return InvalidHandleValue();
  HandleRecord* record = new HandleRecord();
  record->kind = SnapshotHandle;
  record->nextEntry = 0;
  if (!ListProcesses(record->entries)) {
    delete record;
    return InvalidHandleValue();
  }
  return AddLiveHandle(record);
}

BOOL Process32First(HANDLE hSnapshot, PROCESSENTRY32* lppe) { return CopyNextEntry(hSnapshot, lppe, true); }

BOOL Process32Next(HANDLE hSnapshot, PROCESSENTRY32* lppe) { return CopyNextEntry(hSnapshot, lppe, false); }

BOOL CloseHandle(HANDLE hObject) {
  for (HandleRecord** link = &LiveHandles; *link != nullptr; link = &(*link)->nextLive) {
    HandleRecord* record = *link;
    if (record != hObject) continue;
    *link = record->nextLive;
    if (record->kind == ProcessHandle) {
      close(record->memFd);
      close(record->procDirFd);
    }
    delete record;
    return TRUE;
  }
  return FALSE;
}

HANDLE OpenProcess(DWORD /*dwDesiredAccess*/, BOOL /*bInheritHandle*/, DWORD dwProcessId) {
  if (dwProcessId == 0 || dwProcessId > 0x7FFFFFFFu) return nullptr;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%" PRIu32, dwProcessId);
  int dirFd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return nullptr;
  // A process that has ended (a zombie) or a kernel thread has no memory to read.
  StatFields stat;
  if (!ReadStat(dirFd, "stat", stat) || stat.state == 'Z' || stat.state == 'X' ||
      (stat.flags & PF_KTHREAD) != 0) {
    close(dirFd);
    return nullptr;
  }
  // Opening mem makes the kernel check that we may read the process.
  int memFd = openat(dirFd, "mem", O_RDONLY | O_CLOEXEC);
  if (memFd < 0) {
    close(dirFd);
    return nullptr;
  }
  HandleRecord* record = new HandleRecord();
  record->kind = ProcessHandle;
  record->nextEntry = 0;
  record->pid = static_cast<pid_t>(dwProcessId);
  record->procDirFd = dirFd;
  record->memFd = memFd;
  return AddLiveHandle(record);
}

void GetSystemInfo(SYSTEM_INFO* lpSystemInfo) {
  if (lpSystemInfo == nullptr) return;
  std::memset(lpSystemInfo, 0, sizeof *lpSystemInfo);
  DWORD processors = ProcessorCount();
  // x86 as a 32-bit process sees the machine, else x86-64.
  lpSystemInfo->wProcessorArchitecture = MIRVANE_ADDRESS_BITS == 32 ? 0 : 9;
  lpSystemInfo->dwPageSize = static_cast<DWORD>(PageSize());
  lpSystemInfo->lpMinimumApplicationAddress = LowestApplicationAddress;
  lpSystemInfo->lpMaximumApplicationAddress = static_cast<ULONG_PTR>(AddressSpaceEnd - 1);
  lpSystemInfo->dwActiveProcessorMask =
      processors >= 32 ? 0xFFFFFFFFu : (static_cast<ULONG_PTR>(1) << processors) - 1;
  lpSystemInfo->dwNumberOfProcessors = processors;
  lpSystemInfo->dwProcessorType = 586;
  lpSystemInfo->dwAllocationGranularity = AllocationGranularity;
  lpSystemInfo->wProcessorLevel = 6;
}

SIZE_T VirtualQueryEx(HANDLE hProcess, ULONG_PTR lpAddress, MEMORY_BASIC_INFORMATION* lpBuffer,
                      SIZE_T dwLength) {
  HandleRecord* process = FindLiveHandle(hProcess, ProcessHandle);
  if (process == nullptr || lpBuffer == nullptr || dwLength < sizeof(MEMORY_BASIC_INFORMATION)) {
    return 0;
  }
  MapsReader reader;
  if (!OpenMaps(*process, reader)) return 0;
  const std::uint64_t page = lpAddress & ~static_cast<std::uint64_t>(PageSize() - 1);
  std::uint64_t freeEnd = AddressSpaceEnd;
  Mapping mapping;
  MapsResult result;
  while ((result = NextMapping(reader, mapping)) == MapsLine) {
    if (mapping.start >= AddressSpaceEnd) break;
    if (mapping.end <= page) continue;
    if (mapping.start > page) {
      freeEnd = mapping.start;
      break;
    }
    // Each maps line is a region of its own, even where its neighbour looks alike.
    close(reader.fd);
    FillRegion(*lpBuffer, page, std::min(mapping.end, AddressSpaceEnd));
    bool accessible = mapping.readable || mapping.writable || mapping.executable;
    lpBuffer->AllocationBase = static_cast<ULONG_PTR>(mapping.start);
    lpBuffer->AllocationProtect = ProtectionOf(mapping);
    lpBuffer->State = accessible ? MEM_COMMIT : MEM_RESERVE;
    lpBuffer->Protect = accessible ? ProtectionOf(mapping) : 0;
    lpBuffer->Type = mapping.fileBacked ? MEM_MAPPED : MEM_PRIVATE;
    return sizeof(MEMORY_BASIC_INFORMATION);
  }
  close(reader.fd);
  if (result == MapsError) return 0;
  FillRegion(*lpBuffer, page, freeEnd);
  lpBuffer->State = MEM_FREE;
  lpBuffer->Protect = PAGE_NOACCESS;
  return sizeof(MEMORY_BASIC_INFORMATION);
}

BOOL ReadProcessMemory(HANDLE hProcess, ULONG_PTR lpBaseAddress, void* lpBuffer, SIZE_T nSize,
                       SIZE_T* lpNumberOfBytesRead) {
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
  HandleRecord* process = FindLiveHandle(hProcess, ProcessHandle);
  if (process == nullptr || (lpBuffer == nullptr && nSize != 0)) return FALSE;
  // Nothing past the reported address space is read.
  std::uint64_t base = lpBaseAddress;
  std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(nSize, AddressSpaceEnd - base));
  char* buffer = static_cast<char*>(lpBuffer);
  bool refused = false;
  std::size_t copied = CopyWithVmRead(*process, base, buffer, size, refused);
  if (refused) copied += CopyWithProcMem(*process, base + copied, buffer + copied, size - copied);
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = static_cast<SIZE_T>(copied);
  return copied == nSize ? TRUE : FALSE;
}

// The buffer starts on a 2 MiB boundary, with its header in the page before,
// so that transparent huge pages can back it.
void* VirtualAlloc(void* lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect) {
  if (lpAddress != nullptr || dwSize == 0 || (flAllocationType & MEM_COMMIT) == 0 ||
      flProtect != PAGE_READWRITE) {
    return nullptr;
  }
  const std::size_t page = PageSize();
  const std::size_t size = static_cast<std::size_t>(dwSize);
  if (size > SIZE_MAX - HugePageSize - 2 * page) return nullptr;
  const std::size_t bufferLength = (size + page - 1) & ~(page - 1);
  if (IdleAllocation != nullptr) {
    AllocationHeader* idle = IdleAllocation;
    IdleAllocation = nullptr;
    if (idle->mappingLength - page >= bufferLength) {
      idle->nextLive = LiveAllocations;
      LiveAllocations = idle;
      return idle->buffer;
    }
    UnmapAllocation(idle);
  }
  const std::size_t rawLength = page + HugePageSize + bufferLength;
  void* raw = mmap(nullptr, rawLength, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;

  const std::uintptr_t rawStart = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t bufferStart = (rawStart + page + HugePageSize - 1) & ~(HugePageSize - 1);
  const std::uintptr_t mappingStart = bufferStart - page;
  const std::uintptr_t mappingEnd = bufferStart + bufferLength;
  if (mappingStart > rawStart) munmap(raw, mappingStart - rawStart);
  if (rawStart + rawLength > mappingEnd) {
    munmap(reinterpret_cast<void*>(mappingEnd), rawStart + rawLength - mappingEnd);
  }
  void* buffer = reinterpret_cast<void*>(bufferStart);
#ifdef MADV_HUGEPAGE
  madvise(buffer, bufferLength, MADV_HUGEPAGE);  // only advice: without it the buffer still works
#endif

  AllocationHeader* header = reinterpret_cast<AllocationHeader*>(mappingStart);
  header->buffer = buffer;
  header->mapping = reinterpret_cast<void*>(mappingStart);
  header->mappingLength = mappingEnd - mappingStart;
  header->nextLive = LiveAllocations;
  LiveAllocations = header;
  return buffer;
}

BOOL VirtualFree(void* lpAddress, SIZE_T dwSize, DWORD dwFreeType) {
  if (lpAddress == nullptr || dwSize != 0 || dwFreeType != MEM_RELEASE) return FALSE;
  for (AllocationHeader** link = &LiveAllocations; *link != nullptr; link = &(*link)->nextLive) {
    AllocationHeader* header = *link;
    if (header->buffer != lpAddress) continue;
    *link = header->nextLive;
    if (IdleAllocation != nullptr) UnmapAllocation(IdleAllocation);
    IdleAllocation = header;
    return TRUE;
  }
  return FALSE;
}

}  // namespace platform
