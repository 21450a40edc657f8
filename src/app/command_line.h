// The command line: "[name | pid] [/type]" with help switches.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RunSettings {
  std::string EmulatorName;  // empty: no name given
  std::int32_t OutputType = 2;
};

enum ParseOutcome { ParseRun, ParseHelp, ParseWrongUsage };

extern const char* const WrongUsageMessage;

// Splits a raw command line into arguments and drops the first (the program's
// own name). Blanks and control characters separate arguments; a double quote
// opens a stretch that runs to the next double quote or the end of the line;
// an empty quoted pair where an argument would begin is skipped. Backslashes
// have no special meaning. No argument is ever empty.
std::vector<std::string> SplitCommandLine(const std::string& raw);

// Looks at each argument in turn; `settings` arrives holding the defaults.
ParseOutcome ParseCommandLine(const std::vector<std::string>& arguments, RunSettings& settings);
