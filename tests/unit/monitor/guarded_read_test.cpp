// SPDX-License-Identifier: MIT
#include "monitor/guarded_read.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "monitor/state.h"
#include "unit/monitor/monitor_fixture.h"

namespace {

using scripted_wire::kMs;
using monitor_fixture::MonitorTest;

class GuardedReadTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    wire.Set("RD DM100", {"42"});
    wire.Set("RD DM109", {"77"});
  }

  std::int32_t Read(char kind = 'w') { return ReadRegister(kPort, 100, kind); }

  // A key for the reset prompt, well after the request and the prompt's
  // own keyboard reset.
  static void AnswerLater(const std::string& key) {
    fake::Key(key, fake::Now() + 500 * kMs);
  }
};

TEST_F(GuardedReadTest, ConvertsRepliesAsSignedOrUnsignedWords) {
  wire.Set("RD DM100", {"32767", "32768", "32769", "65535", "65535", "65535",
                        "-5", "00123", "123abc", "E1", "  7"});
  EXPECT_EQ(Read('i'), 32767);
  EXPECT_EQ(Read('i'), -32768);
  EXPECT_EQ(Read('i'), -32767);
  EXPECT_EQ(Read('i'), -1);
  EXPECT_EQ(Read('w'), 65535);
  EXPECT_EQ(Read('I'), 65535);
  EXPECT_EQ(Read('i'), -5);
  EXPECT_EQ(Read('w'), 123);
  EXPECT_EQ(Read('w'), 123);
  EXPECT_EQ(Read('w'), 0);
  EXPECT_EQ(Read('w'), 7);
  EXPECT_EQ(wire.Count("RD DM100"), 11);
}

TEST_F(GuardedReadTest, NoReplyReadsAsZero) {
  EXPECT_EQ(ReadRegister(kPort, 555, 'i'), 0);
  EXPECT_EQ(Sent(), "RD DM555\r");
}

TEST_F(GuardedReadTest, VentMovesAtEveryReadWithoutReadingItsRelay) {
  VentState = "1";
  Read();
  EXPECT_EQ(fake::CharAt(22, 9), '\\');
  Read();
  EXPECT_EQ(fake::CharAt(22, 9), '|');
  EXPECT_EQ(wire.lines, (std::vector<std::string>{"RD DM100", "RD DM100"}));
}

TEST_F(GuardedReadTest, OtherIndicatorsFirstRedrawnAtThe52ndRead) {
  TempCtlState = FloorHtrState = TempModeState = "1";
  TempCtlPhase = 1;
  for (int i = 1; i <= 51; ++i) Read();
  EXPECT_EQ(IndicatorReadCount, 51);
  EXPECT_EQ(fake::RowTrimmed(10), "");
  EXPECT_EQ(fake::RowTrimmed(12), "");

  const fake::Micros before = fake::Now();
  Read();
  EXPECT_GE(fake::Now() - before, 100 * kMs);  // TempMode's pause
  EXPECT_EQ(IndicatorReadCount, 0);
  EXPECT_EQ(fake::Row(10).substr(0, 22), " Temp.Ctl      (513)  ");
  EXPECT_EQ(fake::Row(11).substr(0, 22), " FloorHtr      (514)  ");
  EXPECT_EQ(fake::RowTrimmed(12), " TempMode      (515) C");
  EXPECT_EQ(wire.Count("RD DM100"), 52);
  EXPECT_EQ(wire.lines.size(), 52u);
}

TEST_F(GuardedReadTest, RefusedWhileAResetIsPendingOrEscWasTyped) {
  for (int flag = 0; flag < 2; ++flag) {
    ResetRequested = flag == 0;
    AbortFlag = flag == 1;
    KeyBuffer = Str255("R");
    VentState = "1";
    EXPECT_EQ(Read(), 0);
    EXPECT_EQ(ReadRegisterStable(kPort, 100, 'w'), 0);
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(fake::RowTrimmed(9), "");
    EXPECT_EQ(KeyBuffer, "R");
    EXPECT_EQ(IndicatorReadCount, 0);
  }
}

TEST_F(GuardedReadTest, PromptAsksResetTimers) {
  KeyBuffer = Str255("R");
  MoveCursor(10, 3);
  // Nobody answers: the prompt stays on the screen.
  EXPECT_THROW(Read(), fake::InputStarved);
  EXPECT_EQ(fake::RowTrimmed(21), "Reset Timers [Y/N]");
  EXPECT_EQ(fake::Row(21).substr(0, 20), "Reset Timers [Y/N]  ");
  EXPECT_EQ(fake::Cursor().X, 19);
  EXPECT_EQ(fake::Cursor().Y, 20);
}

TEST_F(GuardedReadTest, LowerCaseRAndYRequestTheReset) {
  KeyBuffer = Str255("r");
  MoveCursor(1, 21);
  ConsoleWrite("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  MoveCursor(10, 3);
  AnswerLater("y");

  EXPECT_EQ(Read(), 42);
  EXPECT_TRUE(ResetRequested);
  EXPECT_EQ(SystemNumber, 77);
  EXPECT_EQ(wire.lines, (std::vector<std::string>{"RD DM100", "RD DM109"}));
  // 23 blanks over the prompt, the rest of the row untouched.
  EXPECT_EQ(fake::Row(21).substr(0, 26), std::string(23, ' ') + "XYZ");
  EXPECT_EQ(CursorColumn(), 10);
  EXPECT_EQ(CursorRow(), 3);
  EXPECT_TRUE(KeyBuffer.empty());
  EXPECT_FALSE(AbortFlag);

  // Until the counters block clears the request, reads cost nothing.
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(wire.lines.size(), 2u);
}

TEST_F(GuardedReadTest, OnlyYAnswersYes) {
  // The system number is re-read as an unsigned word, whatever the answer.
  wire.Set("RD DM109", {"77", "40000", "65537", "-1"});
  const std::vector<std::tuple<std::string, bool, int>> answers = {
      {"Y", true, 77}, {"n", false, 40000}, {"Esc", false, 1},
      {"Up", false, 65535}};
  for (const auto& [key, yes, system] : answers) {
    ResetRequested = false;
    KeyBuffer = Str255("R");
    AnswerLater(key);
    EXPECT_EQ(Read(), 42) << key;
    EXPECT_EQ(ResetRequested, yes) << key;
    EXPECT_EQ(SystemNumber, system) << key;
    EXPECT_FALSE(AbortFlag) << key;
    EXPECT_TRUE(KeyBuffer.empty()) << key;
    EXPECT_FALSE(KeyWaiting()) << key;
  }
  EXPECT_EQ(wire.Count("RD DM109"), 4);
}

TEST_F(GuardedReadTest, KeysTypedAheadDoNotAnswerThePrompt) {
  KeyBuffer = Str255("R");
  fake::Type(std::string(200, 'y'));
  AnswerLater("n");
  EXPECT_EQ(Read(), 42);
  EXPECT_FALSE(ResetRequested);
  EXPECT_FALSE(KeyWaiting());
}

TEST_F(GuardedReadTest, KeysDuringThe52ndReadsPauseCountForThatRead) {
  // An r typed during TempMode's pause is in the copy of the key buffer.
  IndicatorReadCount = 51;
  fake::Key("r", fake::Now() + 50 * kMs);
  AnswerLater("n");
  EXPECT_EQ(Read(), 42);
  EXPECT_EQ(wire.lines, (std::vector<std::string>{"RD DM100", "RD DM109"}));

  // Esc there: the value read is still returned, and no hot key runs.
  IndicatorReadCount = 51;
  KeyBuffer = Str255("R");
  fake::Key("Esc", fake::Now() + 50 * kMs);
  EXPECT_EQ(Read(), 42);
  EXPECT_TRUE(AbortFlag);
  EXPECT_EQ(KeyBuffer, "R");
  EXPECT_EQ(wire.Count("RD DM109"), 1);
}

TEST_F(GuardedReadTest, RBeatsTAndTheTIsDiscarded) {
  const int purges = fake::PurgeCount("COM3");
  KeyBuffer = Str255("xTr");
  AnswerLater("n");
  EXPECT_EQ(Read(), 42);
  EXPECT_EQ(wire.Count("RD DM109"), 1);
  EXPECT_EQ(fake::PurgeCount("COM3"), purges);  // no terminal
  EXPECT_TRUE(KeyBuffer.empty());
  EXPECT_FALSE(ResetRequested);
}

TEST_F(GuardedReadTest, LowerCaseTOpensTheTerminalAndPollingGoesOn) {
  const int purges = fake::PurgeCount("COM3");
  KeyBuffer = Str255("t");
  MoveCursor(15, 6);
  fake::Key("Esc", fake::Now() + 500 * kMs);
  EXPECT_EQ(Read(), 42);
  EXPECT_EQ(fake::PurgeCount("COM3"), purges + 1);
  EXPECT_FALSE(AbortFlag);
  EXPECT_TRUE(KeyBuffer.empty());
  EXPECT_EQ(Console.TextAttribute, 0x71);
  EXPECT_EQ(CursorColumn(), 15);  // back where the line was
  EXPECT_EQ(CursorRow(), 6);

  EXPECT_EQ(Read(), 42);
  EXPECT_EQ(wire.Count("RD DM100"), 2);
}

TEST_F(GuardedReadTest, EscDuringAReadStopsHotKeysAndLaterReads) {
  KeyBuffer = Str255("R");
  fake::Key("Esc", fake::Now() + 3 * kMs);
  EXPECT_EQ(Read(), 0);
  EXPECT_TRUE(AbortFlag);
  EXPECT_FALSE(ResetRequested);
  EXPECT_EQ(KeyBuffer, "R");
  EXPECT_EQ(Read(), 0);
  fake::AdvanceTo(fake::Now() + 20 * kMs);  // the request was under way
  EXPECT_EQ(wire.lines, (std::vector<std::string>{"RD DM100"}));
}

TEST_F(GuardedReadTest, StableReadWaitsForTwoEqualReads) {
  wire.Set("RD DM100", {"5", "6", "7", "7", "9"});
  EXPECT_EQ(ReadRegisterStable(kPort, 100, 'w'), 7);
  EXPECT_EQ(wire.Count("RD DM100"), 4);
  // Each attempt is a fresh pair: 6 then 6 across two attempts is no match.
  wire.Set("RD DM101", {"5", "6", "6", "7", "7", "7"});
  EXPECT_EQ(ReadRegisterStable(kPort, 101, 'w'), 7);
  EXPECT_EQ(wire.Count("RD DM101"), 6);
}

TEST_F(GuardedReadTest, StrayKeysDoNotBlockTheHotKeys) {
  KeyBuffer = Str255(std::string(255, 'x'));
  Read();
  EXPECT_TRUE(KeyBuffer.empty());

  fake::Key("R");
  AnswerLater("n");
  Read();
  EXPECT_EQ(wire.Count("RD DM109"), 1);
}

TEST_F(GuardedReadTest, KeysArrivingAfterTheCopyStay) {
  // A flood of keys: the read takes some of them while it waits for the
  // reply and one more after the copy was taken; that one stays.
  std::string keys;
  while (keys.size() < 200) keys += "abcdefghijklmnopqsuvwxyz0123456789";
  keys.resize(200);
  fake::Type(keys);
  Read();
  EXPECT_EQ(KeyBuffer.size(), 1u);
  // The next read copies the kept key with the others and drops them all.
  Read();
  EXPECT_EQ(KeyBuffer.size(), 1u);
}

}  // namespace
