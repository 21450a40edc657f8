#include <cerrno>
#include <csignal>
#include <cstring>
#include <unistd.h>

#include "platform/console.h"

namespace platform {

void PrepareConsole() { std::signal(SIGPIPE, SIG_IGN); }

const char* RawCommandLine() { return nullptr; }

bool StandardOutputIsConsole() { return isatty(STDOUT_FILENO) == 1; }

bool WriteStandardOutput(const char* data, std::size_t size, std::string& failure) {
  while (size > 0) {
    const ssize_t written = write(STDOUT_FILENO, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      failure = written < 0 ? std::strerror(errno) : "nothing was written";
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

void WriteStandardError(const std::string& text) {
  const char* data = text.data();
  std::size_t size = text.size();
  while (size > 0) {
    const ssize_t written = write(STDERR_FILENO, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

const char* LineEnd() { return "\n"; }

std::string ToolName() { return program_invocation_short_name; }

// Reading another process's memory takes the rights a debugger needs; the
// ptrace policy of the Yama security module (Ubuntu's default is 1) may narrow
// them to a user's own programs' children.
const char* RightsAdvice() {
  return "run it as root, or as the emulator's user where kernel.yama.ptrace_scope is 0 (at 1 a user may "
         "read only processes it started)";
}

// A POSIX exit status keeps only 8 bits, and a page-aligned address would read
// as 0, "not found": the status says found (2) or not (0); the address is on
// standard output.
int ExitStatusForResult(bool found, std::uint64_t) { return found ? 2 : 0; }

}  // namespace platform
