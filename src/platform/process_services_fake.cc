#include "platform/process_services_fake.h"

#include "platform/stretches_one_by_one.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

struct FakeProcess {
  platform::DWORD pid;
  std::string exeFile;
  platform::DWORD parentPid;
  std::uint64_t startTime;
};

// Pages of a region given another protection; later ones over earlier ones.
struct FakeProtection {
  platform::SIZE_T offset;
  platform::SIZE_T size;
  platform::DWORD protect;
};

// Pages of a region given another residency; later ones over earlier ones.
struct FakeResidency {
  platform::SIZE_T offset;
  platform::SIZE_T size;
  fake::Residency residency;
};

struct FakeRegion {
  platform::ULONG_PTR base;
  platform::SIZE_T size;
  platform::DWORD state;
  platform::SIZE_T readable;
  std::map<platform::SIZE_T, std::string> contents;  // offset -> bytes; the rest reads as zeros
  int object;                                        // 0, or the shared memory this is a view of
  platform::SIZE_T objectOffset;                     // where in it the view starts
  std::vector<FakeProtection> protections;
  std::vector<FakeResidency> residencies;
};

struct FakeSnapshot {
  size_t next;
};

struct FakeSystem {
  platform::DWORD ownPid = 1;
  std::vector<FakeProcess> processes;
  bool snapshotFails = false;
  bool openRefused = false;
  platform::DWORD openError = 0;
  std::vector<FakeRegion> regions;
  std::map<int, std::map<platform::SIZE_T, std::string>> objects;  // a view's bytes, by object offset
  std::vector<platform::ULONG_PTR> failingQueries;
  platform::ULONG_PTR bound = 0x7FFEFFFF;
  int failAllocationsFrom = 0;
  bool pagemapFails = false;
  int allocations = 0;

  int openSnapshots = 0;
  platform::DWORD openedPid = 0;
  platform::DWORD openedAccess = 0;
  bool openedInheritable = false;
  std::vector<platform::ULONG_PTR> reads;
  std::vector<platform::SIZE_T> readSizes;
  int readCalls = 0;  // a scattered read is one call, whatever its stretches
  int liveBuffers = 0;
  int mostLiveBuffers = 0;
  int queries = 0;
};

FakeSystem System;
int ProcessHandleTag;  // its address is the one process handle

// A watching run's world over time: each scene is the whole system, shown for
// some waits; a wait after the last scene's asks the run to stop.
struct FakeScene {
  FakeSystem system;
  int waits;
};
std::vector<FakeScene> KeptScenes;
std::vector<FakeScene> Scenes;  // those played
size_t SceneShown = 0;
int WaitsInScene = 0;
bool PlayingScenes = false;
std::uint64_t Clock = 0;
std::vector<platform::DWORD> Waits;  // the waits asked, in order

FakeRegion* RegionHolding(platform::ULONG_PTR address) {
  for (FakeRegion& r : System.regions) {
    if (address >= r.base && address - r.base < r.size) return &r;
  }
  return nullptr;
}

// The bytes a region shows, and the offset in them of the region's first byte.
std::map<platform::SIZE_T, std::string>& ContentsOf(FakeRegion& region, platform::SIZE_T& shift) {
  shift = region.object != 0 ? region.objectOffset : 0;
  return region.object != 0 ? System.objects[region.object] : region.contents;
}

platform::DWORD ProtectionAt(const FakeRegion& region, platform::SIZE_T offset) {
  platform::DWORD protect = platform::PAGE_READWRITE;
  for (const FakeProtection& p : region.protections) {
    if (offset >= p.offset && offset - p.offset < p.size) protect = p.protect;
  }
  return protect;
}

// The stretch [begin, end) of the region around `offset` whose pages share one protection.
void SameProtection(const FakeRegion& region, platform::SIZE_T offset, platform::SIZE_T& begin,
                    platform::SIZE_T& end) {
  const platform::DWORD protect = ProtectionAt(region, offset);
  begin = 0;
  end = region.size;
  for (const FakeProtection& p : region.protections) {
    for (platform::SIZE_T edge : {p.offset, p.offset + p.size}) {
      if (edge <= offset && edge > begin && ProtectionAt(region, edge - 1) != protect) begin = edge;
      if (edge > offset && edge < end && ProtectionAt(region, edge) != protect) end = edge;
    }
  }
}

// Every protection but these lets a page be read, unless PAGE_GUARD is added.
bool ReadableProtection(platform::DWORD protect) {
  return protect != platform::PAGE_NOACCESS && protect != platform::PAGE_EXECUTE &&
         (protect & platform::PAGE_GUARD) == 0;
}

// Where reading from `offset` on stops: at the first page that can't be read.
platform::SIZE_T ReadableEnd(const FakeRegion& region, platform::SIZE_T offset) {
  platform::SIZE_T begin = 0;
  platform::SIZE_T end = offset;
  while (end < region.size && ReadableProtection(ProtectionAt(region, end))) {
    SameProtection(region, end, begin, end);
  }
  return std::min(end, region.readable);
}

void InsertRegion(const FakeRegion& region) {
  // Kept in address order, so a gap's end is the next region's base.
  size_t at = 0;
  while (at < System.regions.size() && System.regions[at].base < region.base) ++at;
  System.regions.insert(System.regions.begin() + static_cast<long>(at), region);
}

}  // namespace

namespace fake {

void Reset() {
  System = FakeSystem();
  PlayingScenes = false;
}
void SetOwnPid(DWORD pid) { System.ownPid = pid; }
void AddProcess(DWORD pid, const std::string& exeFile, DWORD parentPid) {
  // Started in list order, unless set otherwise.
  System.processes.push_back({pid, exeFile, parentPid, 1000 + System.processes.size()});
}
void SetStartTime(DWORD pid, std::uint64_t startTime) {
  for (FakeProcess& process : System.processes) {
    if (process.pid == pid) process.startTime = startTime;
  }
}
void KeepScene(int waits) { KeptScenes.push_back({System, waits}); }
void PlayScenes() {
  Scenes.swap(KeptScenes);
  KeptScenes.clear();
  Clock = 0;
  Waits.clear();
  System = Scenes.at(0).system;
  SceneShown = 0;
  WaitsInScene = 0;
  PlayingScenes = true;
}
std::vector<DWORD> WaitsAsked() { return Waits; }
void FailSnapshot() { System.snapshotFails = true; }
void RefuseOpen(DWORD error) {
  System.openRefused = true;
  System.openError = error;
}

void AddRegion(ULONG_PTR base, SIZE_T size, DWORD state) {
  InsertRegion(FakeRegion{base, size, state, size, {}, 0, 0, {}, {}});
}

void MapView(ULONG_PTR base, SIZE_T size, int object, SIZE_T offset) {
  InsertRegion(FakeRegion{base, size, platform::MEM_COMMIT, size, {}, object, offset, {}, {}});
}

void Protect(ULONG_PTR address, SIZE_T size, DWORD protect) {
  FakeRegion* region = RegionHolding(address);
  if (region != nullptr) region->protections.push_back({address - region->base, size, protect});
}

void SetResidency(ULONG_PTR address, SIZE_T size, Residency residency) {
  FakeRegion* region = RegionHolding(address);
  if (region != nullptr) region->residencies.push_back({address - region->base, size, residency});
}

void FailPagemap() { System.pagemapFails = true; }

void Put(ULONG_PTR address, const std::string& bytes) {
  FakeRegion* region = RegionHolding(address);
  if (region == nullptr) return;
  SIZE_T shift = 0;
  ContentsOf(*region, shift)[shift + (address - region->base)] = bytes;
}

void LimitReadable(ULONG_PTR base, SIZE_T readableBytes) {
  FakeRegion* region = RegionHolding(base);
  if (region != nullptr) region->readable = readableBytes;
}

void FailQueryAt(ULONG_PTR address) { System.failingQueries.push_back(address); }
void SetMaximumApplicationAddress(ULONG_PTR bound) { System.bound = bound; }
void FailAllocationsFrom(int nth) { System.failAllocationsFrom = nth; }

int OpenSnapshots() { return System.openSnapshots; }
DWORD OpenedPid() { return System.openedPid; }
DWORD OpenedAccess() { return System.openedAccess; }
bool OpenedInheritable() { return System.openedInheritable; }
std::vector<ULONG_PTR> Reads() { return System.reads; }
std::vector<SIZE_T> ReadSizes() { return System.readSizes; }
int ReadCalls() { return System.readCalls; }
int LiveBuffers() { return System.liveBuffers; }
int MostLiveBuffers() { return System.mostLiveBuffers; }
int Queries() { return System.queries; }

}  // namespace fake

namespace platform {

HANDLE InvalidHandleValue() { return reinterpret_cast<HANDLE>(~static_cast<std::uintptr_t>(0)); }

DWORD GetCurrentProcessId() { return System.ownPid; }

HANDLE CreateToolhelp32Snapshot(DWORD dwFlags, DWORD) {
  if (System.snapshotFails || (dwFlags & TH32CS_SNAPPROCESS) == 0) return InvalidHandleValue();
  ++System.openSnapshots;
  return new FakeSnapshot{0};
}

namespace {

// The snapshot behind a handle; null for any other handle.
FakeSnapshot* AsSnapshot(HANDLE handle) {
  if (handle == nullptr || handle == InvalidHandleValue() || handle == &ProcessHandleTag) return nullptr;
  return static_cast<FakeSnapshot*>(handle);
}

BOOL FillEntry(HANDLE hSnapshot, PROCESSENTRY32* entry) {
  FakeSnapshot* snapshot = AsSnapshot(hSnapshot);
  if (snapshot == nullptr || entry->dwSize != sizeof(PROCESSENTRY32)) return FALSE;
  if (snapshot->next >= System.processes.size()) return FALSE;
  const FakeProcess& process = System.processes[snapshot->next++];
  entry->th32ProcessID = process.pid;
  entry->th32ParentProcessID = process.parentPid;
  std::memset(entry->szExeFile, 0, sizeof entry->szExeFile);
  std::strncpy(entry->szExeFile, process.exeFile.c_str(), sizeof entry->szExeFile - 1);
  return TRUE;
}

}  // namespace

BOOL Process32First(HANDLE hSnapshot, PROCESSENTRY32* lppe) {
  if (FakeSnapshot* snapshot = AsSnapshot(hSnapshot)) snapshot->next = 0;
  return FillEntry(hSnapshot, lppe);
}

BOOL Process32Next(HANDLE hSnapshot, PROCESSENTRY32* lppe) { return FillEntry(hSnapshot, lppe); }

BOOL CloseHandle(HANDLE hObject) {
  if (hObject == &ProcessHandleTag) return TRUE;
  FakeSnapshot* snapshot = AsSnapshot(hObject);
  if (snapshot == nullptr) return FALSE;
  delete snapshot;
  --System.openSnapshots;
  return TRUE;
}

HANDLE OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId) {
  System.openedPid = dwProcessId;
  System.openedAccess = dwDesiredAccess;
  System.openedInheritable = bInheritHandle != FALSE;
  return System.openRefused ? nullptr : &ProcessHandleTag;
}

DWORD GetLastError() { return System.openError; }

void GetSystemInfo(SYSTEM_INFO* lpSystemInfo) {
  std::memset(lpSystemInfo, 0, sizeof *lpSystemInfo);
  lpSystemInfo->dwPageSize = 0x1000;
  lpSystemInfo->lpMinimumApplicationAddress = 0x10000;
  lpSystemInfo->lpMaximumApplicationAddress = System.bound;
  lpSystemInfo->dwAllocationGranularity = 0x10000;
  lpSystemInfo->dwNumberOfProcessors = 1;
}

SIZE_T VirtualQueryEx(HANDLE hProcess, ULONG_PTR lpAddress, MEMORY_BASIC_INFORMATION* lpBuffer,
                      SIZE_T dwLength) {
  ++System.queries;
  if (hProcess != &ProcessHandleTag || dwLength < sizeof(MEMORY_BASIC_INFORMATION)) return 0;
  for (ULONG_PTR failing : System.failingQueries) {
    if (failing == lpAddress) return 0;
  }
  std::memset(lpBuffer, 0, sizeof *lpBuffer);
  if (const FakeRegion* region = RegionHolding(lpAddress)) {
    SIZE_T begin = 0;
    SIZE_T end = 0;
    SameProtection(*region, lpAddress - region->base, begin, end);
    lpBuffer->BaseAddress = region->base + begin;
    lpBuffer->AllocationBase = region->base;
    lpBuffer->RegionSize = end - begin;
    lpBuffer->State = region->state;
    if ((region->state & MEM_COMMIT) != 0) lpBuffer->Protect = ProtectionAt(*region, begin);
    lpBuffer->Type = region->object != 0 ? MEM_MAPPED : MEM_PRIVATE;
    return sizeof(MEMORY_BASIC_INFORMATION);
  }
  // A gap: free up to the next region, or to the top of the 32-bit space.
  ULONG_PTR end = 0;
  for (const FakeRegion& r : System.regions) {
    if (r.base > lpAddress) {
      end = r.base;
      break;
    }
  }
  lpBuffer->BaseAddress = lpAddress & ~static_cast<ULONG_PTR>(0xFFF);
  lpBuffer->RegionSize = end - lpBuffer->BaseAddress;  // wraps to the top when end is 0
  lpBuffer->State = MEM_FREE;
  lpBuffer->AllocationBase = lpBuffer->BaseAddress;
  return sizeof(MEMORY_BASIC_INFORMATION);
}

BOOL ReadProcessMemory(HANDLE hProcess, ULONG_PTR lpBaseAddress, void* lpBuffer, SIZE_T nSize,
                       SIZE_T* lpNumberOfBytesRead) {
  // Like Windows, a failed read leaves the count alone.
  if (hProcess != &ProcessHandleTag) return FALSE;
  ++System.readCalls;
  System.reads.push_back(lpBaseAddress);
  System.readSizes.push_back(nSize);
  FakeRegion* region = RegionHolding(lpBaseAddress);
  if (region == nullptr) return FALSE;
  const SIZE_T offset = lpBaseAddress - region->base;
  const SIZE_T readableEnd = ReadableEnd(*region, offset);
  const SIZE_T available = readableEnd > offset ? readableEnd - offset : 0;
  const SIZE_T copied = std::min(nSize, available);
  if (copied == 0) return FALSE;
  unsigned char* out = static_cast<unsigned char*>(lpBuffer);
  std::memset(out, 0, copied);
  SIZE_T shift = 0;
  for (const auto& piece : ContentsOf(*region, shift)) {
    for (size_t i = 0; i < piece.second.size(); ++i) {
      const SIZE_T at = piece.first + static_cast<SIZE_T>(i);  // in the region's contents
      if (at >= shift + offset && at - shift - offset < copied)
        out[at - shift - offset] = static_cast<unsigned char>(piece.second[i]);
    }
  }
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = copied;
  return copied == nSize ? TRUE : FALSE;
}

// Each stretch is logged as a read of its own; the calls are counted apart.
BOOL ReadProcessMemoryStretches(HANDLE hProcess, const MEMORY_STRETCH* stretches, int count,
                                SIZE_T* lpNumberOfBytesRead) {
  const int calls = System.readCalls;
  const BOOL whole = ReadStretchesOneByOne(hProcess, stretches, count, lpNumberOfBytesRead);
  System.readCalls = calls + 1;
  return whole;
}

BOOL SameMemoryBehind(HANDLE hProcess, ULONG_PTR first, ULONG_PTR second, SIZE_T size) {
  const FakeRegion* one = RegionHolding(first);
  const FakeRegion* other = RegionHolding(second);
  if (hProcess != &ProcessHandleTag || one == nullptr || other == nullptr || one->object == 0 ||
      one->object != other->object) {
    return FALSE;
  }
  const SIZE_T intoOne = first - one->base;
  const SIZE_T intoOther = second - other->base;
  const bool whole = size <= one->size - intoOne && size <= other->size - intoOther;
  return whole && one->objectOffset + intoOne == other->objectOffset + intoOther ? TRUE : FALSE;
}

namespace {

const SIZE_T FakePageSize = 0x1000;

bool Touched(const FakeRegion& region, SIZE_T offset) {
  if (region.object != 0) return true;
  fake::Residency residency = fake::Present;
  for (const FakeResidency& r : region.residencies) {
    if (offset >= r.offset && offset - r.offset < r.size) residency = r.residency;
  }
  return residency != fake::Untouched;
}

}  // namespace

BOOL FindTouchedPages(HANDLE hProcess, ULONG_PTR base, SIZE_T size, SIZE_T longest, ULONG_PTR* stretchBase,
                      SIZE_T* stretchSize) {
  if (hProcess != &ProcessHandleTag || System.pagemapFails || base % FakePageSize != 0 ||
      size % FakePageSize != 0 || longest < FakePageSize) {
    return FALSE;
  }
  longest -= longest % FakePageSize;
  SIZE_T first = 0;
  SIZE_T length = 0;
  for (SIZE_T at = 0; at < size && length < longest; at += FakePageSize) {
    const FakeRegion* region = RegionHolding(base + at);
    // Memory that is gone: the read will tell.
    if (region == nullptr) {
      if (length == 0) return FALSE;
      break;
    }
    const bool touched = Touched(*region, base + at - region->base);
    if (!touched && length != 0) break;
    if (touched && length == 0) first = at;
    if (touched) length += FakePageSize;
  }
  *stretchBase = base + first;
  *stretchSize = length;
  return TRUE;
}

void* VirtualAlloc(void*, SIZE_T dwSize, DWORD, DWORD) {
  ++System.allocations;
  if (System.failAllocationsFrom > 0 && System.allocations >= System.failAllocationsFrom) return nullptr;
  void* buffer = std::malloc(dwSize == 0 ? 1 : dwSize);
  if (buffer == nullptr) return nullptr;
  ++System.liveBuffers;
  System.mostLiveBuffers = std::max(System.mostLiveBuffers, System.liveBuffers);
  return buffer;
}

BOOL VirtualFree(void* lpAddress, SIZE_T, DWORD) {
  if (lpAddress == nullptr) return FALSE;
  std::free(lpAddress);
  --System.liveBuffers;
  return TRUE;
}

BOOL GetProcessStartTime(DWORD dwProcessId, std::uint64_t* startTime) {
  for (const FakeProcess& process : System.processes) {
    if (process.pid == dwProcessId && dwProcessId != 0) {
      *startTime = process.startTime;
      return TRUE;
    }
  }
  return FALSE;
}

std::uint64_t MonotonicMilliseconds() { return Clock; }

void CatchStopRequests() {}

BOOL SleepUnlessStopped(DWORD milliseconds) {
  Waits.push_back(milliseconds);
  Clock += milliseconds;
  if (!PlayingScenes) return FALSE;
  if (++WaitsInScene < Scenes[SceneShown].waits) return TRUE;
  if (++SceneShown == Scenes.size()) return FALSE;
  WaitsInScene = 0;
  System = Scenes[SceneShown].system;
  return TRUE;
}

}  // namespace platform
