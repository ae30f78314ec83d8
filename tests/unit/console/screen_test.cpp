// SPDX-License-Identifier: MIT
#include <string>
#include <vector>

#include "console_fixture.h"

namespace {

using ConsoleScreen = ConsoleTest;

void FillScreen(char c) {
  std::uint32_t written = 0;
  fake::ConsoleBuffer().FillChar(c, 80 * 25, plat::COORD{0, 0}, &written);
}

std::string Cells(int row, int from, int to) {
  return fake::Row(row).substr(from - 1, to - from + 1);
}

TEST_F(ConsoleScreen, SetupTakesTheConsoleAsItIs) {
  const auto& names = fake::OpenedNames();
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[0], "CONIN$");
  EXPECT_EQ(names[1], "CONOUT$");
  EXPECT_EQ(fake::InputMode(), 0u);
  EXPECT_EQ(fake::OutputMode(), 0u);
  EXPECT_TRUE(fake::CtrlHandlerInstalled());
  EXPECT_EQ(fake::CtrlHandler(), &ConsoleControlHandler);
  EXPECT_EQ(ScreenColumns(), 80);
  EXPECT_EQ(ScreenRows(), 25);
  EXPECT_EQ(Console.TextAttribute, 0x07);
  EXPECT_EQ(Console.WindowLeft, 0);
  EXPECT_EQ(Console.WindowTop, 0);
  EXPECT_EQ(Console.WindowRight, 79);
  EXPECT_EQ(Console.WindowBottom, 24);
}

TEST_F(ConsoleScreen, ExactWidthLineIsFollowedByAnEmptyRow) {
  DefineWindow(11, 3, 20, 8);
  ConsoleWrite("0123456789");
  // The last column moves the cursor on at once.
  EXPECT_EQ(fake::Cursor().X, 10);
  EXPECT_EQ(fake::Cursor().Y, 3);
  ConsoleWrite("\r\nX");
  EXPECT_EQ(Cells(3, 11, 20), "0123456789");
  EXPECT_EQ(Cells(4, 11, 20), std::string(10, ' '));
  EXPECT_EQ(fake::CharAt(11, 5), 'X');
  // Nothing outside the window was touched.
  EXPECT_EQ(fake::CharAt(10, 3), ' ');
  EXPECT_EQ(fake::CharAt(21, 3), ' ');
}

TEST_F(ConsoleScreen, LineFeedOnBottomRowScrollsOnlyTheWindow) {
  FillScreen('#');
  DefineWindow(11, 3, 20, 5);
  SetBackground(1);  // 0x17
  MoveCursor(1, 3);
  ConsoleWrite("abc\n");
  EXPECT_EQ(Cells(3, 11, 20), std::string(10, '#'));
  EXPECT_EQ(Cells(4, 11, 20), "abc#######");
  EXPECT_EQ(Cells(5, 11, 20), std::string(10, ' '));
  for (int col = 11; col <= 20; ++col) EXPECT_EQ(fake::AttrAt(col, 5), 0x17);
  // Rows above and below and the columns beside the window stay.
  EXPECT_EQ(fake::Row(2), std::string(80, '#'));
  EXPECT_EQ(fake::Row(6), std::string(80, '#'));
  for (int row = 3; row <= 5; ++row) {
    EXPECT_EQ(Cells(row, 1, 10), std::string(10, '#'));
    EXPECT_EQ(Cells(row, 21, 80), std::string(60, '#'));
    EXPECT_EQ(fake::AttrAt(10, row), 0x07);
  }
  // The column is kept; the row stays at the bottom.
  EXPECT_EQ(fake::Cursor().X, 13);
  EXPECT_EQ(fake::Cursor().Y, 4);
}

TEST_F(ConsoleScreen, LastCellOfTheWindowScrollsAtOnce) {
  DefineWindow(11, 3, 20, 5);
  MoveCursor(1, 1);
  ConsoleWrite("top");
  MoveCursor(10, 3);
  ConsoleWrite("Z");
  EXPECT_EQ(fake::CharAt(20, 4), 'Z');
  EXPECT_EQ(fake::CharAt(20, 5), ' ');
  EXPECT_EQ(Cells(3, 11, 13), "   ");  // "top" scrolled away
  EXPECT_EQ(fake::Cursor().X, 10);
  EXPECT_EQ(fake::Cursor().Y, 4);
}

TEST_F(ConsoleScreen, CarriageReturnAndLineFeedWithinTheWindow) {
  DefineWindow(11, 3, 40, 8);
  MoveCursor(5, 2);
  ConsoleWrite("ab\r");
  EXPECT_EQ(fake::Cursor().X, 10);  // the window's left column
  EXPECT_EQ(fake::Cursor().Y, 3);
  MoveCursor(5, 2);
  ConsoleWrite("ab\ncd");
  EXPECT_EQ(Cells(5, 17, 18), "cd");  // the column was kept
}

TEST_F(ConsoleScreen, BackspaceBlankBackspaceAtTheLeftColumn) {
  DefineWindow(11, 3, 20, 5);
  ConsoleWrite("Q");
  MoveCursor(1, 1);
  ConsoleWrite("\b \b");
  EXPECT_EQ(fake::CharAt(11, 3), ' ');
  EXPECT_EQ(fake::Cursor().X, 10);
  EXPECT_EQ(fake::Cursor().Y, 2);
  ConsoleWrite("abc\b\bX");
  EXPECT_EQ(Cells(3, 11, 13), "aXc");
}

TEST_F(ConsoleScreen, BellSoundsAndTakesNoCell) {
  ConsoleWrite("a\ab");
  ASSERT_EQ(fake::Beeps().size(), 1u);
  EXPECT_EQ(fake::Beeps()[0].frequency, 3000u);
  EXPECT_EQ(fake::Beeps()[0].durationMs, 100u);
  EXPECT_EQ(fake::RowTrimmed(1), "ab");
  EXPECT_EQ(fake::Cursor().X, 2);
}

TEST_F(ConsoleScreen, OtherControlCodesTakeOneCellEach) {
  ConsoleWrite(
      "\t\f\x1b"
      "x");
  EXPECT_EQ(fake::CharAt(1, 1), '\t');
  EXPECT_EQ(fake::CharAt(2, 1), '\f');
  EXPECT_EQ(fake::CharAt(3, 1), '\x1b');
  EXPECT_EQ(fake::CharAt(4, 1), 'x');
  EXPECT_EQ(fake::Cursor().X, 4);
}

TEST_F(ConsoleScreen, LongTextIsPaintedInRunsOfAtMost64) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += static_cast<char>('A' + i % 26);
  ConsoleWriter(text.data(), text.size());
  EXPECT_EQ(fake::WriteRuns(), (std::vector<int>{64, 16, 64, 16, 40}));
  EXPECT_EQ(fake::Row(1), text.substr(0, 80));
  EXPECT_EQ(fake::Row(2), text.substr(80, 80));
  EXPECT_EQ(fake::RowTrimmed(3), text.substr(160));
  EXPECT_EQ(fake::Cursor().X, 40);
  EXPECT_EQ(fake::Cursor().Y, 2);
}

TEST_F(ConsoleScreen, WriteStatementReachesTheWriterIn128BytePieces) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += static_cast<char>('a' + i % 26);
  ConsoleWrite(text);
  // 128 + 72: the first piece ends a run at column 48.
  EXPECT_EQ(fake::WriteRuns(), (std::vector<int>{64, 16, 48, 32, 40}));
  EXPECT_EQ(fake::Row(1) + fake::Row(2) + fake::RowTrimmed(3), text);
}

TEST_F(ConsoleScreen, WriteLnEndsWithCarriageReturnLineFeed) {
  DefineWindow(5, 2, 30, 10);
  ConsoleWriteLn("ab");
  ConsoleWriteLn();
  ConsoleWrite("c");
  EXPECT_EQ(Cells(2, 5, 6), "ab");
  EXPECT_EQ(fake::CharAt(5, 4), 'c');
  EXPECT_EQ(CursorColumn(), 2);
  EXPECT_EQ(CursorRow(), 3);
}

TEST_F(ConsoleScreen, ClearWindowBlanksOnlyTheWindow) {
  FillScreen('#');
  DefineWindow(3, 2, 6, 4);
  SetForeground(14);
  ConsoleWrite("xy");
  ClearWindow();
  for (int row = 2; row <= 4; ++row) {
    EXPECT_EQ(Cells(row, 3, 6), "    ");
    EXPECT_EQ(fake::AttrAt(3, row), 0x0E);
    EXPECT_EQ(fake::CharAt(2, row), '#');
    EXPECT_EQ(fake::CharAt(7, row), '#');
    EXPECT_EQ(fake::AttrAt(7, row), 0x07);
  }
  EXPECT_EQ(fake::Row(1), std::string(80, '#'));
  EXPECT_EQ(fake::Row(5), std::string(80, '#'));
  EXPECT_EQ(CursorColumn(), 1);
  EXPECT_EQ(CursorRow(), 1);
  EXPECT_EQ(fake::Cursor().X, 2);
  EXPECT_EQ(fake::Cursor().Y, 1);

  DefineWindow(1, 1, ScreenColumns(), ScreenRows());
  ClearWindow();
  EXPECT_EQ(fake::Row(1), std::string(80, ' '));
  EXPECT_EQ(fake::Row(25), std::string(80, ' '));
  EXPECT_EQ(fake::AttrAt(80, 25), 0x0E);
}

TEST_F(ConsoleScreen, DefineWindowRejectsInvalidRectangles) {
  DefineWindow(11, 3, 20, 8);
  const plat::COORD cursor = fake::Cursor();
  DefineWindow(1, 1, ScreenColumns() + 1, ScreenRows());
  DefineWindow(1, 1, ScreenColumns(), ScreenRows() + 1);
  DefineWindow(5, 1, 4, 10);
  DefineWindow(1, 5, 10, 4);
  DefineWindow(1, 0, 10, 10);
  DefineWindow(0, 1, 10, 10);
  EXPECT_EQ(Console.WindowLeft, 10);
  EXPECT_EQ(Console.WindowTop, 2);
  EXPECT_EQ(Console.WindowRight, 19);
  EXPECT_EQ(Console.WindowBottom, 7);
  EXPECT_EQ(fake::Cursor().X, cursor.X);
  EXPECT_EQ(fake::Cursor().Y, cursor.Y);

  DefineWindow(7, 9, 7, 9);  // one cell
  EXPECT_EQ(Console.WindowLeft, 6);
  EXPECT_EQ(Console.WindowBottom, 8);
  EXPECT_EQ(fake::Cursor().X, 6);
  EXPECT_EQ(fake::Cursor().Y, 8);

  DefineWindow(1, 1, ScreenColumns(), ScreenRows());
  EXPECT_EQ(Console.WindowRight, 79);
  EXPECT_EQ(Console.WindowBottom, 24);
}

TEST_F(ConsoleScreen, MoveCursorStaysInsideTheWindow) {
  DefineWindow(11, 3, 20, 8);
  MoveCursor(3, 2);
  EXPECT_EQ(fake::Cursor().X, 12);
  EXPECT_EQ(fake::Cursor().Y, 3);
  MoveCursor(0, 1);
  MoveCursor(11, 1);  // right - left + 2
  MoveCursor(1, 0);
  MoveCursor(1, 7);
  MoveCursor(-2147483647 - 1, 1);
  EXPECT_EQ(fake::Cursor().X, 12);
  EXPECT_EQ(fake::Cursor().Y, 3);
  EXPECT_EQ(CursorColumn(), 3);
  EXPECT_EQ(CursorRow(), 2);
  MoveCursor(10, 6);
  EXPECT_EQ(fake::Cursor().X, 19);
  EXPECT_EQ(fake::Cursor().Y, 7);
  MoveCursor(1, 1);
  EXPECT_EQ(fake::Cursor().X, 10);
  EXPECT_EQ(fake::Cursor().Y, 2);
}

TEST_F(ConsoleScreen, ColourArithmetic) {
  Start({.attribute = 0x71});
  EXPECT_EQ(Console.TextAttribute, 0x71);
  SetForeground(14);
  EXPECT_EQ(Console.TextAttribute, 0x7E);
  SetBackground(1);
  EXPECT_EQ(Console.TextAttribute, 0x1E);
  SetBackground(9);
  EXPECT_EQ(Console.TextAttribute, 0x1E);
  SetForeground(128 + 4);  // bit 7 comes with the foreground
  EXPECT_EQ(Console.TextAttribute, 0x94);
  SetBackground(7);
  EXPECT_EQ(Console.TextAttribute, 0xF4);
  ConsoleWrite("c");
  EXPECT_EQ(fake::AttrAt(1, 1), 0xF4);
}

TEST_F(ConsoleScreen, ResizeHalfGrantedLaysOutInTheVisibleWindow) {
  Start({.bufferColumns = 80,
         .bufferRows = 300,
         .windowColumns = 80,
         .windowRows = 25});
  EXPECT_EQ(ScreenRows(), 300);
  EXPECT_FALSE(ResizeScreen(49, 24));
  // The window was granted, the buffer not: the window gets its size back
  // and is the screen from now on.
  EXPECT_EQ(ScreenColumns(), 80);
  EXPECT_EQ(ScreenRows(), 25);
  EXPECT_EQ(Console.WindowRight, 79);
  EXPECT_EQ(Console.WindowBottom, 24);
  const plat::SMALL_RECT visible = fake::ConsoleBuffer().Window();
  EXPECT_EQ(visible.Right, 79);
  EXPECT_EQ(visible.Bottom, 24);
  EXPECT_EQ(fake::ConsoleBuffer().Width(), 80);
  EXPECT_EQ(fake::ConsoleBuffer().Height(), 300);
}

TEST_F(ConsoleScreen, ResizeWhoseBufferStepIsGrantedKeepsToTheWindow) {
  Start({.bufferColumns = 80,
         .bufferRows = 25,
         .windowColumns = 40,
         .windowRows = 20});
  EXPECT_FALSE(ResizeScreen(49, 24));
  // The buffer took the first request; the larger visible window was refused.
  EXPECT_EQ(fake::ConsoleBuffer().Width(), 48);
  EXPECT_EQ(fake::ConsoleBuffer().Height(), 23);
  EXPECT_EQ(ScreenColumns(), 40);
  EXPECT_EQ(ScreenRows(), 20);
  EXPECT_EQ(Console.WindowRight, 39);
  EXPECT_EQ(Console.WindowBottom, 19);
}

TEST_F(ConsoleScreen, ControlHandlerEndsTheProcessOnBreakAndClose) {
  for (std::uint32_t event : {0u, 1u, 2u}) {
    try {
      ConsoleControlHandler(event);
      ADD_FAILURE() << "event " << event << " did not end the process";
    } catch (const fake::ProcessExit& exit) {
      EXPECT_EQ(exit.code, 0u);
    }
  }
  EXPECT_EQ(ConsoleControlHandler(plat::CTRL_LOGOFF_EVENT), 0);
  EXPECT_EQ(ConsoleControlHandler(plat::CTRL_SHUTDOWN_EVENT), 0);
}

TEST_F(ConsoleScreen, NothingIsWrittenAfterClose) {
  ConsoleClose();
  ConsoleWrite("x");
  EXPECT_EQ(fake::CharAt(1, 1), ' ');
  EXPECT_NE(Console.ConsoleOutputHandle, plat::INVALID_HANDLE_VALUE);
}

}  // namespace
