// The lines of /proc/PID/maps, read a chunk at a time and parsed one by one.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "platform/posix/internal.h"

namespace platform {
namespace posix {
namespace {

bool ParseMapsLine(char* line, Mapping& mapping) {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  std::uint64_t offset = 0;
  unsigned major = 0;
  unsigned minor = 0;
  std::uint64_t inode = 0;
  char perms[5] = {};
  if (std::sscanf(line, "%" SCNx64 "-%" SCNx64 " %4s %" SCNx64 " %x:%x %" SCNu64, &start, &end, perms,
                  &offset, &major, &minor, &inode) != 7 ||
      end <= start) {
    return false;
  }
  mapping.start = start;
  mapping.end = end;
  mapping.readable = perms[0] == 'r';
  mapping.writable = perms[1] == 'w';
  mapping.executable = perms[2] == 'x';
  mapping.shared = perms[3] == 's';
  mapping.offset = offset;
  mapping.device = static_cast<std::uint64_t>(major) << 32 | minor;
  mapping.inode = inode;
  return true;
}

}  // namespace

bool OpenMaps(const HandleRecord& process, MapsReader& reader) {
  reader.fd = openat(process.procDirFd, "maps", O_RDONLY | O_CLOEXEC);
  reader.text.clear();
  reader.parsed = 0;
  reader.atEnd = false;
  return reader.fd >= 0;
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

}  // namespace posix
}  // namespace platform
