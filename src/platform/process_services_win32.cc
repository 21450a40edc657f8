// kernel32 itself, behind the tool's own process and memory records.
// Our header comes first: <windows.h> turns the names of its constants into macros.
#include "platform/process_services.h"
#include "platform/stretches_one_by_one.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>

// Our records are as wide as kernel32's: its addresses are our pointers.
static_assert(sizeof(void*) * 8 == MIRVANE_ADDRESS_BITS, "a Windows tool's host addresses are its pointers");
static_assert(sizeof(::PROCESSENTRY32) == sizeof(platform::PROCESSENTRY32), "8-bit PROCESSENTRY32");
static_assert(sizeof(::MEMORY_BASIC_INFORMATION) == sizeof(platform::MEMORY_BASIC_INFORMATION),
              "MEMORY_BASIC_INFORMATION");

namespace platform {

namespace {

BOOL CopyEntry(const ::PROCESSENTRY32& from, PROCESSENTRY32* to) {
  to->cntUsage = from.cntUsage;
  to->th32ProcessID = from.th32ProcessID;
  to->th32DefaultHeapID = static_cast<ULONG_PTR>(from.th32DefaultHeapID);
  to->th32ModuleID = from.th32ModuleID;
  to->cntThreads = from.cntThreads;
  to->th32ParentProcessID = from.th32ParentProcessID;
  to->pcPriClassBase = from.pcPriClassBase;
  to->dwFlags = from.dwFlags;
  std::memcpy(to->szExeFile, from.szExeFile, sizeof to->szExeFile);
  return TRUE;
}

BOOL FetchEntry(HANDLE snapshot, PROCESSENTRY32* entry, bool first) {
  ::PROCESSENTRY32 native;
  native.dwSize = entry->dwSize;
  const ::BOOL fetched = first ? ::Process32First(snapshot, &native) : ::Process32Next(snapshot, &native);
  return fetched ? CopyEntry(native, entry) : FALSE;
}

}  // namespace

HANDLE InvalidHandleValue() { return INVALID_HANDLE_VALUE; }

DWORD GetCurrentProcessId() { return ::GetCurrentProcessId(); }

HANDLE CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID) {
  return ::CreateToolhelp32Snapshot(dwFlags, th32ProcessID);
}

BOOL Process32First(HANDLE hSnapshot, PROCESSENTRY32* lppe) { return FetchEntry(hSnapshot, lppe, true); }

BOOL Process32Next(HANDLE hSnapshot, PROCESSENTRY32* lppe) { return FetchEntry(hSnapshot, lppe, false); }

BOOL CloseHandle(HANDLE hObject) { return ::CloseHandle(hObject); }

HANDLE OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId) {
  return ::OpenProcess(dwDesiredAccess, bInheritHandle, dwProcessId);
}

DWORD GetLastError() { return ::GetLastError(); }

void GetSystemInfo(SYSTEM_INFO* lpSystemInfo) {
  ::SYSTEM_INFO native;
  ::GetSystemInfo(&native);
  lpSystemInfo->wProcessorArchitecture = native.wProcessorArchitecture;
  lpSystemInfo->wReserved = 0;
  lpSystemInfo->dwPageSize = native.dwPageSize;
  lpSystemInfo->lpMinimumApplicationAddress = reinterpret_cast<ULONG_PTR>(native.lpMinimumApplicationAddress);
  lpSystemInfo->lpMaximumApplicationAddress = reinterpret_cast<ULONG_PTR>(native.lpMaximumApplicationAddress);
  lpSystemInfo->dwActiveProcessorMask = static_cast<ULONG_PTR>(native.dwActiveProcessorMask);
  lpSystemInfo->dwNumberOfProcessors = native.dwNumberOfProcessors;
  lpSystemInfo->dwProcessorType = native.dwProcessorType;
  lpSystemInfo->dwAllocationGranularity = native.dwAllocationGranularity;
  lpSystemInfo->wProcessorLevel = native.wProcessorLevel;
  lpSystemInfo->wProcessorRevision = native.wProcessorRevision;
}

SIZE_T VirtualQueryEx(HANDLE hProcess, ULONG_PTR lpAddress, MEMORY_BASIC_INFORMATION* lpBuffer,
                      SIZE_T dwLength) {
  if (dwLength < sizeof(MEMORY_BASIC_INFORMATION)) return 0;
  ::MEMORY_BASIC_INFORMATION native;
  const ::SIZE_T answered =
      ::VirtualQueryEx(hProcess, reinterpret_cast<LPCVOID>(lpAddress), &native, sizeof native);
  if (answered == 0) return 0;
  lpBuffer->BaseAddress = reinterpret_cast<ULONG_PTR>(native.BaseAddress);
  lpBuffer->AllocationBase = reinterpret_cast<ULONG_PTR>(native.AllocationBase);
  lpBuffer->AllocationProtect = native.AllocationProtect;
  lpBuffer->RegionSize = static_cast<SIZE_T>(native.RegionSize);
  lpBuffer->State = native.State;
  lpBuffer->Protect = native.Protect;
  lpBuffer->Type = native.Type;
  return sizeof(MEMORY_BASIC_INFORMATION);
}

BOOL ReadProcessMemory(HANDLE hProcess, ULONG_PTR lpBaseAddress, void* lpBuffer, SIZE_T nSize,
                       SIZE_T* lpNumberOfBytesRead) {
  ::SIZE_T copied = 0;
  const ::BOOL ok =
      ::ReadProcessMemory(hProcess, reinterpret_cast<LPCVOID>(lpBaseAddress), lpBuffer, nSize, &copied);
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = static_cast<SIZE_T>(copied);
  return ok;
}

// Windows has no call for it: one read a stretch. As Windows never tells
// touched pages, the walk asks for one stretch a piece (a region, for the
// 32-bit tool).
BOOL ReadProcessMemoryStretches(HANDLE hProcess, const MEMORY_STRETCH* stretches, int count,
                                SIZE_T* lpNumberOfBytesRead) {
  return ReadStretchesOneByOne(hProcess, stretches, count, lpNumberOfBytesRead);
}

namespace {

// The two images are compared a chunk at a time. The emulator may write to its
// RAM between our reads of the two views of a chunk: a pair that differs is
// read again this many times before the two count as different.
const SIZE_T CompareChunkSize = 0x10000;
const int ChunkRereads = 4;
unsigned char FirstChunk[CompareChunkSize];
unsigned char SecondChunk[CompareChunkSize];

// Whether every page of the range is committed and in a view of a section:
// private memory, a copy the emulator keeps, never counts as a view.
bool WhollyInMappedViews(HANDLE process, ULONG_PTR address, SIZE_T size) {
  const ULONG_PTR end = address + size;
  if (end < address) return false;
  for (ULONG_PTR at = address; at < end;) {
    ::MEMORY_BASIC_INFORMATION region;
    if (::VirtualQueryEx(process, reinterpret_cast<LPCVOID>(at), &region, sizeof region) == 0) return false;
    if (region.State != MEM_COMMIT || region.Type != MEM_MAPPED) return false;
    const ULONG_PTR next = reinterpret_cast<ULONG_PTR>(region.BaseAddress) + region.RegionSize;
    if (next <= at) return false;
    at = next;
  }
  return true;
}

bool ReadChunk(HANDLE process, ULONG_PTR address, unsigned char* into, SIZE_T size) {
  ::SIZE_T copied = 0;
  return ::ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), into, size, &copied) &&
         copied == size;
}

bool SameBytes(HANDLE process, ULONG_PTR first, ULONG_PTR second, SIZE_T size) {
  for (SIZE_T done = 0; done < size;) {
    const SIZE_T chunk = std::min(CompareChunkSize, size - done);
    bool same = false;
    for (int read = 0; read <= ChunkRereads && !same; ++read) {
      if (!ReadChunk(process, first + done, FirstChunk, chunk) ||
          !ReadChunk(process, second + done, SecondChunk, chunk)) {
        return false;
      }
      same = std::memcmp(FirstChunk, SecondChunk, chunk) == 0;
    }
    if (!same) return false;
    done += chunk;
  }
  return true;
}

}  // namespace

// With query and read rights no call names the section behind a view, so the
// proof is what can be seen: both ranges wholly in mapped views, holding the
// same bytes.
BOOL SameMemoryBehind(HANDLE hProcess, ULONG_PTR first, ULONG_PTR second, SIZE_T size) {
  if (size == 0 || !WhollyInMappedViews(hProcess, first, size) ||
      !WhollyInMappedViews(hProcess, second, size)) {
    return FALSE;
  }
  return SameBytes(hProcess, first, second, size) ? TRUE : FALSE;
}

// Windows shows no page that was never touched apart from one that was paged
// out: every page may have been written.
BOOL FindTouchedPages(HANDLE, ULONG_PTR, SIZE_T, SIZE_T, ULONG_PTR*, SIZE_T*) { return FALSE; }

void* VirtualAlloc(void* lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect) {
  return ::VirtualAlloc(lpAddress, dwSize, flAllocationType, flProtect);
}

BOOL VirtualFree(void* lpAddress, SIZE_T dwSize, DWORD dwFreeType) {
  return ::VirtualFree(lpAddress, dwSize, dwFreeType);
}

}  // namespace platform

namespace platform {

BOOL GetProcessStartTime(DWORD dwProcessId, std::uint64_t* startTime) {
  // A handle (ours from the walk, too) keeps an ended process's record, and
  // its ID, alive: the wait tells whether it still runs.
  const ::HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, dwProcessId);
  if (process == nullptr) return FALSE;
  ::FILETIME created, exited, kernel, user;
  const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT &&
                       ::GetProcessTimes(process, &created, &exited, &kernel, &user);
  ::CloseHandle(process);
  if (!running) return FALSE;
  *startTime = static_cast<std::uint64_t>(created.dwHighDateTime) << 32 | created.dwLowDateTime;
  return TRUE;
}

std::uint64_t MonotonicMilliseconds() { return ::GetTickCount64(); }

namespace {

// Set when a stop is requested; the wait watches it.
::HANDLE StopEvent = nullptr;

::BOOL WINAPI NoteStopRequest(::DWORD event) {
  ::SetEvent(StopEvent);
  // Windows ends the process when the handler returns from these: the main
  // thread ends it first, with its own status.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
    ::Sleep(INFINITE);
  return TRUE;
}

}  // namespace

void CatchStopRequests() {
  if (StopEvent == nullptr) StopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(NoteStopRequest, TRUE);
}

BOOL SleepUnlessStopped(DWORD milliseconds) {
  if (StopEvent == nullptr) {
    ::Sleep(milliseconds);
    return TRUE;
  }
  return ::WaitForSingleObject(StopEvent, milliseconds) == WAIT_OBJECT_0 ? FALSE : TRUE;
}

}  // namespace platform
