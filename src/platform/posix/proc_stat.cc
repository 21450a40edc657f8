// The fields of a /proc/PID/stat line that the process list and OpenProcess read.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix/internal.h"

namespace platform {
namespace posix {
namespace {

bool ReadSmallFile(int dirFd, const char* path, std::string& content) {
  int fd = openat(dirFd, path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  content.clear();
  char chunk[4096];
  for (;;) {
    ssize_t count = read(fd, chunk, sizeof chunk);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      close(fd);
      return count == 0;
    }
    content.append(chunk, static_cast<std::size_t>(count));
  }
}

}  // namespace

// The short name may hold blanks and parentheses, so the numbered fields are
// counted from after the last ')'.
bool ReadStat(int dirFd, const char* path, StatFields& stat) {
  std::string line;
  if (!ReadSmallFile(dirFd, path, line)) return false;
  std::size_t nameStart = line.find('(');
  std::size_t nameEnd = line.rfind(')');
  if (nameStart == std::string::npos || nameEnd == std::string::npos || nameEnd < nameStart) return false;
  stat.shortName = line.substr(nameStart + 1, nameEnd - nameStart - 1);
  std::vector<unsigned long long> numbers;  // fields 4 onward
  const char* cursor = line.c_str() + nameEnd + 1;
  while (*cursor == ' ') ++cursor;
  if (*cursor == '\0') return false;
  stat.state = *cursor++;
  while (numbers.size() < 20) {
    char* after = nullptr;
    errno = 0;
    unsigned long long number = std::strtoull(cursor, &after, 10);
    if (after == cursor || errno != 0) break;
    numbers.push_back(number);
    cursor = after;
  }
  if (numbers.size() < 19) return false;
  stat.parentPid = static_cast<DWORD>(numbers[0]);     // field 4
  stat.flags = static_cast<DWORD>(numbers[5]);         // field 9
  stat.threadCount = static_cast<DWORD>(numbers[16]);  // field 20
  stat.startTime = numbers[18];                        // field 22
  return true;
}

}  // namespace posix
}  // namespace platform
