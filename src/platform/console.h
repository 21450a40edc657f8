// The console and process services of the tool itself: the raw command line,
// standard output and error, the exit status. One implementation per platform
// (console_win32.cc, console_posix.cc).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Readies the standard handles (on POSIX: a closed pipe must give a write
// error, not end the process).
void PrepareConsole();

// The raw command line as the system passed it, program name first; null
// where the system passes arguments already split (POSIX argv).
const char* RawCommandLine();

// True when standard output is an interactive console rather than a file or pipe.
bool StandardOutputIsConsole();

// Writes all of `size` bytes; false with a reason when that fails.
bool WriteStandardOutput(const char* data, std::size_t size, std::string& failure);

// Writes a report to standard error (on Windows in the console's OEM code page).
void WriteStandardError(const std::string& text);

// How every output line ends on this platform.
const char* LineEnd();

// The name the tool was started by, without a folder (or ".exe"), that starts
// each line it writes to standard error about why the answer is 0.
std::string ToolName();

// What to do where the system refused to let the tool read another process.
const char* RightsAdvice();

// The process exit status that carries whether the RAM was found and its base
// (0: not found).
int ExitStatusForResult(bool found, std::uint64_t ramBase);

}  // namespace platform
