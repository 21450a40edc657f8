// Mirvane: finds the host address of a running PlayStation 1 emulator's main
// RAM, prints it and returns it as the exit status.
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/run.h"
#include "platform/console.h"

int main(int argc, char** argv) {
  platform::PrepareConsole();
  std::vector<std::string> arguments;
  if (const char* raw = platform::RawCommandLine()) {
    arguments = SplitCommandLine(raw);
  } else {
    // The shell has split and unquoted them already; empty ones carry nothing.
    for (int i = 1; i < argc; ++i) {
      if (argv[i][0] != '\0') arguments.push_back(argv[i]);
    }
  }
  return RunMirvane(arguments);
}
