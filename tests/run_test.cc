#include <gtest/gtest.h>

#include <algorithm>

#include "app/help_text.h"
#include "app/run.h"
#include "locator/markers.h"
#include "platform/console.h"
#include "platform/process_services_fake.h"

namespace {

// What was written, with line ends as "\n" (the capture reads Windows' CR LF
// back in text mode; the end-to-end tests check the exact bytes).
std::string CapturedLines() {
  std::string text = testing::internal::GetCapturedStdout();
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

struct RunOutput {
  int status;
  std::string out;
};

RunOutput RunTool(const std::vector<std::string>& arguments) {
  testing::internal::CaptureStdout();
  const int status = RunMirvane(arguments);
  return {status, CapturedLines()};
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
}

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

}  // namespace
