// What the files of the Linux process and memory services share: the handles
// they give out, the top of the address space they report, the stat line and
// the maps lines of /proc. Private to src/platform/posix/.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/process_services.h"

namespace platform {
namespace posix {

// Regions are reported up to the end of what an address of the build's width
// reaches: 4 GiB at 32 bits, where a region that ends there makes BaseAddress +
// RegionSize wrap to 0, which a walk must take as its end; at 64 bits the top
// of x86-64 user space with five-level paging (2^56), above which the kernel
// lists only its own vsyscall page.
const std::uint64_t AddressSpaceEnd = MIRVANE_ADDRESS_BITS == 32 ? 0x100000000ull : 0x100000000000000ull;

std::size_t PageSize();
DWORD ProcessorCount();

// maps.cc
struct Mapping {
  std::uint64_t start;
  std::uint64_t end;
  bool readable;
  bool writable;
  bool executable;
  bool shared;           // writes show in every shared mapping of the file (the 's' flag)
  std::uint64_t offset;  // in the file, at `start`
  std::uint64_t device;  // major << 32 | minor
  std::uint64_t inode;   // 0 for memory of no file
  // Where the mapping that this line continues starts (its own start where it
  // continues none): the lines of one mapping whose pages differ in
  // protection, or that the kernel split otherwise, share it.
  std::uint64_t allocationBase;
};

// handles.cc
enum HandleKind { SnapshotHandle = 1, ProcessHandle = 2 };

struct HandleRecord {
  HandleKind kind;
  HandleRecord* nextLive;
  std::vector<PROCESSENTRY32> entries;  // snapshot: the list, in order
  std::size_t nextEntry;                // snapshot: what Process32Next returns
  pid_t pid;                            // process
  int procDirFd;                        // process: /proc/PID, bound to that very process
  int memFd;                            // process: /proc/PID/mem
  int pagemapFd;                        // process: /proc/PID/pagemap, -1 where it can't be opened
  // process: its maps lines, in address order, as one reading of
  // /proc/PID/maps took them; read again when a region query asks below the
  // one before (a new walk) or after a read came back short.
  std::vector<Mapping> maps;
  bool mapsCurrent;
  std::uint64_t lastQueried;  // the page the last region query asked about
  // process: the pagemap entries of pages [pagemapFirst, pagemapFirst +
  // pagemap.size()), as one read took them for this reading of the maps.
  std::vector<std::uint64_t> pagemap;
  std::uint64_t pagemapFirst;
};

// The live record behind `handle` if it is one of that kind, else null.
HandleRecord* FindLiveHandle(HANDLE handle, HandleKind kind);
HANDLE AddLiveHandle(HandleRecord* record);

// proc_stat.cc
struct StatFields {
  std::string shortName;  // the kernel's name between the parentheses
  char state;
  DWORD parentPid;
  DWORD flags;
  DWORD threadCount;
  unsigned long long startTime;
};

// `path` is relative to `dirFd`, or absolute with AT_FDCWD.
bool ReadStat(int dirFd, const char* path, StatFields& stat);

// maps.cc
// The process's maps lines: those of the last reading where it is current,
// else of a new one taken now; null when /proc/PID/maps can't be read.
const std::vector<Mapping>* CurrentMaps(HandleRecord& process);
// The first of the lines that ends above `address`: the one holding it, or the next.
std::vector<Mapping>::const_iterator FirstEndingAbove(const std::vector<Mapping>& maps,
                                                      std::uint64_t address);

}  // namespace posix
}  // namespace platform
