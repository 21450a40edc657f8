#include <gtest/gtest.h>

#include <algorithm>

#include "app/help_text.h"
#include "app/not_found_reasons.h"
#include "kernel_image.h"
#include "app/run.h"
#include "locator/markers.h"
#include "locator/memory_scan.h"
#include "platform/address_width.h"
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
  // The tool ends after a run; here the walks of other tests follow it.
  WritesErrLines = true;
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
  if (platform::TakesWatchOptions) {
    // The 64-bit tools' own text: it names the tool, and lists the options.
#ifdef _WIN32
    EXPECT_NE(expected.find("\nMirvane64.exe [name | pid] [/type] [--watch [--interval MS]] [--json]\n"),
              std::string::npos);
    EXPECT_NE(expected.find("below 4 GiB,\n2 where it is higher"), std::string::npos);
#else
    EXPECT_NE(expected.find("\nmirvane [name | pid] [/type] [--watch [--interval MS]] [--json]\n"),
              std::string::npos);
    EXPECT_NE(expected.find("Exit status: 2 found"), std::string::npos);
    EXPECT_NE(expected.find("/usr/share/mirvane"), std::string::npos);
#endif
    EXPECT_EQ(expected.find("Mirvane.exe ["), std::string::npos);
    EXPECT_NE(expected.find("\n--json = "), std::string::npos);
  } else {
    EXPECT_EQ(HelpLines().size(), 23u);
  }
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

// --json, once: one object on one line, every field named; standard error as
// without it. At 32 bits "--json" is a name like any other.
TEST(RunMirvane, JsonAnswersCarryEveryField) {
  EmulatorWithRam();
  if (!platform::TakesWatchOptions) {
    EXPECT_EQ(RunTool({"--json"}).out, RunTool({"no-such.exe"}).out);
    EXPECT_EQ(RunTool({"--json", "20"}).out, Lines({"Wrong usage. Try /? for help"}));
    return;
  }
  fake::AddProcess(21, "e\"m\\u\xE9.exe");
  fake::AddRegion(0x00400000, MainRamSize, platform::MEM_COMMIT);
  fake::LimitReadable(0x00400000, 0x1000);
  const RunOutput found = RunTool({"--json", "20", "/-2"});
  EXPECT_EQ(found.out,
            Lines({"{\"pid\":20,\"name\":\"emu.exe\",\"found\":true,\"address\":2151677956,"
                   "\"address_text\":\"0x80400004\",\"found_by\":\"markers\",\"views\":[2151677956],"
                   "\"unreadable_regions\":1,\"reason\":null}"}));
  EXPECT_EQ(found.status, RunTool({"20"}).status);
  EXPECT_EQ(found.err, "");
  fake::Put(0x80400004, "not a marker....");
  fake::Put(0x80400004 + 0x1FFFF0, "not a marker....");
  const RunOutput none = RunTool({"21", "--json"});
  EXPECT_EQ(
      none.out.rfind("{\"pid\":21,\"name\":\"e\\\"m\\\\u\\u00e9.exe\",\"found\":false,\"address\":0,"
                     "\"address_text\":\"0x00000000\",\"found_by\":null,\"views\":[],"
                     "\"unreadable_regions\":1,\"reason\":\"PID 21 (e\\\"m\\\\u\\u00e9.exe) holds no marker",
                     0),
      0u)
      << none.out;
  EXPECT_EQ(none.out.find('\n'), none.out.size() - 1);
  EXPECT_EQ(none.status, 0);
  EXPECT_NE(none.err.find("PID 21"), std::string::npos);
  // Views of one RAM: every one of them, lowest first.
  EmulatorWithRam();
  fake::MapView(0x20000000, MainRamSize, 7, 0);
  fake::MapView(0x10000000, MainRamSize, 7, 0);
  fake::Put(0x10000000, "!StartOfMainRAM!");
  fake::Put(0x10000000 + 0x1FFFF0, "!!EndOfMainRAM!!");
  fake::Put(0x80400004, "not a marker....");
  fake::Put(0x80400004 + 0x1FFFF0, "not a marker....");
  EXPECT_NE(RunTool({"--json"}).out.find("\"views\":[268435456,536870912]"), std::string::npos);
  // A game running without the marker program, its RAM known by the kernel area.
  NoMarker();
  PutKernelArea(0x80400004);
  EXPECT_NE(RunTool({"--json"})
                .out.find("\"address\":2151677956,\"address_text\":\"0x80400004\","
                          "\"found_by\":\"kernel area\""),
            std::string::npos);
}

// The RAM of emu.exe (PID 20) at `base`, in the 4 MiB region there; where
// `base` is 0, no marker anywhere.
void StageRamAt(Address base) {
  EmulatorWithRam();
  fake::AddRegion(0x90000000, 0x00400000, platform::MEM_COMMIT);
  fake::Put(0x80400004, "not a marker....");
  fake::Put(0x80400004 + 0x1FFFF0, "not a marker....");
  if (base != 0) {
    fake::Put(base, "!StartOfMainRAM!");
    fake::Put(base + 0x1FFFF0, "!!EndOfMainRAM!!");
  }
}

// A watching run through a scripted world: each change gives one line, and no
// more; a reused PID is noticed; a new process of the name is chosen.
TEST(WatchRam, EachChangeGivesOneLine) {
  if (!platform::TakesWatchOptions) {
    EmulatorWithRam();
    EXPECT_EQ(RunTool({"--watch", "emu.exe"}).out, Lines({"Wrong usage. Try /? for help"}));
    return;
  }
  StageRamAt(0x80400004);
  fake::KeepScene(3);
  StageRamAt(0x90000004);  // moved
  fake::KeepScene(3);
  StageRamAt(0);  // lost
  fake::KeepScene(6);
  StageRamAt(0x90000004);  // back
  fake::KeepScene(3);
  StageRamAt(0x90000004);  // another process given PID 20, its RAM at the same place
  fake::SetStartTime(20, 5000);
  fake::KeepScene(3);
  // PID 20 gone: emu.exe's newest is 32, EMU.EXE is taken only where no exact name is left.
  StageRamAt(0x80400004);
  fake::Reset();
  fake::SetOwnPid(50);
  fake::AddProcess(0, "[System Process]");
  fake::AddProcess(31, "EMU.EXE");
  fake::AddProcess(30, "emu.exe");
  fake::AddProcess(32, "emu.exe");
  fake::AddProcess(50, "Mirvane.exe");
  fake::SetMaximumApplicationAddress(0xFFFEFFFF);
  fake::AddRegion(0x80400000, 0x00400000, platform::MEM_COMMIT);
  fake::AddRegion(0x90000000, 0x00400000, platform::MEM_COMMIT);
  fake::Put(0x80400004, "!StartOfMainRAM!");
  fake::Put(0x80400004 + 0x1FFFF0, "!!EndOfMainRAM!!");
  fake::KeepScene(8);
  fake::PlayScenes();
  const RunOutput run = RunTool({"--watch", "emu.exe"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            Lines({"0x80400004", "0x90000004", "0x00000000", "0x90000004", "0x90000004", "0x80400004"}));
  // The reason for the one 0, as a single run gives it.
  EXPECT_NE(run.err.find("PID 20 (emu.exe) holds no marker"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  // In the last scene: one walk, then only the two markers read at each check.
  const std::vector<platform::SIZE_T> sizes = fake::ReadSizes();
  const long markerReads = std::count(sizes.begin(), sizes.end(), 16);
  EXPECT_EQ(markerReads, 2 * 7);
  // The pieces of one walk of the two 4 MiB regions.
  EXPECT_LE(sizes.size() - static_cast<size_t>(markerReads),
            2 * 0x400000 / std::max<platform::HostWord>(platform::ReadPieceSize, 1));
  EXPECT_EQ(fake::OpenedPid(), 32u);
}

TEST(WatchRam, JsonLinesAndTheProcessChosen) {
  if (!platform::TakesWatchOptions) return;
  StageRamAt(0x80400004);
  fake::KeepScene(2);
  StageRamAt(0x80400004);  // a newer process of the same name: the first stays chosen while it holds
  fake::AddProcess(30, "emu.exe");
  fake::KeepScene(2);
  fake::PlayScenes();
  const RunOutput run = RunTool({"--watch", "--json", "/0", "--interval", "40"});
  EXPECT_EQ(run.out.substr(0, 54), "{\"pid\":20,\"name\":\"emu.exe\",\"found\":true,\"address\":2151");
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
  EXPECT_NE(run.out.find("\"address_text\":\"2151677956\""), std::string::npos);
  for (platform::DWORD wait : fake::WaitsAsked()) EXPECT_EQ(wait, 40u);
}

// A RAM found by the kernel area is checked by the kernel area's words, and
// the note that says so comes with the line that found it.
TEST(WatchRam, AKernelAreaIsCheckedByItsOwnWords) {
  if (!platform::TakesWatchOptions) return;
  StageRamAt(0);
  PutKernelArea(0x80400004);
  fake::KeepScene(3);
  StageRamAt(0);
  PutKernelArea(0x90000000);  // a game restarted elsewhere
  fake::KeepScene(3);
  fake::PlayScenes();
  const RunOutput run = RunTool({"--watch", "--json", "20"});
  const size_t second = run.out.find('\n') + 1;
  EXPECT_NE(run.out.find("\"address\":2151677956,"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"address\":2415919104,", second), std::string::npos) << run.out;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
  EXPECT_NE(run.err.find(FoundByKernelAreaNote), std::string::npos);
}

TEST(WatchRam, WhileNothingIsFoundTheWalkComesAtMostOnceASecond) {
  if (!platform::TakesWatchOptions) return;
  StageRamAt(0);
  const int queriesPerWalk = (RunTool({"20"}), fake::Queries());
  StageRamAt(0);
  fake::KeepScene(20);  // 5 s of waits of 250 ms
  fake::PlayScenes();
  const RunOutput run = RunTool({"--watch", "emu.exe"});
  EXPECT_EQ(run.out, Lines({"0x00000000"}));
  EXPECT_EQ(fake::Queries(), 5 * queriesPerWalk);  // at 0, 1, 2, 3 and 4 s
}

TEST(WatchRam, WithAPidTheRunEndsWithThatProcess) {
  if (!platform::TakesWatchOptions) return;
  StageRamAt(0x80400004);
  fake::KeepScene(2);
  StageRamAt(0x80400004);
  fake::SetStartTime(20, 5000);  // PID 20 given to another process
  fake::KeepScene(50);
  fake::PlayScenes();
  const RunOutput run = RunTool({"20", "--watch"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, Lines({"0x80400004", "0x00000000"}));
  EXPECT_EQ(run.err, platform::ToolName() + ": PID 20 (emu.exe) has ended\n");
  EXPECT_EQ(fake::WaitsAsked().size(), 2u);
  // A PID no process has: nothing to wait for.
  fake::Reset();
  fake::KeepScene(50);
  fake::PlayScenes();
  const RunOutput none = RunTool({"--watch", "77"});
  EXPECT_EQ(none.out, Lines({"0x00000000"}));
  EXPECT_NE(none.err.find("no process has the name or PID \"77\""), std::string::npos);
  EXPECT_EQ(fake::WaitsAsked().size(), 0u);
}

}  // namespace
