#include <gtest/gtest.h>

#include "platform/process_services_fake.h"
#include "process/process_finder.h"

namespace {

// The system's idle entry first, as Windows lists it (Wine lists none); the tool is PID 50.
void ListProcesses(std::initializer_list<std::pair<platform::DWORD, const char*>> processes,
                   bool idleFirst = true) {
  fake::Reset();
  fake::SetOwnPid(50);
  if (idleFirst) fake::AddProcess(0, "[System Process]");
  for (const auto& p : processes) fake::AddProcess(p.first, p.second);
}

TEST(FindEmulatorProcess, ExactMatchBeatsAnEarlierLooseOne) {
  ListProcesses({{10, "Emu.exe"}, {20, "EMU.EXE"}, {30, "other.exe"}});
  EXPECT_EQ(FindEmulatorProcess("EMU.EXE"), 20u);
  EXPECT_EQ(FindEmulatorProcess("Emu.exe"), 10u);
  // A third mix of cases: the first loose match.
  EXPECT_EQ(FindEmulatorProcess("emu.EXE"), 10u);
  EXPECT_EQ(fake::OpenSnapshots(), 0);
}

TEST(FindEmulatorProcess, PidTextMatchesOnlyInPlainDecimal) {
  ListProcesses({{10, "Emu30.exe"}, {30, "emu.exe"}, {40, "last.exe"}});
  EXPECT_EQ(FindEmulatorProcess("30"), 30u);
  EXPECT_EQ(FindEmulatorProcess("EMU.EXE"), 30u);
  // Only the plain decimal form is a PID: these match nothing and fall back to the last.
  EXPECT_EQ(FindEmulatorProcess("030"), 40u);
  EXPECT_EQ(FindEmulatorProcess("+30"), 40u);
  EXPECT_EQ(FindEmulatorProcess("1E"), 40u);
  EXPECT_EQ(FindEmulatorProcess("emu"), 40u);  // without its extension
}

TEST(FindEmulatorProcess, TheFirstEntryIsPassedOverOnlyWhenItIsTheIdleProcess) {
  ListProcesses({{7, "emu.exe"}});
  EXPECT_EQ(FindEmulatorProcess("0"), 7u);
  EXPECT_EQ(FindEmulatorProcess("[System Process]"), 7u);
  // Wine lists no idle process: its first entry is the first program started
  // in the prefix, often the emulator itself.
  ListProcesses({{32, "emu.exe"}, {40, "services.exe"}}, false);
  EXPECT_EQ(FindEmulatorProcess("emu.exe"), 32u);
  EXPECT_EQ(FindEmulatorProcess("EMU.EXE"), 32u);
  EXPECT_EQ(FindEmulatorProcess("32"), 32u);
  EXPECT_EQ(FindEmulatorProcess("0"), 40u);
  ListProcesses({{32, "emu.exe"}, {50, "Mirvane.exe"}}, false);
  EXPECT_EQ(FindEmulatorProcess(""), 32u);  // the only other process, listed first
  EXPECT_EQ(fake::OpenSnapshots(), 0);
}

TEST(FindEmulatorProcess, WithoutAUsableNameTheLastOtherProcess) {
  ListProcesses({{10, "a.exe"}, {20, "emu.exe"}, {50, "Mirvane.exe"}});
  EXPECT_EQ(FindEmulatorProcess(""), 20u);
  EXPECT_EQ(FindEmulatorProcess(" \t "), 20u);
  EXPECT_EQ(FindEmulatorProcess("nothing.exe"), 20u);
  // Nor is the tool chosen by its own PID or name.
  EXPECT_EQ(FindEmulatorProcess("50"), 20u);
  EXPECT_EQ(FindEmulatorProcess("Mirvane.exe"), 20u);
}

TEST(FindEmulatorProcess, WhatTheToolStartedIsPassedOverLikeTheToolItself) {
  // A console host created for the tool is listed after it.
  ListProcesses({{10, "emu.exe"}, {50, "Mirvane.exe"}});
  fake::AddProcess(60, "conhost.exe", 50);
  EXPECT_EQ(FindEmulatorProcess(""), 10u);
  EXPECT_EQ(FindEmulatorProcess("conhost.exe"), 10u);
  // Other processes' children count as usual.
  fake::AddProcess(70, "conhost.exe", 10);
  EXPECT_EQ(FindEmulatorProcess(""), 70u);
}

TEST(FindEmulatorProcess, BlanksAroundTheNameDoNotPreventAMatch) {
  ListProcesses({{10, "emu.exe"}, {20, "z.exe"}});
  EXPECT_EQ(FindEmulatorProcess("  emu.exe\t"), 10u);
  EXPECT_EQ(FindEmulatorProcess(" 10 "), 10u);
  EXPECT_EQ(FindEmulatorProcess("\x01"
                                "EMU.exe "),
            10u);
}

TEST(FindEmulatorProcess, CaseFoldingTouchesOnlyAsciiLetters) {
  ListProcesses({{10, "\xC9MU.EXE"}, {20, "z.exe"}});
  EXPECT_EQ(FindEmulatorProcess("\xE9mu.exe"), 20u);
  EXPECT_EQ(FindEmulatorProcess("\xC9mu.exe"), 10u);
}

TEST(FindEmulatorProcess, NothingToChooseGivesZeroAndClosesTheSnapshot) {
  fake::Reset();
  EXPECT_EQ(FindEmulatorProcess(""), 0u);  // empty list
  ListProcesses({{50, "Mirvane.exe"}});
  EXPECT_EQ(FindEmulatorProcess(""), 0u);  // only the tool
  EXPECT_EQ(fake::OpenSnapshots(), 0);
  ListProcesses({{10, "emu.exe"}});
  fake::FailSnapshot();
  EXPECT_EQ(FindEmulatorProcess("emu.exe"), 0u);
}

TEST(TrimBlanksAndFoldCase, WorkOnBytes) {
  EXPECT_EQ(TrimBlanks(" \x01 a b\x20\x1f"), "a b");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(TrimBlanks("\xA0x\xA0"), "\xA0x\xA0");
  EXPECT_EQ(FoldCase("AbZ@[`{\xC0"), "abz@[`{\xC0");
}

}  // namespace
