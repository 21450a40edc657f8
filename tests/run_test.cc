#include <gtest/gtest.h>

#include <algorithm>

#include "app/help_text.h"
#include "app/not_found_reasons.h"
#include "kernel_image.h"
#include "app/run.h"
#include "locator/markers.h"
#include "platform/console.h"
#include "platform/process_services_fake.h"

namespace {

// What was written, with line ends as "\n" (the capture reads Windows' CR LF
// back in text mode; the end-to-end tests check the exact bytes).
std::string WithoutCarriageReturns(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

struct RunOutput {
  int status;
  std::string out;
  std::string err;
};

RunOutput RunTool(const std::vector<std::string>& arguments) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = RunMirvane(arguments);
  const std::string err = WithoutCarriageReturns(testing::internal::GetCapturedStderr());
  return {status, WithoutCarriageReturns(testing::internal::GetCapturedStdout()), err};
}

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// An emulator, PID 20, whose RAM starts 4 bytes into a 4 MiB region at 0x80400000.
void EmulatorWithRam() {
  fake::Reset();
  fake::SetOwnPid(50);
  fake::AddProcess(0, "[System Process]");
  fake::AddProcess(20, "emu.exe");
  fake::AddProcess(50, "Mirvane.exe");
  fake::SetMaximumApplicationAddress(0xFFFEFFFF);
  fake::AddRegion(0x80400000, 0x00400000, platform::MEM_COMMIT);
  fake::Put(0x80400004, "!StartOfMainRAM!");
  fake::Put(0x80400004 + 0x1FFFF0, "!!EndOfMainRAM!!");
}

TEST(RunMirvane, HelpAndWrongUsageEndTheRunBeforeAnyProcessIsTouched) {
  EmulatorWithRam();
  RunOutput help = RunTool({"emu.exe", "/?"});
  EXPECT_EQ(help.status, 0);
  std::string expected;
  for (const std::string& line : HelpLines()) expected += line + "\n";
  EXPECT_EQ(help.out, expected);
  EXPECT_EQ(HelpLines().size(), 23u);
  RunOutput usage = RunTool({"a", "b", "/?"});
  EXPECT_EQ(usage.status, 0);
  EXPECT_EQ(usage.out, Lines({"Wrong usage. Try /? for help"}));
  EXPECT_EQ(fake::OpenedPid(), 0u);
  EXPECT_EQ(help.err + usage.err, "");
}

void NoMarker();

TEST(RunMirvane, FoundRamIsPrintedAndCarriedByTheExitStatus) {
  EmulatorWithRam();
  RunOutput found = RunTool({});
  EXPECT_EQ(found.out, Lines({"0x80400004"}));
#ifdef _WIN32
  EXPECT_EQ(static_cast<unsigned>(found.status), 0x80400004u);
#else
  EXPECT_EQ(found.status, 2);
#endif
  EXPECT_EQ(RunTool({"/0", "20"}).out, Lines({"2151677956"}));
  EXPECT_EQ(RunTool({"EMU.EXE", "/-3"}).out, Lines({"$80400004"}));
  // Found, even after a name that matched nothing: no reason to give.
  EXPECT_EQ(found.err + RunTool({"nothing.exe"}).err, "");
  // A RAM at address 0, where root may map one on Linux: found at 64 bits,
  // with the status that says so and no reason; at 32 bits, as ever, 0 is none.
  EmulatorWithRam();
  fake::AddRegion(0, 0x00400000, platform::MEM_COMMIT);
  fake::Put(0x80400004, "not a marker....");
  fake::Put(0x80400004 + 0x1FFFF0, "not a marker....");
  fake::Put(0, "!StartOfMainRAM!");
  fake::Put(0x1FFFF0, "!!EndOfMainRAM!!");
  const RunOutput atZero = RunTool({"20"});
  EXPECT_EQ(atZero.out, Lines({"0x00000000"}));
  EXPECT_EQ(atZero.status, platform::ZeroIsAnAddress ? 2 : 0);
  if (platform::ZeroIsAnAddress) {
    EXPECT_EQ(atZero.err, "");
  }
  // A game running with no marker program: at 64 bits found by the kernel
  // area, printed and carried as any RAM, and said once on standard error; at
  // 32 bits not found, silently.
  NoMarker();
  PutKernelArea(0x80400004);
  const RunOutput game = RunTool({"20"});
  EXPECT_EQ(game.out, Lines({platform::FindsRamByKernelArea ? "0x80400004" : "0x00000000"}));
  if (platform::FindsRamByKernelArea) {
    EXPECT_EQ(game.status, found.status);
    EXPECT_EQ(game.err, platform::ToolName() + ": " + FoundByKernelAreaNote + "\n");
  } else {
    EXPECT_EQ(game.status, 0);
    EXPECT_EQ(game.err, "");
  }
}

TEST(RunMirvane, ErrLinesComeBeforeTheResultLine) {
  EmulatorWithRam();
  fake::AddRegion(0x00400000, MainRamSize, platform::MEM_COMMIT);
  fake::LimitReadable(0x00400000, 0x1000);
  EXPECT_EQ(RunTool({"/-2"}).out, Lines({"Err!", "0x80400004"}));
}

TEST(RunMirvane, AFailedSearchStillPrintsTheResultFromTheSlotsSoFar) {
  // No process at all.
  fake::Reset();
  RunOutput none = RunTool({});
  EXPECT_EQ(none.out, Lines({"0x00000000"}));
  EXPECT_EQ(none.status, 0);
  // The process can't be opened.
  EmulatorWithRam();
  fake::RefuseOpen();
  EXPECT_EQ(RunTool({"/-1"}).out, Lines({"0"}));
  // The copy buffer for a second region can't be had: the RAM found in the first counts.
  EmulatorWithRam();
  fake::AddRegion(0x90000000, MainRamSize, platform::MEM_COMMIT);
  fake::FailAllocationsFrom(2);
  RunOutput partial = RunTool({});
  EXPECT_EQ(partial.out, Lines({"0x80400004"}));
  // ... and the slots start empty on every run.
  fake::FailAllocationsFrom(1);
  EXPECT_EQ(RunTool({}).out, Lines({"0x00000000"}));
}

// Each way to 0, and the reason lines the 64-bit tools give for it: one per
// cause, each starting with the tool's name and holding the fragment given.
// Output and status are those of any 0; the 32-bit tool says nothing.
struct NotFoundCase {
  const char* title;
  void (*stage)();
  std::vector<std::string> arguments;
  std::vector<std::string> reasons;
};

void NoProcess() { fake::Reset(); }
void NoList() {
  EmulatorWithRam();
  fake::FailSnapshot();
}
void NoMarker() {
  EmulatorWithRam();
  fake::Put(0x80400004, "not a marker....");
  fake::Put(0x80400004 + 0x1FFFF0, "nor this one....");
}
void OpenDenied() {
  EmulatorWithRam();
  fake::RefuseOpen();
}
void OpenFailsOtherwise() {
  EmulatorWithRam();
  fake::RefuseOpen(platform::ERROR_INVALID_PARAMETER);
}
void NothingReadable() {
  EmulatorWithRam();
  fake::LimitReadable(0x80400000, 0x1000);
}
void TwoCopies() {
  EmulatorWithRam();
  fake::AddRegion(0x90000000, 0x00400000, platform::MEM_COMMIT);
  fake::Put(0x90000004, "!StartOfMainRAM!");
  fake::Put(0x90000004 + 0x1FFFF0, "!!EndOfMainRAM!!");
}
void TwoKernelAreas() {
  NoMarker();
  fake::AddRegion(0x90000000, 0x00400000, platform::MEM_COMMIT);
  PutKernelArea(0x80400004);
  PutKernelArea(0x90000000);
}
void StartMarkerOnly() {
  EmulatorWithRam();
  fake::Put(0x80400004 + 0x1FFFF0, "not the end.....");
}
void NoCopyBuffer() {
  EmulatorWithRam();
  fake::FailAllocationsFrom(1);
}

const std::string NoMarkerReason = "PID 20 (emu.exe) holds no marker: is the marker program";

TEST(RunMirvane, NotFoundComesWithOneReasonLinePerCauseFromTheWideTools) {
  const NotFoundCase cases[] = {
      {"no process", NoProcess, {}, {"there is no process to search but the tool itself"}},
      {"no process, a name", NoProcess, {"emu.exe"}, {"no process has the name or PID \"emu.exe\""}},
      {"no list", NoList, {"emu.exe"}, {"the process list could not be read"}},
      {"no name, no marker", NoMarker, {}, {NoMarkerReason + " (TESSIL.EXE or TESSIL.ISO) running"}},
      {"a name, no marker", NoMarker, {"EMU.exe"}, {NoMarkerReason}},
      {"a name nothing has, a control byte in it",
       NoMarker,
       {"e\nmu.exe"},
       {"no process has the name or PID \"e?mu.exe\"; the newest process, PID 20 (emu.exe), was searched "
        "instead",
        NoMarkerReason}},
      {"access denied",
       OpenDenied,
       {"20"},
       {std::string("PID 20 (emu.exe) could not be opened for reading: access denied; ") +
        platform::RightsAdvice()}},
      {"open fails otherwise",
       OpenFailsOtherwise,
       {"20"},
       {"PID 20 (emu.exe) could not be opened: it has ended"}},
      {"nothing readable",
       NothingReadable,
       {"20"},
       {std::string(
            "no memory of PID 20 (emu.exe) could be read (1 region(s) tried): it may have ended; else ") +
        platform::RightsAdvice()}},
      {"two copies",
       TwoCopies,
       {"20"},
       {"PID 20 (emu.exe) holds the start marker 2 times and the end marker 2 times, in memory not shown to "
        "be one RAM: 4 of the sightings lie in the emulator's private memory, as copies of the RAM do: turn "
        "off rewind, run-ahead"}},
      {"two games' kernel areas",
       TwoKernelAreas,
       {"20"},
       {platform::FindsRamByKernelArea
            ? "PID 20 (emu.exe) holds no marker, and the console's kernel area 2 times, in memory not shown "
              "to be "
              "one RAM: 2 of the sightings lie in the emulator's private memory, as copies of the RAM do"
            : NoMarkerReason}},
      {"a start marker alone",
       StartMarkerOnly,
       {"20"},
       {"PID 20 (emu.exe) holds the start marker once and the end marker not at all, not one RAM (2 MiB) "
        "apart"}},
      {"no copy buffer", NoCopyBuffer, {"20"}, {"the search of PID 20 (emu.exe) stopped early: "}},
  };
  for (const NotFoundCase& c : cases) {
    c.stage();
    const RunOutput run = RunTool(c.arguments);
    const std::string result = Lines({"0x00000000"});  // after an Err! line where nothing could be read
    EXPECT_EQ(run.out.substr(run.out.find_last_of('\n', run.out.size() - 2) + 1), result) << c.title;
    EXPECT_EQ(run.status, 0) << c.title;
    std::vector<std::string> lines;
    for (size_t start = 0; start < run.err.size();) {
      const size_t end = run.err.find('\n', start);
      lines.push_back(run.err.substr(start, end - start));
      start = end == std::string::npos ? run.err.size() : end + 1;
    }
    if (!platform::ExplainsNotFound) {
      EXPECT_EQ(run.err, "") << c.title;
      continue;
    }
    ASSERT_EQ(lines.size(), c.reasons.size()) << c.title << ": " << run.err;
    EXPECT_EQ(run.err.back(), '\n') << c.title;
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].rfind(platform::ToolName() + ": ", 0), 0u) << c.title << ": " << lines[i];
      EXPECT_NE(lines[i].find(c.reasons[i]), std::string::npos) << c.title << ": " << lines[i];
    }
  }
}

}  // namespace
