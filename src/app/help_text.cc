#include "app/help_text.h"

#include <initializer_list>
#include <iterator>

#include "platform/address_width.h"
#include "platform/output_lines.h"

namespace {

// How the "type" switch writes the address: the same lines in every tool's help.
const char* const TypeSwitchLines[] = {
    "\"type\" = /0 for decimal, others for hexadecimal:",
    " = /1 will add zeroes at beginning to make 8 digits;",
    " = /2 will add 0x and zeroes; [default]",
    " = /3 will add $ and zeroes;",
    " = /4 will add \"h\" at the end and zeroes;",
    " Use /-1, /-2, /-3, /-4 accordingly to NOT add leading zeroes.",
};

// Mirvane.exe's text, as it always was.
std::vector<std::string> ThirtyTwoBitLines() {
  std::vector<std::string> lines = {
      "",
      "Mirvane v1.0, Brenlow_Works!",
      "A tool for getting real address of game RAM from",
      "                      any PlayStation1 emulator. Usage:",
      "1) Load \"TESSIL.EXE\" or \"TESSIL.ISO\" in your emulator and run it",
      "2) You should see green-blue screen flickering in the game window",
      "3) Pause emulation it you can; or not do it",
      "4) Run this Mirvane.exe or Mirvane.bat!",
      "",
      "      Command-line options:",
      "Mirvane.exe [name | pid] [/type]",
      "\"name/pid\" = executable name or processID of emulator.",
      "                   (default is the last created process)",
  };
  lines.insert(lines.end(), std::begin(TypeSwitchLines), std::end(TypeSwitchLines));
  for (const char* line : {"", "Program will print result to the standard output,",
                           "Result will be zero if game RAM is not found.",
                           "Also, result is returned as the program exit code (%errorlevel%)"})
    lines.push_back(line);
  return lines;
}

// The lines every 64-bit tool shows about the type and the options.
void AddOptionLines(std::vector<std::string>& lines) {
  const char* const names[] = {
      "\"name/pid\" = executable name or process ID of the emulator.",
      "                   (default is the last created process;",
      "                    with --watch, the newest one that holds the RAM)",
  };
  lines.insert(lines.end(), std::begin(names), std::end(names));
  lines.insert(lines.end(), std::begin(TypeSwitchLines), std::end(TypeSwitchLines));
  const char* const options[] = {
      "--watch = keep running: print the answer when first known and again",
      "          each time it changes (found, lost, moved, another process).",
      "          Ctrl+C ends it; with a pid it also ends when that process ends.",
      "--interval MS = with --watch, check every MS milliseconds (default 250)",
      "--json = print each answer as one JSON object on one line",
      "",
      "Program will print result to the standard output,",
      "Result will be zero if game RAM is not found (why: on standard error).",
  };
  lines.insert(lines.end(), std::begin(options), std::end(options));
}

std::vector<std::string> WideLines() {
  std::vector<std::string> lines = {
      "",
      "Mirvane v1.0, Brenlow_Works!",
      "A tool for getting real address of game RAM from",
      "                      any PlayStation1 emulator. Usage:",
      "1) Load \"TESSIL.EXE\" or \"TESSIL.ISO\" in your emulator and run it",
#ifdef _WIN32
      "   (both lie beside Mirvane64.exe in its zip)",
#else
      "   (in /usr/share/mirvane, or beside bin/ where the archive was unpacked)",
#endif
      "2) You should see green-blue screen flickering in the game window",
      "3) Pause emulation if you can; or not do it",
#ifdef _WIN32
      "4) Run this Mirvane64.exe or Mirvane.bat!",
#else
      "4) Run mirvane as root, or as the emulator's user where ptrace allows it",
#endif
      "   With no marker program, a game already running is found by the",
      "   console's kernel area, where the emulator's BIOS leaves one.",
      "",
      "      Command-line options:",
#ifdef _WIN32
      "Mirvane64.exe [name | pid] [/type] [--watch [--interval MS]] [--json]",
#else
      "mirvane [name | pid] [/type] [--watch [--interval MS]] [--json]",
#endif
  };
  AddOptionLines(lines);
#ifdef _WIN32
  lines.push_back("The exit code (%errorlevel%) is the address where it is below 4 GiB,");
  lines.push_back("2 where it is higher (read it from the output), 0 if not found;");
  lines.push_back("0 when --watch ends.");
#else
  lines.push_back("Exit status: 2 found (the address is on the output), 0 not found,");
  lines.push_back("1 failure; 0 when --watch ends.");
#endif
  return lines;
}

}  // namespace

const std::vector<std::string>& HelpLines() {
  static const std::vector<std::string> lines =
      platform::TakesWatchOptions ? WideLines() : ThirtyTwoBitLines();
  return lines;
}

void PrintHelp() {
  for (const std::string& line : HelpLines()) WriteOutputLine(line);
}
