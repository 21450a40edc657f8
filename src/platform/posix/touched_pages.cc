// FindTouchedPages over /proc/PID/pagemap: 8 bytes a page, bit 63 set for a
// page in memory, bit 62 for one swapped out; the kernel shows these bits to
// whoever may read the memory. The pagemap is indexed by address, so the
// entries of neighbouring mappings lie side by side: it is read in windows of
// bounded size that run on past the mapping asked about, and a window serves
// every later question it answers, so a walk over thousands of small
// mappings reads the pagemap in few calls, and no page's entry twice. A run of
// many GiB costs no more memory than a small one, and the kernel answers fast
// where no page table was ever made, so a never-touched run costs little time.
// Pages are the system's own size: 16 and 64 KiB on some ARM64 systems.
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
// Entries per pagemap read: 32 MiB of address space with 4 KiB pages, in 64 KiB.
const std::size_t WindowEntries = 8192;

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

// The window of entries that holds page number `page`: the one read last, or
// a new one read from that page on. False where the pagemap can't be read.
bool WindowHolding(posix::HandleRecord& process, std::uint64_t page) {
  std::vector<std::uint64_t>& entries = process.pagemap;
  if (page >= process.pagemapFirst && page - process.pagemapFirst < entries.size()) return true;
  entries.resize(WindowEntries);
  for (;;) {
    const ssize_t count = pread(process.pagemapFd, entries.data(), WindowEntries * sizeof entries[0],
                                static_cast<off_t>(page * sizeof entries[0]));
    if (count < 0 && errno == EINTR) continue;
    // Near the top of the address space the window is cut short.
    entries.resize(count < 0 ? 0 : static_cast<std::size_t>(count) / sizeof entries[0]);
    process.pagemapFirst = page;
    return !entries.empty();
  }
}

// Adds the pages [from, to) of one private mapping as the pagemap tells them.
bool AddPrivatePages(posix::HandleRecord& process, std::uint64_t pageSize, std::uint64_t from, std::uint64_t to,
                     Stretch& stretch, bool& complete) {
  for (std::uint64_t at = from; at < to && !complete; at += pageSize) {
    const std::uint64_t page = at / pageSize;
    if (!WindowHolding(process, page)) return false;
    const std::uint64_t entry = process.pagemap[page - process.pagemapFirst];
    complete = AddPages(stretch, at, at + pageSize, (entry & PresentOrSwapped) != 0);
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
    } else if (!AddPrivatePages(*process, page, at, to, stretch, complete)) {
      return FALSE;
    }
    at = to;
  }
  *stretchBase = static_cast<ULONG_PTR>(stretch.found ? stretch.first : base);
  *stretchSize = static_cast<SIZE_T>(stretch.found ? stretch.end - stretch.first : 0);
  return TRUE;
}

}  // namespace platform
