// Linux: the regions lie at fixed addresses in bands of their own (below
// 4 GiB, across it and far above it), with free gaps between them, so that
// the kernel never merges two of ours into one mapping. They are mapped
// without reserving swap, so a region of many GiB costs nothing until it is
// touched. Reads of a watched region are caught with userfaultfd: another
// process's read of a page we never touched faults, and the fault waits for us.
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <linux/userfaultfd.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "standin_os.h"

namespace {

const std::uint64_t FourGiB = 0x100000000;
const std::uint64_t GapSize = 0x1000000;  // 16 MiB of nothing after each region

// The next free slot of a band, and where the band ends.
struct Band {
  std::uint64_t next;
  std::uint64_t end;
};
// The low band starts low enough to hold one region of 1.5 GiB.
Band LowBand = {0x10000000, 0x80000000};
Band HighBand = {0xC0000000, FourGiB};
// Far above 4 GiB, where 64-bit emulators get their memory, yet below the
// terabyte in which the system (with its usual 28 bits of randomness) puts
// libraries; a slot taken anyway is passed over.
Band AboveBand = {0x7E5A00000000, 0x7E6A00000000};

// The one watched region, and the userfaultfd that reports its first read (-1: none).
struct WatchedRegion {
  unsigned char* start;
  std::uint64_t size;
  ReadReaction reaction;
};
WatchedRegion Watched;
int WatchFd = -1;
bool StopAsked = false;

const int RegionFlags = MAP_NORESERVE | MAP_FIXED_NOREPLACE;

// Whether the mapping could be made at `address` itself (which may be 0).
bool MapExactlyAt(std::uint64_t address, std::uint64_t size, int flags, int fd) {
  void* const wanted = reinterpret_cast<void*>(static_cast<std::uintptr_t>(address));
  void* const got = mmap(wanted, size, PROT_READ | PROT_WRITE, flags | RegionFlags, fd, 0);
  if (got == wanted) return true;
  // A kernel without MAP_FIXED_NOREPLACE takes the address as a hint only.
  if (got != MAP_FAILED) munmap(got, size);
  return false;
}

unsigned char* MapAt(std::uint64_t address, std::uint64_t size, int flags, int fd) {
  if (!MapExactlyAt(address, size, flags, fd)) return nullptr;
  return reinterpret_cast<unsigned char*>(static_cast<std::uintptr_t>(address));
}

// Maps at the next free slot of the band without touching anything mapped there.
unsigned char* MapInBand(std::uint64_t size, RegionPlace place, int flags, int fd) {
  if (place == PlaceAcross4GiB) return MapAt(FourGiB - size / 2, size, flags, fd);
  Band& band = place == PlaceHigh ? HighBand : place == PlaceAbove4GiB ? AboveBand : LowBand;
  while (band.next + size <= band.end) {
    const std::uint64_t address = band.next;
    band.next += size + GapSize;
    if (unsigned char* const region = MapAt(address, size, flags, fd)) return region;
  }
  return nullptr;
}

std::int64_t MillisecondsNow() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The watched region has been read: react while the reader waits, then stop
// watching, which lets the read go on over what is left.
void ReactToWatchedRead() {
  uffd_msg message;
  if (read(WatchFd, &message, sizeof message) != static_cast<ssize_t>(sizeof message)) return;
  if (message.event != UFFD_EVENT_PAGEFAULT) return;
  unsigned char* const upperHalf = Watched.start + Watched.size / 2;
  switch (Watched.reaction) {
    case ExitOnRead: _exit(0);  // our end wakes the reader
    case StopOnRead: StopAsked = true; break;
    case UnmapUpperHalfOnRead: munmap(upperHalf, Watched.size / 2); break;
    case ProtectUpperHalfOnRead: mprotect(upperHalf, Watched.size / 2, PROT_NONE); break;
  }
  uffdio_range range = {reinterpret_cast<std::uintptr_t>(Watched.start), Watched.size};
  ioctl(WatchFd, UFFDIO_UNREGISTER, &range);
  close(WatchFd);
  WatchFd = -1;
}

}  // namespace

unsigned char* CommitRegion(std::uint64_t size, RegionPlace place) {
  return MapInBand(size, place, MAP_PRIVATE | MAP_ANONYMOUS, -1);
}

bool ReleaseRegion(unsigned char* region, std::uint64_t size) { return munmap(region, size) == 0; }

bool MakeInaccessible(unsigned char* region, std::uint64_t size) {
  return mprotect(region, size, PROT_NONE) == 0;
}

int CreateSharedMemory(std::uint64_t size) {
  const int fd = memfd_create("standin-ram", MFD_CLOEXEC);
  if (fd < 0) return -1;
  if (ftruncate(fd, static_cast<off_t>(size)) == 0) return fd;
  close(fd);
  return -1;
}

unsigned char* MapSharedView(int memory, std::uint64_t size, RegionPlace place) {
  return MapInBand(size, place, MAP_SHARED, memory);
}

unsigned char* ReserveRange(std::uint64_t size, RegionPlace place) {
  unsigned char* const range = MapInBand(size, place, MAP_PRIVATE | MAP_ANONYMOUS, -1);
  if (range && mprotect(range, size, PROT_NONE) != 0) return nullptr;
  return range;
}

bool MapSharedViewAt(int memory, std::uint64_t size, unsigned char* at) {
  // MAP_FIXED replaces the reserved pages there, and only those.
  return mmap(at, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, memory, 0) == at;
}

bool MakeReadOnly(unsigned char* memory, std::uint64_t size) {
  return mprotect(memory, size, PROT_READ) == 0;
}

// Below vm.mmap_min_addr only a process with CAP_SYS_RAWIO (root) may map.
bool MapFromAddressZero(int memory, std::uint64_t size, int count) {
  const int flags = memory < 0 ? MAP_PRIVATE | MAP_ANONYMOUS : MAP_SHARED;
  for (int i = 0; i < count; ++i) {
    if (!MapExactlyAt(static_cast<std::uint64_t>(i) * size, size, flags, memory)) return false;
  }
  return true;
}

// Read at run time: a constant null pointer would let the compiler drop our writes there.
volatile std::uintptr_t ZeroAddress = 0;

unsigned char* AddressZero() { return reinterpret_cast<unsigned char*>(ZeroAddress); }

unsigned char* MapUnreadableRegion(std::uint64_t size, std::uint64_t readable) {
  // A file of `readable` bytes mapped over `size` bytes: every page past the
  // file's end is mapped, but reading it fails.
  const int fd = memfd_create("standin-short-file", MFD_CLOEXEC);
  if (fd < 0) return nullptr;
  unsigned char* region = nullptr;
  if (ftruncate(fd, static_cast<off_t>(readable)) == 0) {
    region = MapInBand(size, PlaceLow, MAP_SHARED, fd);
  }
  close(fd);
  return region;
}

std::uint64_t AddressOf(const unsigned char* memory) { return reinterpret_cast<std::uintptr_t>(memory); }

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }

bool WatchFirstRead(unsigned char* region, std::uint64_t size, ReadReaction reaction) {
#ifdef SYS_userfaultfd
  // Faults of another process's reads are kernel faults: without root, or with
  // vm.unprivileged_userfaultfd set, the kernel refuses to report them.
  const int fd = static_cast<int>(syscall(SYS_userfaultfd, O_CLOEXEC | O_NONBLOCK));
  if (fd < 0) return false;
  uffdio_api api = {};
  api.api = UFFD_API;
  uffdio_register registration = {};
  registration.range.start = reinterpret_cast<std::uintptr_t>(region);
  registration.range.len = size;
  registration.mode = UFFDIO_REGISTER_MODE_MISSING;
  if (ioctl(fd, UFFDIO_API, &api) != 0 || ioctl(fd, UFFDIO_REGISTER, &registration) != 0) {
    close(fd);
    return false;
  }
  Watched = WatchedRegion{region, size, reaction};
  WatchFd = fd;
  return true;
#else
  (void)region;
  (void)size;
  (void)reaction;
  return false;
#endif
}

void AllowMemoryReaders() {
  // Where only a process's ancestors may read it (Yama), this lets Mirvane, a
  // sibling of ours, read us without root.
  prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
}

void WaitForStop(unsigned milliseconds) {
  const std::int64_t deadline = MillisecondsNow() + static_cast<std::int64_t>(milliseconds);
  // A negative descriptor is one poll passes over: no standard input, or no watch.
  pollfd waits[2] = {{STDIN_FILENO, POLLIN, 0}, {WatchFd, POLLIN, 0}};
  char discard[256];
  while (!StopAsked) {
    const std::int64_t left = deadline - MillisecondsNow();
    if (left <= 0) return;
    waits[1].fd = WatchFd;
    const int ready = poll(waits, 2, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    if (waits[1].revents & POLLIN) {
      ReactToWatchedRead();
    } else if (waits[1].revents != 0) {
      close(WatchFd);  // a watch that fails can't report reads any more
      WatchFd = -1;
    }
    if (waits[0].revents & POLLNVAL) {
      waits[0].fd = -1;  // no standard input at all: only the time limit stops us
    } else if (waits[0].revents != 0) {
      const ssize_t got = read(STDIN_FILENO, discard, sizeof discard);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return;  // end of input, or input that can't be read any more
    }
  }
}
