// The copy-only pass of the end-to-end benchmark: what reading the target's
// memory costs with nothing else around it. /proc/PID/maps is read once, and
// every region the 64-bit tool reads is copied with process_vm_readv, the scan
// left out. A region is a run of consecutive readable maps lines that continue
// one mapping (anonymous lines that touch, or lines of one file of one kind,
// private or shared, whose offsets run on; the kernel's pseudo-mappings join
// nothing), read when it holds at least 2 MiB:
//   (default)        each region whole into one buffer reused from region to
//                    region, so no page of it faults in twice;
//   --fresh-buffer   each region whole into a buffer of its own, released after
//                    the copy; the difference is what the kernel spends handing
//                    out fresh, zeroed pages;
//   --pieces         each region in 1 MiB pieces into one reused 1 MiB buffer, as
//                    the 64-bit Windows tool reads, and the Linux one read before
//                    it read only touched pages: the limit such a walk can reach;
//   --touched        as --pieces, but of a private region only the stretches of
//                    pages that /proc/PID/pagemap shows present or swapped, as the
//                    Linux tool reads: the limit its walk can reach.
// Whole-region buffers are 2 MiB-aligned with huge pages asked for.
//
//   copy_limit [--fresh-buffer | --pieces | --touched] PID
//   prints "<regions> regions of <lines> maps lines, <bytes> bytes copied"
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const std::uint64_t SmallestRegion = 0x200000;
const std::size_t HugePageSize = 0x200000;
const std::uint64_t PieceSize = 0x100000;  // as the 64-bit tool reads

struct Region {
  std::uint64_t start;
  std::uint64_t size;
  bool shared;
};

// What a maps line tells about whether the next one continues its mapping.
struct MapsLine {
  std::uint64_t start;
  std::uint64_t end;
  std::uint64_t offset;
  std::uint64_t device;
  std::uint64_t inode;  // 0 for anonymous memory
  bool readable;
  bool shared;
  bool pseudo;  // the kernel's own pages, such as [vvar]: reads of them fail
};

bool ParseMapsLine(const char* line, MapsLine& parsed) {
  unsigned major = 0;
  unsigned minor = 0;
  char perms[5] = {};
  int nameAt = 0;
  if (std::sscanf(line, "%" SCNx64 "-%" SCNx64 " %4s %" SCNx64 " %x:%x %" SCNu64 " %n", &parsed.start,
                  &parsed.end, perms, &parsed.offset, &major, &minor, &parsed.inode, &nameAt) != 7 ||
      parsed.end <= parsed.start) {
    return false;
  }
  parsed.device = static_cast<std::uint64_t>(major) << 32 | minor;
  // Write-only pages read as well, as the tool takes them.
  parsed.readable = perms[0] == 'r' || perms[1] == 'w';
  parsed.shared = perms[3] == 's';
  const char* name = line + nameAt;
  parsed.pseudo = false;
  for (const char* pseudo : {"[vvar]", "[vvar_vclock]", "[vsyscall]", "[vdso]"}) {
    parsed.pseudo = parsed.pseudo || std::strcmp(name, pseudo) == 0;
  }
  return true;
}

// Whether `next` continues the mapping that `last` is part of, both readable.
bool Continues(const MapsLine& last, const MapsLine& next) {
  if (!last.readable || !next.readable || last.pseudo || next.pseudo || last.end != next.start) return false;
  if (last.inode == 0 && next.inode == 0) return true;
  return last.device == next.device && last.inode == next.inode && last.shared == next.shared &&
         next.offset == last.offset + (last.end - last.start);
}

bool ReadWholeFile(const char* path, std::string& text) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char chunk[65536];
  ssize_t count;
  while ((count = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<std::size_t>(count));
  close(fd);
  return count == 0;
}

// The regions worth reading, from one reading of the maps; `lines`: how many lines it had.
bool ListRegions(long pid, std::vector<Region>& regions, std::size_t& lines) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%ld/maps", pid);
  std::string text;
  if (!ReadWholeFile(path, text)) return false;
  lines = 0;
  MapsLine last = {};
  Region run = {0, 0, false};
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    text[end] = '\0';
    MapsLine line;
    if (!ParseMapsLine(&text[at], line)) continue;
    ++lines;
    if (lines > 1 && Continues(last, line)) {
      run.size += line.end - line.start;
    } else {
      if (run.size >= SmallestRegion) regions.push_back(run);
      run = line.readable ? Region{line.start, line.end - line.start, line.shared} : Region{0, 0, false};
    }
    last = line;
  }
  if (run.size >= SmallestRegion) regions.push_back(run);
  return true;
}

struct Buffer {
  char* start;  // 2 MiB-aligned
  void* mapping;
  std::size_t mappingLength;
};

bool AllocateHugePageBuffer(std::size_t size, Buffer& buffer) {
  buffer.mappingLength = size + HugePageSize;
  buffer.mapping =
      mmap(nullptr, buffer.mappingLength, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (buffer.mapping == MAP_FAILED) return false;
  const std::uintptr_t aligned =
      (reinterpret_cast<std::uintptr_t>(buffer.mapping) + HugePageSize - 1) & ~(HugePageSize - 1);
  buffer.start = reinterpret_cast<char*>(aligned);
  madvise(buffer.start, size, MADV_HUGEPAGE);
  return true;
}

// Copies `region` to `buffer`, `piece` bytes at a time at the buffer's start
// (all of it at once where `piece` is 0); the bytes copied.
std::uint64_t CopyRegion(pid_t pid, const Region& region, char* buffer, std::uint64_t piece) {
  std::uint64_t done = 0;
  while (done < region.size) {
    const std::uint64_t wanted = piece == 0 ? region.size - done : std::min(piece, region.size - done);
    iovec local = {piece == 0 ? buffer + done : buffer, static_cast<std::size_t>(wanted)};
    iovec remote = {reinterpret_cast<void*>(static_cast<std::uintptr_t>(region.start + done)), local.iov_len};
    const ssize_t count = process_vm_readv(pid, &local, 1, &remote, 1, 0);
    if (count <= 0) break;
    done += static_cast<std::uint64_t>(count);
  }
  return done;
}

// Copies the stretches of a private region's pages that the pagemap shows
// present or swapped in 1 MiB pieces (a shared region whole, in pieces); the
// bytes copied, or -1 where the pagemap can't be read or a copy comes back short.
std::int64_t CopyTouched(pid_t pid, int pagemapFd, const Region& region, char* buffer) {
  if (region.shared) {
    const std::uint64_t count = CopyRegion(pid, region, buffer, PieceSize);
    return count == region.size ? static_cast<std::int64_t>(count) : -1;
  }
  const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  static std::uint64_t entries[8192];
  std::uint64_t copied = 0;
  Region stretch = {0, 0, false};
  for (std::uint64_t at = region.start; at < region.start + region.size;) {
    const std::uint64_t wanted = std::min<std::uint64_t>(8192, (region.start + region.size - at) / page);
    const ssize_t count = pread(pagemapFd, entries, wanted * 8, static_cast<off_t>(at / page * 8));
    if (count < 8) return -1;
    for (std::size_t i = 0; i < static_cast<std::size_t>(count) / 8; ++i, at += page) {
      if ((entries[i] >> 62) != 0) {
        if (stretch.size == 0) stretch.start = at;
        stretch.size += page;
        continue;
      }
      if (stretch.size != 0 && CopyRegion(pid, stretch, buffer, PieceSize) != stretch.size) return -1;
      copied += stretch.size;
      stretch.size = 0;
    }
  }
  if (stretch.size != 0 && CopyRegion(pid, stretch, buffer, PieceSize) != stretch.size) return -1;
  return static_cast<std::int64_t>(copied + stretch.size);
}

}  // namespace

int main(int argc, char** argv) {
  const bool freshBuffer = argc == 3 && std::strcmp(argv[1], "--fresh-buffer") == 0;
  const bool touched = argc == 3 && std::strcmp(argv[1], "--touched") == 0;
  const bool pieces = touched || (argc == 3 && std::strcmp(argv[1], "--pieces") == 0);
  const int pidArgument = freshBuffer || pieces ? 2 : 1;
  char* end = nullptr;
  const long pid = argc == pidArgument + 1 ? std::strtol(argv[pidArgument], &end, 10) : 0;
  if (pid <= 0 || *end != '\0') {
    std::fprintf(stderr, "usage: copy_limit [--fresh-buffer | --pieces | --touched] PID\n");
    return 2;
  }
  std::vector<Region> regions;
  std::size_t lines = 0;
  if (!ListRegions(pid, regions, lines)) {
    std::fprintf(stderr, "copy_limit: cannot read the maps of process %ld\n", pid);
    return 1;
  }
  std::uint64_t largest = 0;
  for (const Region& region : regions) largest = std::max(largest, region.size);
  const std::uint64_t reusedSize = pieces ? PieceSize : largest;
  Buffer reused = {};
  if (!freshBuffer && largest != 0 && !AllocateHugePageBuffer(static_cast<std::size_t>(reusedSize), reused)) {
    std::fprintf(stderr, "copy_limit: no memory for a buffer of %" PRIu64 " bytes\n", reusedSize);
    return 1;
  }
  char pagemapPath[64];
  std::snprintf(pagemapPath, sizeof pagemapPath, "/proc/%ld/pagemap", pid);
  const int pagemapFd = touched ? open(pagemapPath, O_RDONLY | O_CLOEXEC) : -1;
  if (touched && pagemapFd < 0) {
    std::fprintf(stderr, "copy_limit: cannot open the pagemap of process %ld\n", pid);
    return 1;
  }
  std::uint64_t copied = 0;
  for (const Region& region : regions) {
    Buffer buffer = reused;
    if (freshBuffer && !AllocateHugePageBuffer(static_cast<std::size_t>(region.size), buffer)) {
      std::fprintf(stderr, "copy_limit: no memory for a buffer of %" PRIu64 " bytes\n", region.size);
      return 1;
    }
    if (touched) {
      const std::int64_t count = CopyTouched(static_cast<pid_t>(pid), pagemapFd, region, buffer.start);
      if (count < 0) {
        std::fprintf(stderr, "copy_limit: short copy or no pagemap at %" PRIx64 "\n", region.start);
        return 1;
      }
      copied += static_cast<std::uint64_t>(count);
      continue;
    }
    const std::uint64_t count =
        CopyRegion(static_cast<pid_t>(pid), region, buffer.start, pieces ? PieceSize : 0);
    if (freshBuffer) munmap(buffer.mapping, buffer.mappingLength);
    if (count != region.size) {
      std::fprintf(stderr, "copy_limit: short copy at %" PRIx64 "\n", region.start);
      return 1;
    }
    copied += count;
  }
  std::printf("%zu regions of %zu maps lines, %" PRIu64 " bytes copied\n", regions.size(), lines, copied);
  return 0;
}
