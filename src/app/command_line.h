// The command line: "[name | pid] [/type]" with help switches; the 64-bit
// tools also take "--watch", "--interval MS" (with --watch) and "--json".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RunSettings {
  std::string EmulatorName;  // empty: no name given
  std::int32_t OutputType = 2;
  bool Watch = false;              // keep watching, an answer line for each change
  std::uint32_t IntervalMs = 250;  // between two checks while watching
  bool Json = false;               // each answer as one JSON object
};

// The shortest and longest interval --interval takes, in milliseconds.
const std::uint32_t ShortestInterval = 10;
const std::uint32_t LongestInterval = 3600000;

enum ParseOutcome { ParseRun, ParseHelp, ParseWrongUsage };

extern const char* const WrongUsageMessage;

// Splits a raw command line into arguments and drops the first (the program's
// own name). Blanks and control characters separate arguments; a double quote
// opens a stretch that runs to the next double quote or the end of the line;
// an empty quoted pair where an argument would begin is skipped. Backslashes
// have no special meaning. No argument is ever empty.
std::vector<std::string> SplitCommandLine(const std::string& raw);

// Looks at each argument in turn; `settings` arrives holding the defaults.
// Where the build takes them, "--watch", "--json" and "--interval MS" (or
// "--interval=MS", MS in decimal within the limits above, and only with
// --watch) are options; any other argument that starts with "--" is a name,
// as it always was.
ParseOutcome ParseCommandLine(const std::vector<std::string>& arguments, RunSettings& settings);
