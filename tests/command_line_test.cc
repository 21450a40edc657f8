#include <gtest/gtest.h>

#include "app/command_line.h"
#include "platform/address_width.h"

namespace {

typedef std::vector<std::string> Args;

ParseOutcome Parse(const Args& args, RunSettings& settings) {
  settings = RunSettings();
  return ParseCommandLine(args, settings);
}

TEST(SplitCommandLine, SeparatorsQuotesAndTheSkippedEmptyPair) {
  EXPECT_EQ(SplitCommandLine("Mirvane.exe"), Args());
  EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\Mirvane.exe\" a"), Args({"a"}));
  // Runs of blanks and control characters are one separator.
  EXPECT_EQ(SplitCommandLine("prog \t a\x01\x1f b  "), Args({"a", "b"}));
  // A quoted stretch keeps blanks; the quotes go; backslashes are plain.
  EXPECT_EQ(SplitCommandLine("prog \"my emu.exe\" C:\\x\\\"y z\""), Args({"my emu.exe", "C:\\x\\y z"}));
  EXPECT_EQ(SplitCommandLine("prog ab\"c d\"e"), Args({"abc de"}));
  // An empty pair where an argument would begin is no argument at all.
  EXPECT_EQ(SplitCommandLine("prog epsxe.exe \"\" /0"), Args({"epsxe.exe", "/0"}));
  EXPECT_EQ(SplitCommandLine("prog \"\"\"\" x"), Args({"x"}));
  // A quote left open runs to the end of the line; an empty remainder is no argument.
  EXPECT_EQ(SplitCommandLine("prog \"a b"), Args({"a b"}));
  EXPECT_EQ(SplitCommandLine("prog x \""), Args({"x"}));
  EXPECT_EQ(SplitCommandLine("prog \"\"\""), Args());
  // A quoted blank is an argument of its own.
  EXPECT_EQ(SplitCommandLine("prog \" \" x"), Args({" ", "x"}));
}

TEST(SplitCommandLine, HighBytesBelongToArguments) {
  EXPECT_EQ(SplitCommandLine("prog \xE9mu\xA0x \xFF"), Args({"\xE9mu\xA0x", "\xFF"}));
}

TEST(ParseCommandLine, HelpFormsWinWhereverTheyStandUnlessUsageFailedFirst) {
  RunSettings s;
  for (const char* help : {"/?", "?", "x?y", "-h", "/h", "--help", "/-?"}) {
    EXPECT_EQ(Parse({help}, s), ParseHelp) << help;
  }
  EXPECT_EQ(Parse({"emu.exe", "/1", "/?"}, s), ParseHelp);
  EXPECT_EQ(Parse({"/?", "a", "b", "/9"}, s), ParseHelp);
  EXPECT_EQ(Parse({"a", "b", "/?"}, s), ParseWrongUsage);
  EXPECT_EQ(Parse({"/9", "/?"}, s), ParseWrongUsage);
  // Upper-case forms are not help: "/H" is a bad type switch, the others are names.
  EXPECT_EQ(Parse({"/H"}, s), ParseWrongUsage);
  EXPECT_EQ(Parse({"-H"}, s), ParseRun);
  EXPECT_EQ(s.EmulatorName, "-H");
  EXPECT_EQ(Parse({"--HELP"}, s), ParseRun);
  EXPECT_EQ(Parse({"-help"}, s), ParseRun);
}

TEST(ParseCommandLine, TypeSwitchesReadFirstSecondAndLastCharacters) {
  struct Case {
    const char* arg;
    int type;
  } cases[] = {{"/0", 0},  {"/1", 1},  {"/2", 2},    {"/3", 3},  {"/4", 4},    {"/-1", -1}, {"/-4", -4},
               {"/12", 2}, {"/x4", 4}, {"/--3", -3}, {"/-0", 0}, {"/-x2", -2}, {"/hex1", 1}};
  RunSettings s;
  for (const Case& c : cases) {
    ASSERT_EQ(Parse({c.arg}, s), ParseRun) << c.arg;
    EXPECT_EQ(s.OutputType, c.type) << c.arg;
    EXPECT_EQ(s.EmulatorName, "") << c.arg;
  }
  for (const char* bad : {"/", "/-", "/5", "/9", "/a", "/x", "/4x", "/\xB4"}) {
    EXPECT_EQ(Parse({bad}, s), ParseWrongUsage) << bad;
  }
  // A later switch replaces an earlier one.
  EXPECT_EQ(Parse({"/0", "/-3"}, s), ParseRun);
  EXPECT_EQ(s.OutputType, -3);
}

TEST(ParseCommandLine, OnePositionalArgumentInEitherOrder) {
  RunSettings a, b;
  EXPECT_EQ(Parse({"1234", "/0"}, a), ParseRun);
  EXPECT_EQ(Parse({"/0", "1234"}, b), ParseRun);
  EXPECT_EQ(a.EmulatorName, "1234");
  EXPECT_EQ(a.OutputType, 0);
  EXPECT_EQ(b.EmulatorName, a.EmulatorName);
  EXPECT_EQ(b.OutputType, a.OutputType);
  // Kept as given: trimming is the process finder's business.
  EXPECT_EQ(Parse({" emu.exe "}, a), ParseRun);
  EXPECT_EQ(a.EmulatorName, " emu.exe ");
  // A second positional is wrong usage, even after a name of blanks.
  EXPECT_EQ(Parse({"a", "b"}, a), ParseWrongUsage);
  EXPECT_EQ(Parse({" ", "b"}, a), ParseWrongUsage);
  // No arguments: the defaults.
  EXPECT_EQ(Parse({}, a), ParseRun);
  EXPECT_EQ(a.EmulatorName, "");
  EXPECT_EQ(a.OutputType, 2);
}

TEST(ParseCommandLine, SplitAndParseTogether) {
  RunSettings s;
  EXPECT_EQ(Parse(SplitCommandLine("Mirvane.exe emu.exe \"\" /-2"), s), ParseRun);
  EXPECT_EQ(s.EmulatorName, "emu.exe");
  EXPECT_EQ(s.OutputType, -2);
  EXPECT_EQ(Parse(SplitCommandLine("Mirvane.exe \" \" x"), s), ParseWrongUsage);
}

TEST(ParseCommandLine, WatchIntervalAndJsonWhereTheBuildTakesThem) {
  RunSettings s;
  if (!platform::TakesWatchOptions) {
    // Mirvane.exe: names like any other, as they always were.
    EXPECT_EQ(Parse({"--watch"}, s), ParseRun);
    EXPECT_EQ(s.EmulatorName, "--watch");
    EXPECT_FALSE(s.Watch);
    EXPECT_EQ(Parse({"--watch", "emu.exe"}, s), ParseWrongUsage);
    EXPECT_EQ(Parse({"--interval", "100"}, s), ParseWrongUsage);
    EXPECT_EQ(Parse({"--json", "/?"}, s), ParseHelp);
    return;
  }
  EXPECT_EQ(Parse({"emu.exe", "--watch", "/-2", "--json"}, s), ParseRun);
  EXPECT_EQ(s.EmulatorName, "emu.exe");
  EXPECT_TRUE(s.Watch && s.Json);
  EXPECT_EQ(s.OutputType, -2);
  EXPECT_EQ(s.IntervalMs, 250u);
  EXPECT_EQ(Parse({"--json"}, s), ParseRun);
  EXPECT_TRUE(s.Json && !s.Watch && s.EmulatorName.empty());
  struct Case {
    Args args;
    ParseOutcome outcome;
    std::uint32_t interval;
  } cases[] = {
      {{"--watch", "--interval", "100", "1234"}, ParseRun, 100},
      {{"--interval=10", "--watch"}, ParseRun, 10},
      {{"--watch", "--interval", "3600000"}, ParseRun, 3600000},
      {{"--watch", "--interval", "100", "--interval=500"}, ParseRun, 500},  // the later one
      {{"--watch", "--interval", "9"}, ParseWrongUsage, 0},
      {{"--watch", "--interval", "3600001"}, ParseWrongUsage, 0},
      {{"--watch", "--interval", "0x10"}, ParseWrongUsage, 0},
      {{"--watch", "--interval", "-100"}, ParseWrongUsage, 0},
      {{"--watch", "--interval="}, ParseWrongUsage, 0},
      {{"--watch", "--interval"}, ParseWrongUsage, 0},
      {{"--interval", "100"}, ParseWrongUsage, 0},  // only with --watch
      // Its value is taken as one, even where it would be help.
      {{"--watch", "--interval", "/?"}, ParseWrongUsage, 0},
      {{"--watch", "/?", "--interval", "x"}, ParseHelp, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Parse(c.args, s), c.outcome) << c.args[c.args.size() - 1];
    if (c.outcome == ParseRun) {
      EXPECT_EQ(s.IntervalMs, c.interval);
    }
  }
  // Other double-dash arguments stay names, as they always were.
  EXPECT_EQ(Parse({"--watched"}, s), ParseRun);
  EXPECT_EQ(s.EmulatorName, "--watched");
  EXPECT_EQ(Parse({"--WATCH", "emu.exe"}, s), ParseWrongUsage);
}

}  // namespace
