#include "app/help_text.h"

#include "platform/output_lines.h"

const std::vector<std::string>& HelpLines() {
  static const std::vector<std::string> lines = {
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
      "\"type\" = /0 for decimal, others for hexadecimal:",
      " = /1 will add zeroes at beginning to make 8 digits;",
      " = /2 will add 0x and zeroes; [default]",
      " = /3 will add $ and zeroes;",
      " = /4 will add \"h\" at the end and zeroes;",
      " Use /-1, /-2, /-3, /-4 accordingly to NOT add leading zeroes.",
      "",
      "Program will print result to the standard output,",
      "Result will be zero if game RAM is not found.",
      "Also, result is returned as the program exit code (%errorlevel%)",
  };
  return lines;
}

void PrintHelp() {
  for (const std::string& line : HelpLines()) WriteOutputLine(line);
}
