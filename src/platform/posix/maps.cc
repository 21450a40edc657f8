// The lines of /proc/PID/maps, read in one pass and kept with the process
// handle, so that a walk over thousands of mappings reads them once, not once
// per region. That is sound: the kernel writes the file from the live
// mappings a chunk at a time, so no reading was ever more than a moment's
// view, and a mapping that changes after the reading is met where its copy
// comes back short, which drops its hits and has the lines read again.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/posix/internal.h"

namespace platform {
namespace posix {
namespace {

// The kernel's own pages in every process: reads of them fail or mean
// nothing, and no mapping of the process continues into them.
const char* const KernelPseudoMappings[] = {"[vvar]", "[vvar_vclock]", "[vsyscall]", "[vdso]"};

bool IsKernelPseudoMapping(const char* name) {
  for (const char* pseudo : KernelPseudoMappings) {
    if (std::strcmp(name, pseudo) == 0) return true;
  }
  return false;
}

// `pseudo` tells a kernel pseudo-mapping by the name after the inode.
bool ParseMapsLine(char* line, Mapping& mapping, bool& pseudo) {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  std::uint64_t offset = 0;
  unsigned major = 0;
  unsigned minor = 0;
  std::uint64_t inode = 0;
  char perms[5] = {};
  int nameAt = 0;
  if (std::sscanf(line, "%" SCNx64 "-%" SCNx64 " %4s %" SCNx64 " %x:%x %" SCNu64 "%n", &start, &end, perms,
                  &offset, &major, &minor, &inode, &nameAt) != 7 ||
      end <= start) {
    return false;
  }
  const char* name = line + nameAt;
  while (*name == ' ' || *name == '\t') ++name;
  pseudo = IsKernelPseudoMapping(name);
  mapping.start = start;
  mapping.end = end;
  mapping.readable = perms[0] == 'r';
  mapping.writable = perms[1] == 'w';
  mapping.executable = perms[2] == 'x';
  mapping.shared = perms[3] == 's';
  mapping.offset = offset;
  mapping.device = static_cast<std::uint64_t>(major) << 32 | minor;
  mapping.inode = inode;
  mapping.allocationBase = start;
  return true;
}

// Whether `line` goes on with the mapping `before` ends: anonymous memory
// that touches it, or the same file mapped the same way at the offsets that
// follow on.
bool Continues(const Mapping& before, const Mapping& line) {
  if (before.end != line.start) return false;
  if (before.inode == 0 && line.inode == 0) return true;
  return before.inode == line.inode && before.device == line.device && before.shared == line.shared &&
         line.offset == before.offset + (before.end - before.start);
}

// Parses every line of the open maps file into `maps`, in one pass.
bool ParseAllLines(int fd, std::vector<Mapping>& maps) {
  std::string text;
  std::size_t parsed = 0;
  bool lastPseudo = true;  // nothing continues what comes before the first line
  for (bool atEnd = false;;) {
    const std::size_t lineEnd = text.find('\n', parsed);
    if (lineEnd != std::string::npos) {
      text[lineEnd] = '\0';
      Mapping mapping;
      bool pseudo = false;
      if (!ParseMapsLine(&text[parsed], mapping, pseudo)) return false;
      parsed = lineEnd + 1;
      if (!pseudo && !lastPseudo && Continues(maps.back(), mapping)) {
        mapping.allocationBase = maps.back().allocationBase;
      }
      lastPseudo = pseudo;
      maps.push_back(mapping);
      continue;
    }
    if (atEnd) return parsed == text.size();
    text.erase(0, parsed);
    parsed = 0;
    char chunk[16384];
    const ssize_t count = read(fd, chunk, sizeof chunk);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return false;
    if (count == 0) atEnd = true;
    text.append(chunk, static_cast<std::size_t>(count));
  }
}

}  // namespace

const std::vector<Mapping>* CurrentMaps(HandleRecord& process) {
  if (process.mapsCurrent) return &process.maps;
  // Kept no larger than the last reading needed: a process may have 65,000 mappings.
  std::vector<Mapping>().swap(process.maps);
  // A new walk: the pages are told afresh.
  process.pagemap.clear();
  const int fd = openat(process.procDirFd, "maps", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  const bool whole = ParseAllLines(fd, process.maps);
  close(fd);
  if (!whole) return nullptr;
  process.mapsCurrent = true;
  return &process.maps;
}

std::vector<Mapping>::const_iterator FirstEndingAbove(const std::vector<Mapping>& maps,
                                                      std::uint64_t address) {
  return std::upper_bound(maps.begin(), maps.end(), address,
                          [](std::uint64_t at, const Mapping& mapping) { return at < mapping.end; });
}

}  // namespace posix
}  // namespace platform
