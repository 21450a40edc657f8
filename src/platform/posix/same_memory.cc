// SameMemoryBehind over /proc/PID/maps: two ranges are views of the same
// memory when both lie in shared mappings of one file (memfd and /dev/shm
// objects are files too, and a deleted file keeps its inode) at the same
// offsets. A range may span several maps lines, as where part of a view is
// write-protected.
#include <unistd.h>

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
bool SharedFileSpan(const posix::HandleRecord& process, std::uint64_t from, std::uint64_t size,
                    FileSpan& span) {
  posix::MapsReader reader;
  if (!posix::OpenMaps(process, reader)) return false;
  const std::uint64_t to = from + size;
  std::uint64_t reached = from;
  posix::Mapping mapping;
  while (reached < to && posix::NextMapping(reader, mapping) == posix::MapsLine) {
    if (mapping.end <= reached) continue;
    if (mapping.start > reached || !mapping.shared || mapping.inode == 0) break;
    const std::uint64_t offsetThere = mapping.offset + (reached - mapping.start);
    if (reached == from) {
      span = FileSpan{mapping.device, mapping.inode, offsetThere};
    } else if (mapping.device != span.device || mapping.inode != span.inode ||
               offsetThere != span.offset + (reached - from)) {
      break;
    }
    reached = mapping.end;
  }
  close(reader.fd);
  return reached >= to;
}

}  // namespace

BOOL SameMemoryBehind(HANDLE hProcess, ULONG_PTR first, ULONG_PTR second, SIZE_T size) {
  posix::HandleRecord* process = posix::FindLiveHandle(hProcess, posix::ProcessHandle);
  if (process == nullptr || size == 0 || size > posix::AddressSpaceEnd ||
      first > posix::AddressSpaceEnd - size || second > posix::AddressSpaceEnd - size) {
    return FALSE;
  }
  FileSpan one;
  FileSpan other;
  const bool same = SharedFileSpan(*process, first, size, one) &&
                    SharedFileSpan(*process, second, size, other) && one.device == other.device &&
                    one.inode == other.inode && one.offset == other.offset;
  return same ? TRUE : FALSE;
}

}  // namespace platform
