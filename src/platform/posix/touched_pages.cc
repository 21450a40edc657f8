// FindTouchedPages over /proc/PID/pagemap: 8 bytes a page, bit 63 set for a
// page in memory, bit 62 for one swapped out; the kernel shows these bits to
// whoever may read the memory. The pagemap is read in bounded pieces, so a run
// of many GiB costs no more memory than a small one, and the kernel answers
// fast where no page table was ever made, so a never-touched run costs little
// time. Pages are the system's own size: 16 and 64 KiB on some ARM64 systems.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64  // pagemap offsets pass 4 GiB on 32-bit hosts too
#endif

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/posix/internal.h"

namespace platform {
namespace {

const std::uint64_t PresentOrSwapped = 3ull << 62;
// Entries per pagemap read: first 1 MiB of address space with 4 KiB pages,
// then twice as many each time, up to 32 MiB.
const std::size_t FirstEntries = 256;
const std::size_t MostEntries = 8192;
std::uint64_t Entries[MostEntries];

// The stretch of touched pages being found: [first, end) once `found`.
struct Stretch {
  std::uint64_t longest;
  bool found;
  std::uint64_t first;
  std::uint64_t end;
};

// Adds the pages [from, to) that follow what was added before; true once the
// stretch is complete: it has met an untouched page, or is `longest` long.
bool AddPages(Stretch& stretch, std::uint64_t from, std::uint64_t to, bool touched) {
  if (!touched) return stretch.found;
  if (!stretch.found) {
    stretch.found = true;
    stretch.first = from;
  }
  stretch.end = std::min(to, stretch.first + stretch.longest);
  return stretch.end - stretch.first == stretch.longest;
}

// Adds the pages [from, to) of one private mapping as the pagemap tells them.
// Each read takes twice as many entries as the one before, up to MostEntries,
// so that a short stretch met at once costs a small read, and a long stretch,
// touched or not, few reads. False where the pagemap can't be read.
bool AddPrivatePages(int pagemapFd, std::uint64_t page, std::uint64_t from, std::uint64_t to,
                     Stretch& stretch, std::size_t& entries, bool& complete) {
  for (std::uint64_t at = from; at < to && !complete;) {
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(entries, (to - at) / page));
    const ssize_t count = pread(pagemapFd, Entries, wanted * sizeof Entries[0],
                                static_cast<off_t>(at / page * sizeof Entries[0]));
    if (count < 0 && errno == EINTR) continue;
    if (count < static_cast<ssize_t>(sizeof Entries[0])) return false;
    const std::size_t got = static_cast<std::size_t>(count) / sizeof Entries[0];
    for (std::size_t i = 0; i < got && !complete; ++i, at += page) {
      complete = AddPages(stretch, at, at + page, (Entries[i] & PresentOrSwapped) != 0);
    }
    entries = std::min(entries * 2, MostEntries);
  }
  return true;
}

}  // namespace

BOOL FindTouchedPages(HANDLE hProcess, ULONG_PTR base, SIZE_T size, SIZE_T longest, ULONG_PTR* stretchBase,
                      SIZE_T* stretchSize) {
  posix::HandleRecord* process = posix::FindLiveHandle(hProcess, posix::ProcessHandle);
  const std::uint64_t page = posix::PageSize();
  if (process == nullptr || process->pagemapFd < 0 || stretchBase == nullptr || stretchSize == nullptr ||
      base % page != 0 || size % page != 0 || longest < page || size > posix::AddressSpaceEnd ||
      base > posix::AddressSpaceEnd - size) {
    return FALSE;
  }
  // The maps as the walk read them: the run was seen in those lines.
  const std::vector<posix::Mapping>* maps = posix::CurrentMaps(*process);
  if (maps == nullptr) return FALSE;
  Stretch stretch = {longest - longest % page, false, 0, 0};
  std::size_t entries = FirstEntries;
  const std::uint64_t end = static_cast<std::uint64_t>(base) + size;
  bool complete = false;
  std::uint64_t at = base;
  for (auto line = posix::FirstEndingAbove(*maps, at); at < end && !complete; ++line) {
    // Memory that is gone since the maps were read: the read will come back short.
    if (line == maps->end() || line->start > at) {
      if (!stretch.found) return FALSE;
      break;
    }
    const std::uint64_t to = std::min(line->end, end);
    if (line->shared) {
      complete = AddPages(stretch, at, to, true);
    } else if (!AddPrivatePages(process->pagemapFd, page, at, to, stretch, entries, complete)) {
      return FALSE;
    }
    at = to;
  }
  *stretchBase = static_cast<ULONG_PTR>(stretch.found ? stretch.first : base);
  *stretchSize = static_cast<SIZE_T>(stretch.found ? stretch.end - stretch.first : 0);
  return TRUE;
}

}  // namespace platform
