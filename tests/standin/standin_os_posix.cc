// Linux: the regions lie below 4 GiB, where Mirvane looks, at fixed addresses
// with free gaps between them, so that the kernel never merges two of ours
// into one mapping.
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "standin_os.h"

namespace {

const std::uint64_t LowStart = 0x30000000;
const std::uint64_t LowEnd = 0x80000000;
const std::uint64_t HighStart = 0xC0000000;
const std::uint64_t HighEnd = 0x100000000;
const std::uint64_t GapSize = 0x1000000;  // 16 MiB of nothing after each region

std::uint64_t NextLow = LowStart;
std::uint64_t NextHigh = HighStart;

// Maps at the next free slot of the band without touching anything mapped there.
unsigned char* MapInBand(std::uint32_t size, RegionPlace place, int flags, int fd) {
  std::uint64_t& next = place == PlaceHigh ? NextHigh : NextLow;
  const std::uint64_t end = place == PlaceHigh ? HighEnd : LowEnd;
  while (next + size <= end) {
    void* const wanted = reinterpret_cast<void*>(static_cast<std::uintptr_t>(next));
    next += size + GapSize;
    void* const got = mmap(wanted, size, PROT_READ | PROT_WRITE, flags | MAP_FIXED_NOREPLACE, fd, 0);
    if (got == wanted) return static_cast<unsigned char*>(got);
    // A kernel without MAP_FIXED_NOREPLACE takes the address as a hint only.
    if (got != MAP_FAILED) munmap(got, size);
  }
  return nullptr;
}

std::int64_t MillisecondsNow() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

unsigned char* CommitRegion(std::uint32_t size, RegionPlace place) {
  return MapInBand(size, place, MAP_PRIVATE | MAP_ANONYMOUS, -1);
}

bool MakeInaccessible(unsigned char* region, std::uint32_t size) {
  return mprotect(region, size, PROT_NONE) == 0;
}

unsigned char* MapUnreadableRegion(std::uint32_t size) {
  // A file of one page mapped over `size` bytes: every page past the file's
  // end is mapped, but reading it fails.
  const int fd = memfd_create("standin-short-file", MFD_CLOEXEC);
  if (fd < 0) return nullptr;
  unsigned char* region = nullptr;
  if (ftruncate(fd, static_cast<off_t>(sysconf(_SC_PAGESIZE))) == 0) {
    region = MapInBand(size, PlaceLow, MAP_SHARED, fd);
  }
  close(fd);
  return region;
}

std::uint32_t AddressOf(const unsigned char* memory) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(memory));
}

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }

void AllowMemoryReaders() {
  // Where only a process's ancestors may read it (Yama), this lets Mirvane, a
  // sibling of ours, read us without root.
  prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
}

void WaitForStop(unsigned seconds) {
  const std::int64_t deadline = MillisecondsNow() + static_cast<std::int64_t>(seconds) * 1000;
  char discard[256];
  for (;;) {
    const std::int64_t left = deadline - MillisecondsNow();
    if (left <= 0) return;
    pollfd input = {STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&input, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    if (input.revents & POLLNVAL) {
      // No standard input at all: only the time limit stops us.
      usleep(static_cast<useconds_t>(left > 1000 ? 1000000 : left * 1000));
      continue;
    }
    const ssize_t got = read(STDIN_FILENO, discard, sizeof discard);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;  // end of input, or input that can't be read any more
  }
}
