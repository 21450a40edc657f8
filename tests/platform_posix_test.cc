// The /proc-based process and memory services, tried on real processes: this
// test, its parent and children it starts with known memory layouts.
#include "platform/process_services.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using platform::CloseHandle;
using platform::DWORD;
using platform::HANDLE;
using platform::MEMORY_BASIC_INFORMATION;
using platform::PROCESSENTRY32;
using platform::SIZE_T;
using platform::ULONG_PTR;

const DWORD OpenAccess = platform::PROCESS_QUERY_INFORMATION | platform::PROCESS_VM_READ;
const SIZE_T RecordSize = sizeof(MEMORY_BASIC_INFORMATION);

// Where the reported address space ends: 4 GiB for 32-bit addresses, the top
// of user space for 64-bit ones.
const bool Has64BitAddresses = MIRVANE_ADDRESS_BITS == 64;
const std::uint64_t SpaceEnd = Has64BitAddresses ? 0x100000000000000ull : 0x100000000ull;
const std::uint64_t FourGiB = 0x100000000ull;

// Where the mapping child places its regions, apart from each other by free gaps.
const ULONG_PTR ReadWriteBase = 0x30000000;
const SIZE_T ReadWriteSize = 0x300000;
const ULONG_PTR NoAccessBase = 0x30400000;
const SIZE_T NoAccessSize = 0x100000;
const ULONG_PTR FileBase = 0x30600000;
const SIZE_T FileMappingSize = 0x4000;
const SIZE_T FileLength = 5000;  // the file ends in the mapping's second page
const SIZE_T FilePagesSize = 0x2000;
// Shared memory of 2 MiB (a memfd) mapped shared twice, the first view read-only
// from its middle on (two maps lines); shared once more from its second page
// on; privately; and a second memfd, shared.
const ULONG_PTR ViewBase = 0x30800000;
const ULONG_PTR SecondViewBase = 0x30C00000;
const ULONG_PTR LaterViewBase = 0x31000000;
const ULONG_PTR PrivateViewBase = 0x31400000;
const ULONG_PTR OtherMemoryBase = 0x31800000;
const SIZE_T SharedSize = 0x200000;
// Private memory the child writes in only three pages: the two at 1 MiB and
// the one at 3 MiB.
const ULONG_PTR PartlyTouchedBase = 0x31C00000;
const SIZE_T PartlyTouchedSize = 0x400000;
const SIZE_T FirstTouched = 0x100000;
const SIZE_T LastTouched = 0x300000;
// With 64-bit addresses, also above 4 GiB: known words at an address whose low
// 32 bits are those of ReadWriteBase, so that a cut address reads the wrong
// words; and a 5 GiB mapping that is never touched, so it costs no memory.
// Away from where the sanitizers keep their shadow and their heap.
const std::uint64_t HighWordsBase = 0x200030000000ull;
const std::uint64_t HighWordsSize = 0x200000;
const std::uint64_t SparseBase = 0x200100000000ull;
const std::uint64_t SparseSize = 0x140000000ull;

struct Child {
  pid_t pid;
  int release;  // the child ends when this is closed (-1 for children ended by a signal)
};

const std::uint32_t PatternSeed = 0xA5000000u;

std::uint32_t PatternWord(std::size_t index, std::uint32_t seed = PatternSeed) {
  return seed ^ static_cast<std::uint32_t>(index * 2654435761u);
}

const std::uint32_t HighSeed = 0x5A000000u;

char FileByte(std::size_t index) { return static_cast<char>('a' + index % 23); }

void StopChild(Child& child) {
  if (child.release >= 0)
    close(child.release);
  else
    kill(child.pid, SIGKILL);
  waitpid(child.pid, nullptr, 0);
}

const char* SleepPath() { return access("/usr/bin/sleep", X_OK) == 0 ? "/usr/bin/sleep" : "/bin/sleep"; }

// Whether the process sleeps in a system call: for sleep, once the loader
// and the C library's start are done and its mappings no longer change.
bool WaitUntilAsleep(pid_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  for (int tries = 0; tries < 5000; ++tries) {
    FILE* file = std::fopen(path.c_str(), "r");
    char line[1024] = {};
    bool read = file != nullptr && std::fgets(line, sizeof line, file) != nullptr;
    if (file != nullptr) std::fclose(file);
    const char* nameEnd = std::strrchr(line, ')');
    if (!read || nameEnd == nullptr) return false;
    if (nameEnd[1] == ' ' && nameEnd[2] == 'S') return true;
    usleep(1000);
  }
  return false;
}

// Starts `program` as `sleep 60` (or with another first argument) and returns
// once it sleeps in the new program: the pipe closes at the exec, or carries
// the errno of a failed one.
bool StartProgram(const char* program, Child& child, const char* firstArgument = "sleep") {
  int sync[2];
  if (pipe2(sync, O_CLOEXEC) != 0) return false;
  child.release = -1;
  child.pid = fork();
  if (child.pid == 0) {
    execl(program, firstArgument, "60", static_cast<char*>(nullptr));
    int error = errno;
    ssize_t ignored = write(sync[1], &error, sizeof error);
    (void)ignored;
    _exit(127);
  }
  close(sync[1]);
  int error = 0;
  ssize_t count = read(sync[0], &error, sizeof error);
  close(sync[0]);
  if (child.pid > 0 && count != 0) waitpid(child.pid, nullptr, 0);
  if (child.pid <= 0 || count != 0) return false;
  if (WaitUntilAsleep(child.pid)) return true;
  StopChild(child);
  return false;
}

std::vector<PROCESSENTRY32> TakeSnapshot() {
  std::vector<PROCESSENTRY32> entries;
  HANDLE snapshot = platform::CreateToolhelp32Snapshot(platform::TH32CS_SNAPPROCESS, 0);
  EXPECT_NE(platform::InvalidHandleValue(), snapshot);
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (bool more = platform::Process32First(snapshot, &entry); more;
       more = platform::Process32Next(snapshot, &entry)) {
    entries.push_back(entry);
  }
  EXPECT_EQ(platform::TRUE, CloseHandle(snapshot));
  return entries;
}

int IndexOf(const std::vector<PROCESSENTRY32>& entries, pid_t pid) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].th32ProcessID == static_cast<DWORD>(pid)) return static_cast<int>(i);
  }
  return -1;
}

std::string FileNameOf(pid_t pid) {
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  char target[4096];
  ssize_t length = readlink(link.c_str(), target, sizeof target);
  if (length > 0) {
    std::string name(target, static_cast<std::size_t>(length));
    return name.substr(name.rfind('/') + 1);
  }
  // Another user's program: only the kernel's short name can be read.
  std::string comm;
  FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/comm").c_str(), "r");
  char line[64];
  if (file != nullptr && std::fgets(line, sizeof line, file) != nullptr) comm = line;
  if (file != nullptr) std::fclose(file);
  if (!comm.empty() && comm.back() == '\n') comm.pop_back();
  return comm;
}

TEST(ProcessSnapshot, ListsIdleEntryFirstThenThisProcessAndItsParent) {
  EXPECT_EQ(static_cast<DWORD>(getpid()), platform::GetCurrentProcessId());
  std::vector<PROCESSENTRY32> entries = TakeSnapshot();
  ASSERT_GE(entries.size(), 3u);
  EXPECT_EQ(0u, entries[0].th32ProcessID);
  EXPECT_STREQ("[System Process]", entries[0].szExeFile);

  int self = IndexOf(entries, getpid());
  ASSERT_GT(self, 0);
  EXPECT_STREQ(FileNameOf(getpid()).c_str(), entries[self].szExeFile);
  EXPECT_EQ(static_cast<DWORD>(getppid()), entries[self].th32ParentProcessID);
  EXPECT_GE(entries[self].cntThreads, 1u);

  const std::string parentName = FileNameOf(getppid());
  ASSERT_FALSE(parentName.empty());
  int parent = IndexOf(entries, getppid());
  ASSERT_GT(parent, 0);
  EXPECT_LT(parent, self);
  int byName = -1;  // the parent among the entries of its name
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (parentName == entries[i].szExeFile && i == static_cast<std::size_t>(parent)) byName = parent;
  }
  EXPECT_EQ(parent, byName) << parentName;
}

TEST(ProcessSnapshot, ListsANewChildAfterItsParentAndAmongTheLast) {
  Child child;
  ASSERT_TRUE(StartProgram(SleepPath(), child));
  std::vector<PROCESSENTRY32> entries = TakeSnapshot();
  StopChild(child);

  int self = IndexOf(entries, getpid());
  int sleeper = IndexOf(entries, child.pid);
  ASSERT_GT(self, 0);
  ASSERT_GT(sleeper, self);
  EXPECT_GE(sleeper + 8, static_cast<int>(entries.size()));  // a few may have started since
  EXPECT_STREQ("sleep", entries[sleeper].szExeFile);
  EXPECT_EQ(static_cast<DWORD>(getpid()), entries[sleeper].th32ParentProcessID);
}

// A copy of sleep at `path`.
bool CopySleep(const std::string& path) {
  std::string program;
  int in = open(SleepPath(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  char chunk[65536];
  for (ssize_t count; (count = read(in, chunk, sizeof chunk)) > 0;) program.append(chunk, count);
  close(in);
  int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
  if (out < 0) return false;
  bool written = write(out, program.data(), program.size()) == static_cast<ssize_t>(program.size());
  close(out);
  return written;
}

// A program whose name holds blanks and parentheses, and whose file is gone:
// the name comes without the kernel's " (deleted)", and the fields of its
// stat line behind the name are still read right.
TEST(ProcessSnapshot, NamesADeletedProgramWithParenthesesInItsName) {
  const std::string path = ::testing::TempDir() + "/sl (e) p) x";
  ASSERT_TRUE(CopySleep(path));
  Child child;
  bool started = StartProgram(path.c_str(), child);
  unlink(path.c_str());
  ASSERT_TRUE(started);
  std::vector<PROCESSENTRY32> entries = TakeSnapshot();
  StopChild(child);

  int index = IndexOf(entries, child.pid);
  ASSERT_GT(index, 0);
  EXPECT_STREQ("sl (e) p) x", entries[index].szExeFile);
  EXPECT_EQ(static_cast<DWORD>(getpid()), entries[index].th32ParentProcessID);
  EXPECT_EQ(1u, entries[index].cntThreads);
}

// Wine's loader runs a Windows program with the program's path first in its
// command line: such a process is listed by that program's file name. Copies
// of sleep stand in for the loader, under each name it has had.
TEST(ProcessSnapshot, NamesAProgramUnderWineByItsWindowsFileName) {
  const struct {
    const char* loader;
    const char* firstArgument;
    const char* listedAs;
  } cases[] = {
      {"wine64", "C:\\Program Files\\ePSXe\\ePSXe.exe", "ePSXe.exe"},
      {"wine", "/home/user/games/many_win.exe", "many_win.exe"},
      {"wine-preloader", "C:\\emu/NO$PSX.EXE", "NO$PSX.EXE"},
      {"wine64-preloader", "XEBRA.EXE", "XEBRA.EXE"},
      // No file name after the last separator: the loader's own name stays.
      {"wine64", "C:\\Games\\", "wine64"},
      // Not Wine's loader: its own name, whatever its first argument.
      {"wine64-tool", "C:\\Games\\emu.exe", "wine64-tool"},
  };
  const std::string folder = ::testing::TempDir() + "/wine-loader-" + std::to_string(getpid());
  ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
  for (const auto& c : cases) {
    const std::string path = folder + "/" + c.loader;
    ASSERT_TRUE(CopySleep(path));
    Child child;
    ASSERT_TRUE(StartProgram(path.c_str(), child, c.firstArgument)) << c.loader;
    std::vector<PROCESSENTRY32> entries = TakeSnapshot();
    StopChild(child);
    unlink(path.c_str());
    int index = IndexOf(entries, child.pid);
    ASSERT_GT(index, 0);
    EXPECT_STREQ(c.listedAs, entries[index].szExeFile) << c.loader << " " << c.firstArgument;
  }
  rmdir(folder.c_str());
}

TEST(ProcessSnapshot, KeepsTheRulesOfTheEntryRecordAndOfHandles) {
  EXPECT_EQ(platform::InvalidHandleValue(), platform::CreateToolhelp32Snapshot(0, 0));
  HANDLE snapshot = platform::CreateToolhelp32Snapshot(platform::TH32CS_SNAPPROCESS, 0);
  ASSERT_NE(platform::InvalidHandleValue(), snapshot);
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry - 1;
  EXPECT_EQ(platform::FALSE, platform::Process32First(snapshot, &entry));
  entry.dwSize = sizeof entry + 1;
  EXPECT_EQ(platform::FALSE, platform::Process32Next(snapshot, &entry));

  entry.dwSize = sizeof entry;
  ASSERT_EQ(platform::TRUE, platform::Process32First(snapshot, &entry));
  ASSERT_EQ(platform::TRUE, platform::Process32Next(snapshot, &entry));
  EXPECT_NE(0u, entry.th32ProcessID);
  ASSERT_EQ(platform::TRUE, platform::Process32First(snapshot, &entry));  // starts over
  EXPECT_EQ(0u, entry.th32ProcessID);

  // A snapshot is no process handle, and the reverse.
  MEMORY_BASIC_INFORMATION region;
  EXPECT_EQ(0u, platform::VirtualQueryEx(snapshot, 0x10000, &region, RecordSize));
  HANDLE self = platform::OpenProcess(OpenAccess, platform::FALSE, platform::GetCurrentProcessId());
  ASSERT_NE(nullptr, self);
  EXPECT_EQ(platform::FALSE, platform::Process32First(self, &entry));
  EXPECT_EQ(platform::TRUE, CloseHandle(self));

  EXPECT_EQ(platform::TRUE, CloseHandle(snapshot));
  EXPECT_EQ(platform::FALSE, CloseHandle(snapshot));
  EXPECT_EQ(platform::FALSE, platform::Process32Next(snapshot, &entry));
  EXPECT_EQ(platform::FALSE, CloseHandle(nullptr));
  EXPECT_EQ(platform::FALSE, CloseHandle(platform::InvalidHandleValue()));
  EXPECT_EQ(platform::FALSE, CloseHandle(&entry));
}

// Refused, the error tells lack of rights from a process that has ended.
TEST(OpenProcess, RefusesPidZeroAndProcessesThatHaveEnded) {
  EXPECT_EQ(nullptr, platform::OpenProcess(OpenAccess, platform::FALSE, 0));
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(0);
  siginfo_t info;
  ASSERT_EQ(0, waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT));  // ended, not reaped
  EXPECT_EQ(nullptr, platform::OpenProcess(OpenAccess, platform::FALSE, static_cast<DWORD>(pid)));
  EXPECT_EQ(platform::ERROR_INVALID_PARAMETER, platform::GetLastError());
  ASSERT_EQ(pid, waitpid(pid, nullptr, 0));
  EXPECT_EQ(nullptr, platform::OpenProcess(OpenAccess, platform::FALSE, static_cast<DWORD>(pid)));
  EXPECT_EQ(platform::ERROR_INVALID_PARAMETER, platform::GetLastError());
}

// A process the caller may not read, as a debugger may not: as root, one of
// root's opened as user 65534; otherwise one that made itself undumpable,
// which only a holder of CAP_SYS_PTRACE may read.
TEST(OpenProcess, SaysAccessDeniedWhereRightsFallShort) {
  int ready[2];
  int release[2];
  ASSERT_EQ(0, pipe2(ready, O_CLOEXEC));
  ASSERT_EQ(0, pipe2(release, O_CLOEXEC));
  const pid_t target = fork();
  ASSERT_GE(target, 0);
  if (target == 0) {
    close(release[1]);
    char byte = prctl(PR_SET_DUMPABLE, 0) == 0 ? 'R' : 'F';
    ssize_t ignored = write(ready[1], &byte, 1);
    (void)ignored;
    while (read(release[0], &byte, 1) > 0) {
    }
    _exit(0);
  }
  close(release[0]);
  close(ready[1]);
  char state = 0;
  const bool targetReady = read(ready[0], &state, 1) == 1 && state == 'R';
  close(ready[0]);
  int status = -1;
  if (targetReady) {
    const pid_t opener = fork();
    if (opener == 0) {
      const uid_t nobody = 65534;
      if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
                             setresuid(nobody, nobody, nobody) != 0))
        _exit(3);
      const HANDLE handle = platform::OpenProcess(OpenAccess, platform::FALSE, static_cast<DWORD>(target));
      _exit(handle != nullptr ? 2 : platform::GetLastError() == platform::ERROR_ACCESS_DENIED ? 0 : 1);
    }
    if (opener > 0) waitpid(opener, &status, 0);
  }
  close(release[1]);
  waitpid(target, nullptr, 0);
  ASSERT_TRUE(targetReady);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status))
      << "1: refused with another error, 2: opened, 3: could not become user 65534";
}

// The child's views of shared memory (see ViewBase), placed as their names say.
bool MapSharedMemory() {
  const int memory = memfd_create("mapping-child", MFD_CLOEXEC);
  const int other = memfd_create("mapping-child-other", MFD_CLOEXEC);
  if (memory < 0 || other < 0 || ftruncate(memory, SharedSize) != 0 || ftruncate(other, SharedSize) != 0) {
    return false;
  }
  struct {
    ULONG_PTR base;
    SIZE_T size;
    int flags;
    int fd;
    off_t offset;
  } const views[] = {
      {ViewBase, SharedSize, MAP_SHARED, memory, 0},
      {SecondViewBase, SharedSize, MAP_SHARED, memory, 0},
      {LaterViewBase, SharedSize - 0x1000, MAP_SHARED, memory, 0x1000},
      {PrivateViewBase, SharedSize, MAP_PRIVATE, memory, 0},
      {OtherMemoryBase, SharedSize, MAP_SHARED, other, 0},
  };
  for (const auto& view : views) {
    void* const at = reinterpret_cast<void*>(static_cast<std::uintptr_t>(view.base));
    if (mmap(at, view.size, PROT_READ | PROT_WRITE, view.flags | MAP_FIXED_NOREPLACE, view.fd, view.offset) !=
        at)
      return false;
  }
  return mprotect(reinterpret_cast<char*>(ViewBase) + SharedSize / 2, SharedSize / 2, PROT_READ) == 0;
}

// Starts a child holding, below 4 GiB: a read-write region of known words, an
// inaccessible region, a file mapping twice as long as its file's pages and
// views of shared memory; with 64-bit addresses also the high words and the
// sparse mapping.
bool StartMappingChild(Child& child) {
  std::string path = ::testing::TempDir() + "/mapping_child_XXXXXX";
  int file = mkstemp(&path[0]);
  if (file < 0) return false;
  std::string content;
  for (std::size_t i = 0; i < FileLength; ++i) content += FileByte(i);
  bool written = write(file, content.data(), content.size()) == static_cast<ssize_t>(content.size());
  int ready[2];
  int release[2];
  if (!written || pipe2(ready, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0) return false;
  child.pid = fork();
  if (child.pid == 0) {
    close(release[1]);  // else the child would hold its own release open
    close(ready[0]);
    const int flags = MAP_PRIVATE | MAP_FIXED_NOREPLACE;
    void* words = mmap(reinterpret_cast<void*>(ReadWriteBase), ReadWriteSize, PROT_READ | PROT_WRITE,
                       flags | MAP_ANONYMOUS, -1, 0);
    void* none =
        mmap(reinterpret_cast<void*>(NoAccessBase), NoAccessSize, PROT_NONE, flags | MAP_ANONYMOUS, -1, 0);
    void* mapped = mmap(reinterpret_cast<void*>(FileBase), FileMappingSize, PROT_READ, flags, file, 0);
    void* partly = mmap(reinterpret_cast<void*>(PartlyTouchedBase), PartlyTouchedSize, PROT_READ | PROT_WRITE,
                        flags | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    bool placed = words == reinterpret_cast<void*>(ReadWriteBase) &&
                  none == reinterpret_cast<void*>(NoAccessBase) &&
                  mapped == reinterpret_cast<void*>(FileBase) &&
                  partly == reinterpret_cast<void*>(PartlyTouchedBase) && MapSharedMemory();
    if (placed) {
      char* const touched = static_cast<char*>(partly);
      const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
      for (std::size_t offset : {FirstTouched, FirstTouched + page, LastTouched}) touched[offset] = 1;
    }
    if (placed) {
      std::uint32_t* word = static_cast<std::uint32_t*>(words);
      for (std::size_t i = 0; i < ReadWriteSize / 4; ++i) word[i] = PatternWord(i);
    }
    if (placed && Has64BitAddresses) {
      void* highAt = reinterpret_cast<void*>(static_cast<std::uintptr_t>(HighWordsBase));
      void* sparseAt = reinterpret_cast<void*>(static_cast<std::uintptr_t>(SparseBase));
      void* high = mmap(highAt, HighWordsSize, PROT_READ | PROT_WRITE, flags | MAP_ANONYMOUS, -1, 0);
      void* sparse =
          mmap(sparseAt, SparseSize, PROT_READ | PROT_WRITE, flags | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
      placed = high == highAt && sparse == sparseAt;
      if (placed) {
        std::uint32_t* word = static_cast<std::uint32_t*>(high);
        for (std::size_t i = 0; i < HighWordsSize / 4; ++i) word[i] = PatternWord(i, HighSeed);
      }
    }
    char state = placed ? 'R' : 'F';
    ssize_t ignored = write(ready[1], &state, 1);
    (void)ignored;
    char byte;
    while (read(release[0], &byte, 1) > 0) {
    }
    _exit(0);
  }
  close(file);
  close(ready[1]);
  close(release[0]);
  child.release = release[1];
  char state = 0;
  bool isReady = child.pid > 0 && read(ready[0], &state, 1) == 1 && state == 'R';
  close(ready[0]);
  unlink(path.c_str());
  if (!isReady && child.pid > 0) StopChild(child);
  return isReady;
}

MEMORY_BASIC_INFORMATION Query(HANDLE process, ULONG_PTR address) {
  MEMORY_BASIC_INFORMATION region;
  std::memset(&region, 0xCC, sizeof region);
  EXPECT_EQ(RecordSize, platform::VirtualQueryEx(process, address, &region, RecordSize)) << address;
  return region;
}

// Walks the child's space the way the locator does, with sums of the build's
// width: at 32 bits the sum wraps to 0 after the region that ends at 4 GiB, at
// 64 it passes the highest address.
std::vector<MEMORY_BASIC_INFORMATION> WalkRegions(HANDLE process) {
  platform::SYSTEM_INFO system;
  platform::GetSystemInfo(&system);
  EXPECT_EQ(SpaceEnd - 1, system.lpMaximumApplicationAddress);
  std::vector<MEMORY_BASIC_INFORMATION> regions;
  ULONG_PTR address = 0;
  while (address < system.lpMaximumApplicationAddress && regions.size() < 10000) {
    MEMORY_BASIC_INFORMATION region;
    if (platform::VirtualQueryEx(process, address, &region, RecordSize) == 0) break;
    EXPECT_EQ(address, region.BaseAddress);
    EXPECT_NE(0u, region.RegionSize);
    regions.push_back(region);
    const ULONG_PTR next = region.BaseAddress + region.RegionSize;
    if (next <= address) break;
    address = next;
  }
  EXPECT_TRUE(!regions.empty() &&
              std::uint64_t(regions.back().BaseAddress) + regions.back().RegionSize == SpaceEnd)
      << "the walk did not reach the top, " << std::hex << SpaceEnd;
  return regions;
}

const MEMORY_BASIC_INFORMATION* RegionAt(const std::vector<MEMORY_BASIC_INFORMATION>& regions,
                                         std::uint64_t base) {
  for (const MEMORY_BASIC_INFORMATION& region : regions) {
    if (region.BaseAddress == base) return &region;
  }
  return nullptr;
}

// The walk covers the whole space from 0 without a gap; every maps line below
// the top is a region of its own, with its size and state, and the rest is free.
// Returns how many regions lie above 4 GiB.
int CheckRegionsAreTheMapsLines(const std::vector<MEMORY_BASIC_INFORMATION>& regions, pid_t pid) {
  EXPECT_FALSE(regions.empty());
  if (regions.empty()) return 0;
  EXPECT_EQ(0u, regions.front().BaseAddress);
  for (std::size_t i = 1; i < regions.size(); ++i) {
    EXPECT_EQ(regions[i - 1].BaseAddress + regions[i - 1].RegionSize, regions[i].BaseAddress);
  }
  std::vector<std::uint64_t> starts;
  std::string path = "/proc/" + std::to_string(pid) + "/maps";
  FILE* file = std::fopen(path.c_str(), "r");
  EXPECT_NE(nullptr, file);
  char line[4096];
  while (file != nullptr && std::fgets(line, sizeof line, file) != nullptr) {
    unsigned long long start = 0;
    unsigned long long end = 0;
    char perms[5] = {};
    EXPECT_EQ(3, std::sscanf(line, "%llx-%llx %4s", &start, &end, perms)) << line;
    if (start >= SpaceEnd) continue;
    starts.push_back(start);
    const MEMORY_BASIC_INFORMATION* region = RegionAt(regions, start);
    EXPECT_NE(nullptr, region) << line;
    if (region == nullptr) continue;
    EXPECT_EQ(std::min<std::uint64_t>(end, SpaceEnd) - start, region->RegionSize) << line;
    DWORD state = std::strncmp(perms, "---", 3) == 0 ? platform::MEM_RESERVE : platform::MEM_COMMIT;
    EXPECT_EQ(state, region->State) << line;
  }
  if (file != nullptr) std::fclose(file);
  int aboveFourGiB = 0;
  for (const MEMORY_BASIC_INFORMATION& region : regions) {
    if (std::find(starts.begin(), starts.end(), region.BaseAddress) == starts.end()) {
      EXPECT_EQ(platform::MEM_FREE, region.State) << std::hex << region.BaseAddress;
    }
    if (region.BaseAddress >= FourGiB) ++aboveFourGiB;
  }
  return aboveFourGiB;
}

TEST(ProcessMemory, RegionsOfAChildCoverItsMappingsBelowTheTopWithTheirStates) {
  platform::SYSTEM_INFO system;
  platform::GetSystemInfo(&system);
  EXPECT_EQ(static_cast<DWORD>(sysconf(_SC_PAGESIZE)), system.dwPageSize);
  EXPECT_EQ(0x10000u, system.lpMinimumApplicationAddress);

  Child child;
  ASSERT_TRUE(StartMappingChild(child));
  HANDLE process = platform::OpenProcess(OpenAccess, platform::FALSE, static_cast<DWORD>(child.pid));
  ASSERT_NE(nullptr, process);
  std::vector<MEMORY_BASIC_INFORMATION> regions = WalkRegions(process);
  CheckRegionsAreTheMapsLines(regions, child.pid);

  // Each mapping of the child, and the gaps beside two of them; 0: not checked.
  struct Expected {
    ULONG_PTR base;
    SIZE_T size;
    DWORD state;
    DWORD protect;
    DWORD type;
    ULONG_PTR allocationBase = 0;
  };
  std::vector<Expected> expected = {
      {ReadWriteBase, ReadWriteSize, platform::MEM_COMMIT, platform::PAGE_READWRITE, 0},
      {ReadWriteBase + ReadWriteSize, NoAccessBase - (ReadWriteBase + ReadWriteSize), platform::MEM_FREE, 0,
       0},
      {NoAccessBase, NoAccessSize, platform::MEM_RESERVE, 0, 0},
      // A private mapping of a file holds its pages copied on write, as an image.
      {FileBase, FileMappingSize, platform::MEM_COMMIT, platform::PAGE_READONLY, platform::MEM_IMAGE},
      // A view's read-only half is a line of its own that continues the view.
      {ViewBase, SharedSize / 2, platform::MEM_COMMIT, platform::PAGE_READWRITE, platform::MEM_MAPPED,
       ViewBase},
      {ViewBase + SharedSize / 2, SharedSize / 2, platform::MEM_COMMIT, platform::PAGE_READONLY,
       platform::MEM_MAPPED, ViewBase},
  };
  if (Has64BitAddresses) {
    // Above 4 GiB at their own addresses; the sparse mapping whole, in one region.
    expected.push_back({HighWordsBase, HighWordsSize, 0, platform::PAGE_READWRITE, 0});
    expected.push_back({HighWordsBase + HighWordsSize, 0, platform::MEM_FREE, 0, 0});
    expected.push_back({SparseBase, SparseSize, platform::MEM_COMMIT, 0, platform::MEM_PRIVATE});
  }
  for (const Expected& want : expected) {
    const MEMORY_BASIC_INFORMATION* region = RegionAt(regions, want.base);
    ASSERT_NE(nullptr, region) << std::hex << want.base;
    if (want.size != 0) EXPECT_EQ(want.size, region->RegionSize) << std::hex << want.base;
    if (want.state != 0) EXPECT_EQ(want.state, region->State) << std::hex << want.base;
    if (want.protect != 0) EXPECT_EQ(want.protect, region->Protect) << std::hex << want.base;
    if (want.type != 0) EXPECT_EQ(want.type, region->Type) << std::hex << want.base;
    if (want.allocationBase != 0)
      EXPECT_EQ(want.allocationBase, region->AllocationBase) << std::hex << want.base;
  }

  // A query inside a region answers from its page to the region's end; in the
  // sparse mapping, from past its first 4 GiB.
  MEMORY_BASIC_INFORMATION inside = Query(process, ReadWriteBase + 0x123456);
  EXPECT_EQ(ReadWriteBase + 0x123000, inside.BaseAddress);
  EXPECT_EQ(ReadWriteBase, inside.AllocationBase);
  EXPECT_EQ(ReadWriteSize - 0x123000, inside.RegionSize);
  EXPECT_EQ(platform::MEM_COMMIT, inside.State);
  if (Has64BitAddresses) {
    MEMORY_BASIC_INFORMATION far = Query(process, SparseBase + FourGiB + 0x123456);
    EXPECT_EQ(SparseBase + FourGiB + 0x123000, far.BaseAddress);
    EXPECT_EQ(SparseBase, far.AllocationBase);
    EXPECT_EQ(SparseSize - FourGiB - 0x123000, far.RegionSize);
    EXPECT_EQ(platform::MEM_COMMIT, far.State);
  }

  MEMORY_BASIC_INFORMATION region;
  EXPECT_EQ(0u, platform::VirtualQueryEx(process, ReadWriteBase, &region, RecordSize - 1));
  EXPECT_EQ(0u, platform::VirtualQueryEx(nullptr, ReadWriteBase, &region, RecordSize));
  // The highest address: its page alone, free (at 32 bits by the last-page rule,
  // at 64 because nothing is mapped up there below the top).
  MEMORY_BASIC_INFORMATION last = Query(process, static_cast<ULONG_PTR>(SpaceEnd - 1));
  EXPECT_EQ(SpaceEnd - 0x1000, last.BaseAddress);
  EXPECT_EQ(0x1000u, last.RegionSize);
  EXPECT_EQ(platform::MEM_FREE, last.State);

  StopChild(child);
  EXPECT_EQ(0u, platform::VirtualQueryEx(process, ReadWriteBase, &region, RecordSize));
  char byte;
  EXPECT_EQ(platform::FALSE, platform::ReadProcessMemory(process, ReadWriteBase, &byte, 1, nullptr));
  EXPECT_EQ(platform::TRUE, CloseHandle(process));
}

// sleep is a position-independent program, placed far above 4 GiB, with
// nothing below. With 32-bit addresses its whole space is free, which one
// 32-bit size cannot hold: a free region and then the last page. With 64-bit
// ones every mapping of it is a region at its own address, up to the stack.
TEST(ProcessMemory, AProgramPlacedAboveFourGiBIsReportedAtTheBuildsWidth) {
  Child child;
  ASSERT_TRUE(StartProgram(SleepPath(), child));
  HANDLE process = platform::OpenProcess(OpenAccess, platform::FALSE, static_cast<DWORD>(child.pid));
  ASSERT_NE(nullptr, process);
  std::vector<MEMORY_BASIC_INFORMATION> regions = WalkRegions(process);
  int aboveFourGiB = CheckRegionsAreTheMapsLines(regions, child.pid);
  StopChild(child);
  ASSERT_GE(regions.size(), 2u);
  EXPECT_EQ(platform::MEM_FREE, regions[0].State);
  EXPECT_LE(FourGiB - 0x1000, regions[0].RegionSize);
  if (Has64BitAddresses) {
    int committed = 0;
    for (const MEMORY_BASIC_INFORMATION& region : regions) committed += region.State == platform::MEM_COMMIT;
    EXPECT_LE(5, committed);  // the program, the loader, the C library, the stack, the vDSO
    EXPECT_EQ(static_cast<int>(regions.size()) - 1, aboveFourGiB);
    EXPECT_EQ(platform::MEM_FREE, regions.back().State);
  } else {
    ASSERT_EQ(2u, regions.size());
    EXPECT_EQ(0xFFFFF000u, regions[0].RegionSize);
    EXPECT_EQ(0xFFFFF000u, regions[1].BaseAddress);
    EXPECT_EQ(platform::MEM_FREE, regions[1].State);
  }
  EXPECT_EQ(platform::TRUE, CloseHandle(process));
}

SIZE_T ReadInto(HANDLE process, ULONG_PTR base, std::vector<char>& buffer, platform::BOOL expected) {
  SIZE_T bytesRead = 0xDEAD;
  EXPECT_EQ(expected, platform::ReadProcessMemory(process, base, buffer.data(),
                                                  static_cast<SIZE_T>(buffer.size()), &bytesRead))
      << std::hex << base;
  return bytesRead;
}

// Whether the bytes are the child's pattern words of that seed, from the first on.
bool HoldsPattern(const std::vector<char>& bytes, std::uint32_t seed) {
  for (std::size_t i = 0; i < bytes.size() / 4; ++i) {
    std::uint32_t word;
    std::memcpy(&word, &bytes[i * 4], 4);
    if (word != PatternWord(i, seed)) return false;
  }
  return true;
}

void CheckReadsOfMappingChild(HANDLE process) {
  std::vector<char> words(ReadWriteSize);
  ASSERT_EQ(ReadWriteSize, ReadInto(process, ReadWriteBase, words, platform::TRUE));
  EXPECT_TRUE(HoldsPattern(words, PatternSeed));

  std::uint32_t one = 0;
  EXPECT_EQ(platform::TRUE, platform::ReadProcessMemory(process, ReadWriteBase + 40, &one, 4, nullptr));
  EXPECT_EQ(PatternWord(10), one);

  // Reads that run into pages that cannot be read come back short.
  std::vector<char> across(0x2000);
  EXPECT_EQ(0x1000u, ReadInto(process, ReadWriteBase + ReadWriteSize - 0x1000, across, platform::FALSE));
  std::vector<char> none(NoAccessSize);
  EXPECT_EQ(0u, ReadInto(process, NoAccessBase, none, platform::FALSE));
  // Stretches apart, each to its own place; they stop at the first that runs short.
  std::uint32_t first[4] = {};
  std::uint32_t later[2] = {};
  std::vector<char> unreadable(0x2000);
  const platform::MEMORY_STRETCH stretches[] = {
      {ReadWriteBase, sizeof first, first},
      {ReadWriteBase + 0x1000, sizeof later, later},
      {ReadWriteBase + ReadWriteSize - 0x1000, unreadable.size(), unreadable.data()},
      {ReadWriteBase, sizeof first, later},
  };
  SIZE_T scattered = 0;
  EXPECT_EQ(platform::TRUE, platform::ReadProcessMemoryStretches(process, stretches, 2, &scattered));
  EXPECT_EQ(sizeof first + sizeof later, scattered);
  EXPECT_TRUE(first[0] == PatternWord(0) && first[3] == PatternWord(3) && later[1] == PatternWord(0x401));
  EXPECT_EQ(platform::FALSE, platform::ReadProcessMemoryStretches(process, stretches, 4, &scattered));
  EXPECT_EQ(sizeof first + sizeof later + 0x1000, scattered);
  EXPECT_EQ(PatternWord(0x401), later[1]);
  std::vector<char> file(FileMappingSize);
  ASSERT_EQ(FilePagesSize, ReadInto(process, FileBase, file, platform::FALSE));
  bool fileMatches = true;
  for (std::size_t i = 0; i < FilePagesSize; ++i) {
    fileMatches = fileMatches && file[i] == (i < FileLength ? FileByte(i) : '\0');
  }
  EXPECT_TRUE(fileMatches);
  if (!Has64BitAddresses) return;

  // Above 4 GiB: the high words, not the low ones their cut address would name;
  // the untouched sparse mapping reads as zeros across its first 4 GiB and
  // comes back short at its end.
  std::vector<char> high(HighWordsSize);
  ASSERT_EQ(HighWordsSize, ReadInto(process, HighWordsBase, high, platform::TRUE));
  EXPECT_TRUE(HoldsPattern(high, HighSeed));
  std::vector<char> sparse(0x2000, 'x');
  EXPECT_EQ(0x2000u, ReadInto(process, SparseBase + FourGiB - 0x1000, sparse, platform::TRUE));
  EXPECT_EQ(sparse.size(), static_cast<std::size_t>(std::count(sparse.begin(), sparse.end(), '\0')));
  EXPECT_EQ(0x1000u, ReadInto(process, SparseBase + SparseSize - 0x1000, sparse, platform::FALSE));
}

TEST(ProcessMemory, ReadsCopyTheKnownBytesAndStopShortAtUnreadablePages) {
  Child child;
  ASSERT_TRUE(StartMappingChild(child));
  HANDLE process = platform::OpenProcess(OpenAccess, platform::FALSE, static_cast<DWORD>(child.pid));
  ASSERT_NE(nullptr, process);
  CheckReadsOfMappingChild(process);
  StopChild(child);
  EXPECT_EQ(platform::TRUE, CloseHandle(process));
}

// Views of one memory are shared mappings of one file at the same offsets,
// whatever their addresses and however many maps lines they span.
TEST(ProcessMemory, SameMemoryBehindOnlySharedViewsOfOneFileAtTheSameOffsets) {
  Child child;
  ASSERT_TRUE(StartMappingChild(child));
  HANDLE process = platform::OpenProcess(OpenAccess, platform::FALSE, static_cast<DWORD>(child.pid));
  ASSERT_NE(nullptr, process);
  const struct {
    ULONG_PTR first;
    ULONG_PTR second;
    SIZE_T size;
    platform::BOOL same;
  } cases[] = {
      {ViewBase, SecondViewBase, SharedSize, platform::TRUE},
      {SecondViewBase + 0x1000, LaterViewBase, 0x1000, platform::TRUE},
      {ViewBase, LaterViewBase, 0x1000, platform::FALSE},  // one page apart in the file
      {ViewBase, PrivateViewBase, SharedSize, platform::FALSE},
      {ViewBase, OtherMemoryBase, SharedSize, platform::FALSE},
      {ViewBase, SecondViewBase, SharedSize + 0x1000, platform::FALSE},  // past the views' end
      {ReadWriteBase, ReadWriteBase, 0x1000, platform::FALSE},           // memory of no file
  };
  for (const auto& views : cases) {
    EXPECT_EQ(views.same, platform::SameMemoryBehind(process, views.first, views.second, views.size))
        << std::hex << views.first << " " << views.second << " " << views.size;
  }
  EXPECT_EQ(platform::FALSE, platform::SameMemoryBehind(nullptr, ViewBase, SecondViewBase, SharedSize));
  StopChild(child);
  EXPECT_EQ(platform::TRUE, CloseHandle(process));
}

// Which pages may have been written: of private memory the pages in memory
// (those the child wrote; swapped ones are not staged here), none of a file
// mapping never read; of shared memory every page, across its maps lines; a
// stretch is no longer than asked, and memory that isn't there can't be told.
TEST(ProcessMemory, TouchedPagesAreThoseInMemoryOfPrivateMappingsAndAllOfSharedOnes) {
  Child child;
  ASSERT_TRUE(StartMappingChild(child));
  HANDLE process = platform::OpenProcess(OpenAccess, platform::FALSE, static_cast<DWORD>(child.pid));
  ASSERT_NE(nullptr, process);
  const SIZE_T page = static_cast<SIZE_T>(sysconf(_SC_PAGESIZE));
  const SIZE_T longest = 0x100000;
  const ULONG_PTR afterFirst = PartlyTouchedBase + FirstTouched + 2 * page;
  const ULONG_PTR partlyEnd = PartlyTouchedBase + PartlyTouchedSize;
  const struct {
    ULONG_PTR base;
    SIZE_T size;
    SIZE_T longest;
    platform::BOOL tells;
    ULONG_PTR stretchBase;
    SIZE_T stretchSize;
  } cases[] = {
      {PartlyTouchedBase, PartlyTouchedSize, longest, platform::TRUE, PartlyTouchedBase + FirstTouched,
       2 * page},
      {afterFirst, partlyEnd - afterFirst, longest, platform::TRUE, PartlyTouchedBase + LastTouched, page},
      {PartlyTouchedBase + LastTouched + page, partlyEnd - (PartlyTouchedBase + LastTouched + page), longest,
       platform::TRUE, 0, 0},
      {FileBase, page, longest, platform::TRUE, 0, 0},
      {ReadWriteBase, ReadWriteSize, longest, platform::TRUE, ReadWriteBase, longest},
      {ReadWriteBase + page, ReadWriteSize - page, ReadWriteSize, platform::TRUE, ReadWriteBase + page,
       ReadWriteSize - page},
      {ViewBase, SharedSize, SharedSize, platform::TRUE, ViewBase, SharedSize},
      {NoAccessBase - page, page, longest, platform::FALSE, 0, 0},
  };
  for (const auto& pages : cases) {
    ULONG_PTR stretchBase = 0;
    SIZE_T stretchSize = 0xDEAD;
    EXPECT_EQ(pages.tells, platform::FindTouchedPages(process, pages.base, pages.size, pages.longest,
                                                      &stretchBase, &stretchSize))
        << std::hex << pages.base;
    if (pages.tells == platform::FALSE) continue;
    if (pages.stretchSize != 0) {
      EXPECT_EQ(pages.stretchBase, stretchBase) << std::hex << pages.base;
    }
    EXPECT_EQ(pages.stretchSize, stretchSize) << std::hex << pages.base;
  }
  ULONG_PTR stretchBase = 0;
  SIZE_T stretchSize = 0;
  EXPECT_EQ(platform::FALSE, platform::FindTouchedPages(nullptr, ReadWriteBase, ReadWriteSize, longest,
                                                        &stretchBase, &stretchSize));
  StopChild(child);
  EXPECT_EQ(platform::TRUE, CloseHandle(process));
}

#if defined(__x86_64__)
// Makes process_vm_readv fail with EPERM in this process and its children,
// as a container's system-call filter may.
bool RefuseProcessVmReadv() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_process_vm_readv, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

void CheckReadsWithoutProcessVmReadv() {
  ASSERT_TRUE(RefuseProcessVmReadv());
  char byte = 0;
  iovec local = {&byte, 1};
  iovec remote = {&byte, 1};
  ASSERT_EQ(-1, process_vm_readv(getpid(), &local, 1, &remote, 1, 0));
  Child child;
  ASSERT_TRUE(StartMappingChild(child));
  HANDLE process = platform::OpenProcess(OpenAccess, platform::FALSE, static_cast<DWORD>(child.pid));
  EXPECT_NE(nullptr, process);
  if (process != nullptr) CheckReadsOfMappingChild(process);
  StopChild(child);
}

// /proc/PID/mem can read pages the target itself may not; the results must
// still be those of process_vm_readv.
TEST(ProcessMemory, ReadsGiveTheSameResultsWhereProcessVmReadvIsRefused) {
  pid_t checker = fork();
  ASSERT_GE(checker, 0);
  if (checker == 0) {
    CheckReadsWithoutProcessVmReadv();
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(checker, waitpid(checker, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "see the checker's failures above";
}
#endif

int MappedPages(void* buffer, SIZE_T size) {
  const SIZE_T page = static_cast<SIZE_T>(sysconf(_SC_PAGESIZE));
  int mapped = 0;
  for (SIZE_T offset = 0; offset < size + 2 * page; offset += page) {
    unsigned char resident;
    if (mincore(static_cast<char*>(buffer) - page + offset, 1, &resident) == 0) ++mapped;
  }
  return mapped;
}

void* Allocate(SIZE_T size) {
  return platform::VirtualAlloc(nullptr, size, platform::MEM_COMMIT | platform::MEM_RESERVE,
                                platform::PAGE_READWRITE);
}

TEST(VirtualAlloc, GivesHugePageAlignedBuffersAndKeepsAtMostOneReleasedForReuse) {
  EXPECT_EQ(nullptr, Allocate(0));
  const SIZE_T size = 0x300005;
  void* first = Allocate(size);
  void* second = Allocate(100);
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(first) % 0x200000);
  std::memset(first, 0x5A, size);
  std::memset(second, 0x5A, 100);

  EXPECT_EQ(platform::FALSE, platform::VirtualFree(first, size, platform::MEM_RELEASE));
  EXPECT_EQ(platform::TRUE, platform::VirtualFree(first, 0, platform::MEM_RELEASE));
  EXPECT_EQ(platform::FALSE, platform::VirtualFree(first, 0, platform::MEM_RELEASE));
  // The next buffer of no larger size reuses the released one's pages.
  void* again = Allocate(size - 0x1000);
  EXPECT_EQ(first, again);
  EXPECT_EQ(platform::TRUE, platform::VirtualFree(again, 0, platform::MEM_RELEASE));
  // A larger one does not, and the kept one goes before it is mapped.
  void* larger = Allocate(size + 0x200000);
  ASSERT_NE(nullptr, larger);
  if (larger != first) {
    EXPECT_EQ(0, MappedPages(first, size));  // unless the new mapping took its place
  }
  EXPECT_EQ(platform::TRUE, platform::VirtualFree(larger, 0, platform::MEM_RELEASE));
  // Releasing another buffer unmaps the one kept before: only one is ever kept.
  EXPECT_EQ(platform::TRUE, platform::VirtualFree(second, 0, platform::MEM_RELEASE));
  EXPECT_EQ(0, MappedPages(larger, size + 0x200000));
  EXPECT_EQ(platform::FALSE, platform::VirtualFree(nullptr, 0, platform::MEM_RELEASE));
}

}  // namespace
