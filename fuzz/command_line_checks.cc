#include "command_line_checks.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/result_format.h"
#include "platform/address_width.h"

namespace {

// "4294967295" and "0x80400004" are the widest result lines.
const std::size_t WidestResult = 10;

void Require(bool holds, const char* broken) {
  if (holds) return;
  std::fprintf(stderr, "command line check failed: %s\n", broken);
  std::abort();
}

// Little-endian; bytes past the end of the input count as zero.
std::uint32_t WordAt(const std::uint8_t* data, std::size_t size, std::size_t at) {
  std::uint32_t word = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    if (at + k < size) word |= static_cast<std::uint32_t>(data[at + k]) << (8 * k);
  }
  return word;
}

void CheckSplitArguments(const std::vector<std::string>& arguments) {
  for (const std::string& a : arguments) {
    Require(!a.empty(), "an argument is empty");
    Require(a.find('"') == std::string::npos, "a quote character was kept in an argument");
    Require(a.find('\0') == std::string::npos, "an argument runs past the end of the line");
  }
  // Each argument quoted whole must split back to itself, blanks and all.
  std::string requoted = "prog";
  for (const std::string& a : arguments) requoted += " \"" + a + "\"";
  Require(SplitCommandLine(requoted) == arguments, "quoted arguments do not split back to themselves");
}

bool AsksForHelp(const std::string& a) {
  return a.find('?') != std::string::npos || a == "-h" || a == "/h" || a == "--help";
}

void CheckParse(const std::vector<std::string>& arguments) {
  RunSettings settings;
  const ParseOutcome outcome = ParseCommandLine(arguments, settings);
  Require(outcome == ParseRun || outcome == ParseHelp || outcome == ParseWrongUsage,
          "the parse ended in no known outcome");
  if (outcome != ParseRun) return;
  Require(settings.OutputType >= -4 && settings.OutputType <= 4, "a run with an output type outside -4..4");
  Require(settings.IntervalMs >= ShortestInterval && settings.IntervalMs <= LongestInterval,
          "a run with an interval outside its limits");
  Require(platform::TakesWatchOptions || (!settings.Watch && !settings.Json),
          "options where the build takes none");
  // A run has looked at every argument: none may have asked for help, and the
  // name is the one argument that is not a type switch nor an option (where
  // the build takes them), if there is one.
  std::size_t names = 0;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    Require(!AsksForHelp(a), "a help switch ended in a run");
    if (platform::TakesWatchOptions &&
        (a == "--watch" || a == "--json" || a.compare(0, 11, "--interval=") == 0))
      continue;
    if (platform::TakesWatchOptions && a == "--interval") {
      Require(settings.Watch, "an interval without --watch ended in a run");
      ++i;
      continue;
    }
    if (!a.empty() && a[0] != '/') {
      ++names;
      Require(settings.EmulatorName == a, "the name of a run is not its positional argument");
    }
  }
  Require(names <= 1, "a run with two names");
  if (names == 0) Require(settings.EmulatorName.empty(), "a run with a name nobody gave");
}

bool IsDigitIn(char c, int base) {
  if (c >= '0' && c <= '9') return true;
  return base == 16 && c >= 'A' && c <= 'F';
}

// The result line must read back as the value it was made from.
void CheckResult(std::uint32_t value, std::int32_t outputType) {
  const std::string text = FormatResult(value, outputType);
  Require(!text.empty(), "an empty result line");
  Require(text.size() <= WidestResult, "a result line wider than its widest form");
  if (outputType < -4 || outputType > 4) return;  // the command line never sets these

  const int magnitude = outputType < 0 ? -outputType : outputType;
  std::string digits = text;
  if (magnitude == 2) {
    Require(digits.compare(0, 2, "0x") == 0, "type 2 without its 0x");
    digits.erase(0, 2);
  } else if (magnitude == 3) {
    Require(digits[0] == '$', "type 3 without its $");
    digits.erase(0, 1);
  } else if (magnitude == 4) {
    Require(digits.back() == 'h', "type 4 without its h");
    digits.pop_back();
  }
  const int base = outputType == 0 ? 10 : 16;
  Require(!digits.empty(), "a result line without digits");
  for (char c : digits) Require(IsDigitIn(c, base), "a result line with a stray character");
  if (outputType > 0) Require(digits.size() == 8, "a padded result line without eight digits");
  if (outputType <= 0) Require(digits.size() == 1 || digits[0] != '0', "an unpadded result with a leading 0");
  Require(std::strtoul(digits.c_str(), nullptr, base) == value, "a result line that reads back wrong");
}

}  // namespace

void CheckCommandLineInput(const std::uint8_t* data, std::size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);

  // As a raw command line: the line ends at its first zero byte.
  const std::vector<std::string> arguments = SplitCommandLine(raw);
  Require(arguments == SplitCommandLine(raw.substr(0, raw.find('\0'))),
          "the split read past the end of the line");
  CheckSplitArguments(arguments);
  CheckParse(arguments);

  // As an argument vector already split by the system, the way the POSIX
  // build hands it over: program name first, empty arguments dropped.
  std::vector<std::string> argv;
  std::size_t start = 0;
  bool programName = true;
  while (start <= raw.size()) {
    std::size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    if (!programName && end > start) argv.push_back(raw.substr(start, end - start));
    programName = false;
    start = end + 1;
  }
  CheckParse(argv);

  const std::uint32_t value = WordAt(data, size, 0);
  for (std::int32_t type = -4; type <= 4; ++type) {
    CheckResult(value, type);
    CheckResult(0, type);
    CheckResult(0xFFFFFFFFu, type);
  }
  CheckResult(value, static_cast<std::int32_t>(WordAt(data, size, 4)));
}
