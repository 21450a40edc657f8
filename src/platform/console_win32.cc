#include "platform/console.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>
#include <string>

namespace platform {

void PrepareConsole() {}

const char* RawCommandLine() { return GetCommandLineA(); }

bool StandardOutputIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool WriteStandardOutput(const char* data, std::size_t size, std::string& failure) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(out, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) {
      char message[256] = "";
      const DWORD error = GetLastError();
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, message,
                     sizeof message, nullptr);
      failure = message[0] ? message : "write error " + std::to_string(error);
      while (!failure.empty() && (failure.back() == '\n' || failure.back() == '\r')) failure.pop_back();
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

void WriteStandardError(const std::string& text) {
  // Reports are composed in the ANSI code page; the console shows OEM.
  std::string oem = text;
  if (!oem.empty()) CharToOemBuffA(text.data(), &oem[0], static_cast<DWORD>(oem.size()));
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), oem.data(), static_cast<DWORD>(oem.size()), &written, nullptr);
}

const char* LineEnd() { return "\r\n"; }

std::string ToolName() {
  char path[MAX_PATH] = "";
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string name(path, length < sizeof path ? length : 0);
  name.erase(0, name.find_last_of("\\/") + 1);  // npos + 1 is 0: no folder
  if (name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".exe") == 0) name.resize(name.size() - 4);
  return name.empty() ? "Mirvane64" : name;
}

const char* RightsAdvice() { return "run it as administrator, or as the emulator's user"; }

// A base below 4 GiB is the status itself; a higher one can't be, nor a base
// of 0, which means "not found": there the status says "found" (2, never a
// base: bases lie on 4-byte steps) and the address is on standard output.
int ExitStatusForResult(bool found, std::uint64_t ramBase) {
  if (!found) return 0;
  return ramBase > 0xFFFFFFFFu || ramBase == 0 ? 2 : static_cast<int>(static_cast<std::uint32_t>(ramBase));
}

}  // namespace platform
