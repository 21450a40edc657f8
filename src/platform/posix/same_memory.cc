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

// Whether every byte of the range lies in shared mappings of one file, at
// offsets that run on with the addresses; `span` tells which file and where.
bool SharedFileSpan(const std::vector<posix::Mapping>& maps, std::uint64_t from, std::uint64_t size,
                    FileSpan& span) {
  const std::uint64_t to = from + size;
  std::uint64_t reached = from;
  for (auto mapping = posix::FirstEndingAbove(maps, from); mapping != maps.end() && reached < to; ++mapping) {
    if (mapping->start > reached || !mapping->shared || mapping->inode == 0) break;
    const std::uint64_t offsetThere = mapping->offset + (reached - mapping->start);
    if (reached == from) {
      span = FileSpan{mapping->device, mapping->inode, offsetThere};
    } else if (mapping->device != span.device || mapping->inode != span.inode ||
               offsetThere != span.offset + (reached - from)) {
      break;
    }
    reached = mapping->end;
  }
  return reached >= to;
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
