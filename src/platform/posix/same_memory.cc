// SameMemoryBehind over /proc/PID/maps: two ranges are views of the same
// memory when both lie in shared mappings of one file (memfd and /dev/shm
// objects are files too, and a deleted file keeps its inode) at the same
// offsets. A range may span several maps lines, as where part of a view is
// write-protected.
#include <cstdint>

#include "platform/posix/internal.h"

namespace platform {
namespace {

struct FileSpan {
  std::uint64_t device;
  std::uint64_t inode;
  std::uint64_t offset;  // in the file, at the range's first byte
};

// Whether every byte of the range lies in one shared mapping of a file; `span`
// tells which file and where. The lines of one mapping share its
// allocationBase, which they have only where each goes on with the file at
// the offsets that follow on, without a gap: the lines holding the range's
// first and last bytes tell it all.
bool SharedFileSpan(const std::vector<posix::Mapping>& maps, std::uint64_t from, std::uint64_t size,
                    FileSpan& span) {
  const auto first = posix::FirstEndingAbove(maps, from);
  const auto last = posix::FirstEndingAbove(maps, from + size - 1);
  if (last == maps.end() || first->start > from || !first->shared || first->inode == 0 ||
      last->allocationBase != first->allocationBase) {
    return false;
  }
  span = FileSpan{first->device, first->inode, first->offset + (from - first->start)};
  return true;
}

}  // namespace

BOOL SameMemoryBehind(HANDLE hProcess, ULONG_PTR first, ULONG_PTR second, SIZE_T size) {
  posix::HandleRecord* process = posix::FindLiveHandle(hProcess, posix::ProcessHandle);
  if (process == nullptr || size == 0 || size > posix::AddressSpaceEnd ||
      first > posix::AddressSpaceEnd - size || second > posix::AddressSpaceEnd - size) {
    return FALSE;
  }
  // The maps as the walk read them: the views were seen in that memory.
  const std::vector<posix::Mapping>* maps = posix::CurrentMaps(*process);
  FileSpan one;
  FileSpan other;
  const bool same = maps != nullptr && SharedFileSpan(*maps, first, size, one) &&
                    SharedFileSpan(*maps, second, size, other) && one.device == other.device &&
                    one.inode == other.inode && one.offset == other.offset;
  return same ? TRUE : FALSE;
}

}  // namespace platform
