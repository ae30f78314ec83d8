// SPDX-License-Identifier: MIT
#include "terminal/terminal.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scripted_wire.h"

namespace {

using scripted_wire::kMs;
using scripted_wire::MachineTest;

const std::string kBanner = "*      Vandrik ZRV Terminal       *";
const std::string kHeader = " Send            : Receive    /esc ";

std::string Blanks(std::size_t n) { return std::string(n, ' '); }

std::string Padded(const std::string& reply) {
  return reply.size() >= 16 ? reply : reply + Blanks(16 - reply.size());
}

// A command line as it stands after its reply: the command from inner
// column 2, the prompt's colon in column 18, the reply from column 20.
std::string CommandLine(const std::string& command, const std::string& reply) {
  std::string line = " " + command;
  line += Blanks(17 - line.size());
  return line + ": " + Padded(reply);
}

class TerminalTest : public MachineTest {
 protected:
  // Inner window of the box on a 48 x 23 screen: columns 7 to 41, rows 4
  // to 19; on 49 x 23 it reaches column 42.
  std::string Inner(int row) const { return Cells(row + 3, 7, 6 + innerWidth); }

  // Runs the terminal until the script is used up: the screen is left as
  // the terminal drew it.
  void RunUntilStarved() {
    EXPECT_THROW(RunTerminal(kPort), fake::InputStarved);
  }

  int innerWidth = 35;
};

TEST_F(TerminalTest, FrameShadowAndInnerWindowOn48x23) {
  StartMachine(48, 23, 0x71);
  DrawTerminalFrame(36);

  // Box 6-42 x 3-20 in yellow on blue.
  EXPECT_EQ(fake::AttrAt(6, 3), 0x1E);
  EXPECT_EQ(fake::AttrAt(42, 3), 0x1E);
  EXPECT_EQ(fake::AttrAt(6, 20), 0x1E);
  EXPECT_EQ(fake::AttrAt(42, 20), 0x1E);
  // Shadow: column 43 from row 4, row 21 from column 7, black background.
  EXPECT_EQ(fake::AttrAt(43, 4), 0x01);
  EXPECT_EQ(fake::AttrAt(43, 21), 0x01);
  EXPECT_EQ(fake::AttrAt(7, 21), 0x01);
  // Untouched around them.
  EXPECT_EQ(fake::AttrAt(5, 3), 0x71);
  EXPECT_EQ(fake::AttrAt(43, 3), 0x71);
  EXPECT_EQ(fake::AttrAt(44, 10), 0x71);
  EXPECT_EQ(fake::AttrAt(6, 21), 0x71);
  EXPECT_EQ(fake::AttrAt(20, 22), 0x71);

  // Inner window 7-41 x 4-19 stays active with the cursor at its corner.
  EXPECT_EQ(Console.WindowLeft, 6);
  EXPECT_EQ(Console.WindowTop, 3);
  EXPECT_EQ(Console.WindowRight, 40);
  EXPECT_EQ(Console.WindowBottom, 18);
  EXPECT_EQ(fake::Cursor().X, 6);
  EXPECT_EQ(fake::Cursor().Y, 3);
  EXPECT_EQ(Console.TextAttribute, 0x1E);
}

TEST_F(TerminalTest, OddWidthGivesAThirtySixColumnInnerWindow) {
  StartMachine(49, 23, 0x71);
  DrawTerminalFrame(36);
  EXPECT_EQ(Console.WindowLeft, 6);
  EXPECT_EQ(Console.WindowRight, 41);
  EXPECT_EQ(fake::AttrAt(43, 20), 0x1E);
  EXPECT_EQ(fake::AttrAt(44, 21), 0x01);
}

TEST_F(TerminalTest, CommandIsSentAndItsReplyShownBesideIt) {
  StartMachine(48, 23, 0x71);
  wire.Set("RD DM100", {"1234"});
  fake::Type("RD DM100\r", fake::Now() + 300 * kMs, 20 * kMs);
  RunUntilStarved();

  EXPECT_EQ(Sent(), "RD DM100\r");
  EXPECT_EQ(fake::PurgeCount("COM3"), 1);
  EXPECT_EQ(Inner(1), kBanner);
  EXPECT_EQ(Inner(2), Blanks(35));
  EXPECT_EQ(Inner(3), kHeader);
  EXPECT_EQ(Inner(4), CommandLine("RD DM100", "1234"));
  // The next prompt, waiting for typing on its ">".
  EXPECT_EQ(Inner(5), " >" + Blanks(15) + ": <" + Blanks(15));
  EXPECT_EQ(fake::Cursor().X, 7);
  EXPECT_EQ(fake::Cursor().Y, 7);

  EXPECT_EQ(fake::AttrAt(7, 4), 0x1E);   // banner
  EXPECT_EQ(fake::AttrAt(8, 6), 0x0A);   // header
  EXPECT_EQ(fake::AttrAt(26, 7), 0x0A);  // reply
}

TEST_F(TerminalTest, OddWidthPutsThePromptColonInColumn17) {
  StartMachine(49, 23, 0x71);
  innerWidth = 36;
  wire.Set("RD DM100", {"1234"});
  fake::Type("RD DM100\r", fake::Now() + 300 * kMs, 20 * kMs);
  RunUntilStarved();

  EXPECT_EQ(Inner(3), kHeader + " ");
  // Command and reply keep their columns; the prompt's "<" in column 19
  // gave way to the blank before the reply.
  EXPECT_EQ(Inner(4), " RD DM100" + Blanks(7) + ":  " + Padded("1234") + " ");
  EXPECT_EQ(Inner(5), " >" + Blanks(14) + ": <" + Blanks(15) + "  ");
}

TEST_F(TerminalTest, EmptyLineSendsABareCarriageReturn) {
  StartMachine(48, 23);
  wire.Set("", {"ER"});
  fake::Type("\r", fake::Now() + 300 * kMs);
  RunUntilStarved();
  EXPECT_EQ(Sent(), "\r");
  // Nothing typed: the ">" of the prompt stays.
  EXPECT_EQ(Inner(4), " >" + Blanks(15) + ": " + Padded("ER"));
}

TEST_F(TerminalTest, MinusSignGoesOutConverted) {
  StartMachine(48, 23);
  wire.fallback = "OK";
  fake::Type("WR DM100 -5\r", fake::Now() + 300 * kMs, 10 * kMs);
  RunUntilStarved();
  EXPECT_EQ(Sent(), "WR DM100 65531\r");
  EXPECT_EQ(Inner(4), CommandLine("WR DM100 -5", "OK"));
}

TEST_F(TerminalTest, LongReplyWrapsWithoutMovingTheRowCount) {
  StartMachine(48, 23);
  wire.Set("RD DM1", {"ABCDEFGHIJKLMNOPQRSTU"});
  fake::Type("RD DM1\r", fake::Now() + 300 * kMs, 10 * kMs);
  RunUntilStarved();
  EXPECT_EQ(Inner(4), CommandLine("RD DM1", "ABCDEFGHIJKLMNOP"));
  // The rest of the reply starts the next row; the next prompt's ">" is
  // put on that same row.
  EXPECT_EQ(Inner(5), " >STU" + Blanks(17) + ": <" + Blanks(10));
}

TEST_F(TerminalTest, ThirteenthAndFourteenthCommandsUseTheLastRow) {
  StartMachine(48, 23);
  fake::Micros at = fake::Now() + 300 * kMs;
  for (int n = 1; n <= 14; ++n) {
    const std::string command = "RD DM" + std::to_string(n);
    wire.Set(command, {"V" + std::to_string(n)});
    fake::Type(command + "\r", at, 10 * kMs);
    at += 1000 * kMs;
  }
  RunUntilStarved();
  ASSERT_EQ(wire.lines.size(), 14u);

  // Two replies wrapped off the bottom row: the banner is gone and the
  // header is on the first row.
  EXPECT_EQ(Inner(1), kHeader);
  for (int n = 1; n <= 12; ++n) {
    EXPECT_EQ(Inner(n + 1),
              CommandLine("RD DM" + std::to_string(n), "V" + std::to_string(n)))
        << "command " << n;
  }
  EXPECT_EQ(Inner(14), CommandLine("RD DM13", "V13"));
  EXPECT_EQ(Inner(15), CommandLine("RD DM14", "V14"));
  EXPECT_EQ(Inner(16), " >" + Blanks(15) + ": <" + Blanks(15));
  EXPECT_EQ(fake::Cursor().Y, 18);
}

TEST_F(TerminalTest, PastedCommandArrivesWhole) {
  StartMachine(48, 23);
  wire.Set("RD DM7", {"77"});
  fake::Type("RD DM7\r", fake::Now() + 300 * kMs);
  RunUntilStarved();
  EXPECT_EQ(Sent(), "RD DM7\r");
  EXPECT_EQ(Inner(4), CommandLine("RD DM7", "77"));
}

TEST_F(TerminalTest, PromptMovesDownToTheRowLimitThenOnceMore) {
  StartMachine(48, 23);
  DrawTerminalFrame(36);  // 35 x 16 inner window, row limit 15
  const std::string xs(34, 'X');
  for (int row : {5, 6, 15, 16}) {
    MoveCursor(1, row);
    ConsoleWrite(xs);
  }

  // Below the limit: the rest of the row is blanked and typing goes below.
  TerminalRun run;
  run.CurrentRow = 5;
  run.RowLimit = 15;
  MoveCursor(1, 5);
  WriteTerminalPrompt(run);
  EXPECT_EQ(run.CurrentRow, 6);
  EXPECT_FALSE(run.Scrolled);
  EXPECT_EQ(Inner(5), Blanks(17) + ": <" + Blanks(15));
  EXPECT_EQ(Inner(6), " >" + xs.substr(2) + " ");
  EXPECT_EQ(fake::Cursor().X, 7);
  EXPECT_EQ(fake::Cursor().Y, 8);

  // At the limit: one row more, once, and no blanks after the prompt.
  run.CurrentRow = 15;
  MoveCursor(1, 15);
  WriteTerminalPrompt(run);
  EXPECT_EQ(run.CurrentRow, 16);
  EXPECT_TRUE(run.Scrolled);
  EXPECT_EQ(Inner(15), Blanks(17) + ": <" + xs.substr(20) + " ");
  EXPECT_EQ(Inner(16), " >" + xs.substr(2) + " ");

  // Scrolled: the row stays, and the prompt's ">" lands on its own row.
  MoveCursor(1, 16);
  WriteTerminalPrompt(run);
  EXPECT_EQ(run.CurrentRow, 16);
  EXPECT_EQ(Inner(16), " >" + Blanks(15) + ": <" + xs.substr(20) + " ");
  EXPECT_EQ(fake::Cursor().Y, 18);
}

TEST_F(TerminalTest, LeftoverKeysAreDroppedAndALongCommandGoesOutWhole) {
  StartMachine(48, 23);
  wire.fallback = "OK";
  KeyBuffer = Str255("T");  // the hot key that opened the terminal
  fake::Type("zz");         // typed ahead, still in the console
  const std::string command = "WR DM100 1 WR DM101 2 WR DM102 3";
  fake::Type(command + "\r", fake::Now() + 300 * kMs, 10 * kMs);
  RunUntilStarved();
  EXPECT_EQ(Sent(), command + "\r");
}

// Three commands pasted at once: each goes out in turn, with its reply,
// the keys that came while one waited making the next lines.
TEST_F(TerminalTest, PastedLinesAreSentOneByOne) {
  StartMachine(48, 23);
  wire.fallback = "OK";
  wire.Set("RD DM2", {"00002"});
  fake::Type("RD DM1\rRD DM2\rRD DX\bM3\r", fake::Now() + 300 * kMs, 0);
  RunUntilStarved();
  EXPECT_EQ(Sent(), "RD DM1\rRD DM2\rRD DM3\r");
  EXPECT_EQ(Inner(4), CommandLine("RD DM1", "OK"));
  EXPECT_EQ(Inner(5), CommandLine("RD DM2", "00002"));
  EXPECT_EQ(Inner(6), CommandLine("RD DM3", "OK"));
}

TEST_F(TerminalTest, KeyWaitingAfterACommandStartsTheNextLine) {
  StartMachine(48, 23);
  // Port 4 is not open: its request waits the whole reply wait, and x and
  // y come just as it ends, still waiting when the command is done.
  const fake::Micros at = fake::Now() + 300 * kMs;
  fake::Type("A\r", at);
  fake::Type("xy", at + 900 * kMs);
  fake::Type("\r", at + 1400 * kMs);
  EXPECT_THROW(RunTerminal(4), fake::InputStarved);
  EXPECT_EQ(Inner(4), CommandLine("A", ""));
  EXPECT_EQ(Inner(5), CommandLine("xy", ""));
}

TEST_F(TerminalTest, EscAtThePromptLeavesTheKeyboardClearAndTheScreenGrey) {
  StartMachine(48, 23);
  KeyBuffer = Str255("leftover");
  fake::Key("Esc", fake::Now() + 300 * kMs);
  RunTerminal(kPort);

  EXPECT_EQ(Sent(), "");
  EXPECT_FALSE(AbortFlag);
  EXPECT_TRUE(KeyBuffer.empty());
  EXPECT_EQ(Console.TextAttribute, 0x71);
  EXPECT_EQ(Console.WindowLeft, 0);
  EXPECT_EQ(Console.WindowTop, 0);
  EXPECT_EQ(Console.WindowRight, 47);
  EXPECT_EQ(Console.WindowBottom, 22);
  for (int row = 1; row <= 23; ++row) {
    EXPECT_EQ(fake::Row(row), Blanks(48)) << "row " << row;
    for (int column = 1; column <= 48; ++column) {
      ASSERT_EQ(fake::AttrAt(column, row), 0x71) << column << "," << row;
    }
  }
}

TEST_F(TerminalTest, EscWhileAReplyIsAwaitedEndsAfterThatCommand) {
  StartMachine(48, 23);
  // No answer to this one; Esc comes while the terminal waits for it.
  const fake::Micros at = fake::Now() + 300 * kMs;
  fake::Type("RD DM5\r", at);
  fake::Key("Esc", at + 5 * kMs);
  RunTerminal(kPort);
  fake::AdvanceTo(fake::Now() + 20 * kMs);  // the request was under way
  EXPECT_EQ(Sent(), "RD DM5\r");
  EXPECT_FALSE(AbortFlag);
  EXPECT_TRUE(KeyBuffer.empty());
}

}  // namespace
