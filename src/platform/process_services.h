// The operating-system services that process selection and the memory walk
// rely on, under Windows' own names. Three implementations stand behind this
// header, chosen at link time:
//   process_services_win32.cc  kernel32 itself (the Windows tools),
//   posix/                     the same answers read from /proc (Linux), one file per concern,
//   process_services_fake.cc   a scripted process list and address space (unit tests).
//
// The records hold addresses and sizes as numbers of the build's address
// width (platform/address_width.h), whatever the width of the tool's own
// pointers; process IDs are 32-bit.
#pragma once

#include <cstdint>

#include "platform/address_width.h"

namespace platform {

typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef std::uint16_t WORD;
typedef HostWord ULONG_PTR;  // an address in the target process
typedef HostWord SIZE_T;     // a size in the target process
typedef int BOOL;
typedef void* HANDLE;

const BOOL FALSE = 0;
const BOOL TRUE = 1;
const int MAX_PATH = 260;

const DWORD ERROR_ACCESS_DENIED = 5;
const DWORD ERROR_INVALID_PARAMETER = 87;

const DWORD TH32CS_SNAPPROCESS = 0x2;
const DWORD PROCESS_VM_READ = 0x10;
const DWORD PROCESS_QUERY_INFORMATION = 0x400;

const DWORD MEM_COMMIT = 0x1000;
const DWORD MEM_RESERVE = 0x2000;
const DWORD MEM_RELEASE = 0x8000;
const DWORD MEM_FREE = 0x10000;
const DWORD MEM_PRIVATE = 0x20000;
const DWORD MEM_MAPPED = 0x40000;
const DWORD MEM_IMAGE = 0x1000000;
const DWORD PAGE_NOACCESS = 0x01;
const DWORD PAGE_READONLY = 0x02;
const DWORD PAGE_READWRITE = 0x04;
const DWORD PAGE_WRITECOPY = 0x08;
const DWORD PAGE_EXECUTE = 0x10;
const DWORD PAGE_EXECUTE_READ = 0x20;
const DWORD PAGE_EXECUTE_READWRITE = 0x40;
const DWORD PAGE_EXECUTE_WRITECOPY = 0x80;
const DWORD PAGE_GUARD = 0x100;

// What CreateToolhelp32Snapshot returns when it fails.
HANDLE InvalidHandleValue();

struct PROCESSENTRY32 {
  DWORD dwSize;
  DWORD cntUsage;
  DWORD th32ProcessID;
  ULONG_PTR th32DefaultHeapID;
  DWORD th32ModuleID;
  DWORD cntThreads;
  DWORD th32ParentProcessID;
  LONG pcPriClassBase;
  DWORD dwFlags;
  char szExeFile[MAX_PATH];
};
static_assert(sizeof(PROCESSENTRY32) == (MIRVANE_ADDRESS_BITS == 32 ? 296 : 304),
              "the 8-bit process entry is 296 bytes at 32 bits, 304 at 64");

struct MEMORY_BASIC_INFORMATION {
  ULONG_PTR BaseAddress;
  ULONG_PTR AllocationBase;
  DWORD AllocationProtect;
  SIZE_T RegionSize;
  DWORD State;
  DWORD Protect;
  DWORD Type;
};
static_assert(sizeof(MEMORY_BASIC_INFORMATION) == (MIRVANE_ADDRESS_BITS == 32 ? 28 : 48),
              "the region record is 28 bytes at 32 bits, 48 at 64");

struct SYSTEM_INFO {
  WORD wProcessorArchitecture;
  WORD wReserved;
  DWORD dwPageSize;
  ULONG_PTR lpMinimumApplicationAddress;
  ULONG_PTR lpMaximumApplicationAddress;
  ULONG_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
};

DWORD GetCurrentProcessId();

// The process list. The snapshot handle is released with CloseHandle.
HANDLE CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID);
BOOL Process32First(HANDLE hSnapshot, PROCESSENTRY32* lppe);
BOOL Process32Next(HANDLE hSnapshot, PROCESSENTRY32* lppe);
BOOL CloseHandle(HANDLE hObject);

// A handle for region queries and memory reads; null when refused, and then
// GetLastError tells why: ERROR_ACCESS_DENIED for lack of rights, another code
// where the process has ended or has no memory of its own.
HANDLE OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);
DWORD GetLastError();
void GetSystemInfo(SYSTEM_INFO* lpSystemInfo);
SIZE_T VirtualQueryEx(HANDLE hProcess, ULONG_PTR lpAddress, MEMORY_BASIC_INFORMATION* lpBuffer,
                      SIZE_T dwLength);
BOOL ReadProcessMemory(HANDLE hProcess, ULONG_PTR lpBaseAddress, void* lpBuffer, SIZE_T nSize,
                       SIZE_T* lpNumberOfBytesRead);

// Not a Windows call but ours: one of the stretches of a scattered read.
struct MEMORY_STRETCH {
  ULONG_PTR base;
  SIZE_T size;
  void* buffer;
};

// Not a Windows call but ours: reads `count` stretches of the target, each
// into its own buffer, as ReadProcessMemory one after another would, in as
// few system calls as the system allows (Linux: process_vm_readv, a remote
// iovec for each). Stops at the first stretch that can't be read whole;
// *lpNumberOfBytesRead: the bytes read, stretch after stretch.
BOOL ReadProcessMemoryStretches(HANDLE hProcess, const MEMORY_STRETCH* stretches, int count,
                                SIZE_T* lpNumberOfBytesRead);

// Not a Windows call but ours, as no call names the memory behind a view to a
// process with only query and read rights: whether the system shows the
// `size` bytes at `first` and at `second` to be views of the same memory.
// Linux: shared mappings of one file at the same offsets (exact). Windows:
// both wholly committed mapped views, and byte for byte the same (weaker:
// two sections with the same bytes pass too). FALSE where it can't be shown.
BOOL SameMemoryBehind(HANDLE hProcess, ULONG_PTR first, ULONG_PTR second, SIZE_T size);

// Not a Windows call but ours, as Windows tells no page that was never
// touched from one that was paged out: the first stretch of the `size` bytes
// from `base` (whole pages) whose pages the system shows may have been
// written, at most `longest` bytes of it, in *stretchBase and *stretchSize (a
// size of 0 where no page may have been). Linux: pages of private mappings
// that are in memory or swapped out, and every page of a shared mapping, which
// may be in memory through another view where this one has none. FALSE where
// the system can't tell (Windows always; Linux where /proc/PID/pagemap can't
// be read): then any page may have been written.
BOOL FindTouchedPages(HANDLE hProcess, ULONG_PTR base, SIZE_T size, SIZE_T longest, ULONG_PTR* stretchBase,
                      SIZE_T* stretchSize);

// The tool's own memory for a region copy (MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
// null when it cannot be had. Released with VirtualFree(buffer, 0, MEM_RELEASE).
void* VirtualAlloc(void* lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect);
BOOL VirtualFree(void* lpAddress, SIZE_T dwSize, DWORD dwFreeType);

// Not Windows calls but ours, for a run that keeps watching (--watch).

// When the process with this ID was started, as a number that a later process
// given the same ID can't share (Linux: clock ticks after boot; Windows: its
// creation time). FALSE where no such process runs (it has ended) or the
// system won't tell.
BOOL GetProcessStartTime(DWORD dwProcessId, std::uint64_t* startTime);

// Milliseconds on a clock that only goes forward.
std::uint64_t MonotonicMilliseconds();

// From now on a request to stop (Linux: SIGINT, SIGTERM, SIGHUP; Windows:
// Ctrl+C, Ctrl+Break, the console closing) no longer ends the process at once:
// it is noted, and ends the next wait.
void CatchStopRequests();

// Waits `milliseconds`, less where a stop is requested meanwhile; FALSE when a
// stop was requested (before the wait or during it).
BOOL SleepUnlessStopped(DWORD milliseconds);

}  // namespace platform
