// Scripting and inspection of the in-memory stand-in for the process and
// memory services, for unit tests: a process list, an address space of
// regions with contents, and the faults to stage.
#pragma once

#include <string>
#include <vector>

#include "platform/process_services.h"

namespace fake {

using platform::DWORD;
using platform::SIZE_T;
using platform::ULONG_PTR;

// Back to an empty system: no processes, no regions, no faults.
void Reset();

// The process list, in snapshot order (the first entry is the system's own).
void SetOwnPid(DWORD pid);
void AddProcess(DWORD pid, const std::string& exeFile, DWORD parentPid = 0);
void FailSnapshot();
// Processes start 1000, 1001, ... in the order they were added.
void SetStartTime(DWORD pid, std::uint64_t startTime);
void RefuseOpen(DWORD error = platform::ERROR_ACCESS_DENIED);  // OpenProcess fails so

// The target's address space; regions must not overlap. Gaps read as free.
void AddRegion(ULONG_PTR base, SIZE_T size, DWORD state);
// A committed mapped region that is a view of shared memory `object` (any
// number but 0) from `offset` on: views of one object share their bytes, and
// SameMemoryBehind holds for two ranges that lie wholly in views of one object
// at the same offsets.
void MapView(ULONG_PTR base, SIZE_T size, int object, SIZE_T offset);
// Gives the pages of [address, address + size), inside one region, another
// protection (regions start as PAGE_READWRITE): as on Windows, the region is
// then reported as one region per run of equal protection, all with its base as
// AllocationBase, and a read stops at the first page that can't be read.
void Protect(ULONG_PTR address, SIZE_T size, DWORD protect);
// Whether the system shows pages of a private region touched: regions start
// with every page in memory; a view of shared memory counts as touched
// throughout. Pages of [address, address + size), inside one region, are given
// the residency; later calls over earlier ones.
enum Residency { Present, Swapped, Untouched };
void SetResidency(ULONG_PTR address, SIZE_T size, Residency residency);
void FailPagemap();  // FindTouchedPages can't tell, as where the pagemap can't be read
void Put(ULONG_PTR address, const std::string& bytes);     // into the region holding it
void LimitReadable(ULONG_PTR base, SIZE_T readableBytes);  // short reads of that region
void FailQueryAt(ULONG_PTR address);
void SetMaximumApplicationAddress(ULONG_PTR bound);
void FailAllocationsFrom(int nth);  // the nth copy buffer (1-based) and after are refused

// A watching run's world over time. KeepScene keeps a copy of the whole
// system as staged now (Reset leaves kept scenes alone), to be shown for
// `waits` waits; PlayScenes shows the first kept scene, and starts the clock
// and the list of waits anew. Each wait (SleepUnlessStopped) counts on the fake clock
// (MonotonicMilliseconds); after a scene's last wait the next scene is shown,
// and after the last scene's, the wait asks the run to stop. A wait outside
// played scenes asks the run to stop at once.
void KeepScene(int waits);
void PlayScenes();

// What the code under test did.
std::vector<DWORD> WaitsAsked();  // the length of every wait, in order
int OpenSnapshots();              // created and not yet closed
DWORD OpenedPid();                // 0 when OpenProcess was never asked
DWORD OpenedAccess();
bool OpenedInheritable();
std::vector<ULONG_PTR> Reads();  // base addresses of the reads, in order
std::vector<SIZE_T> ReadSizes();
int ReadCalls();    // ReadProcessMemory and ReadProcessMemoryStretches calls: each stretch is one of Reads()
int LiveBuffers();  // copy buffers allocated and not yet released
int MostLiveBuffers();  // the most that were ever alive at once
int Queries();

}  // namespace fake
