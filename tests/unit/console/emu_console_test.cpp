// SPDX-License-Identifier: MIT
// The emulated console's screen-buffer rules, which both the POSIX backend
// and the test fake rely on to behave as the Windows console does.
#include "platform/emu/emu_console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using plat::CHAR_INFO;
using plat::COORD;
using plat::SMALL_RECT;
using plat::emu::EmuConsole;

namespace {

EmuConsole Make(int cols, int rows, int winCols, int winRows) {
  EmuConsole c;
  c.Init(cols, rows, winCols, winRows, 0x07);
  return c;
}

plat::CONSOLE_SCREEN_BUFFER_INFO Info(const EmuConsole& c) {
  plat::CONSOLE_SCREEN_BUFFER_INFO info{};
  EXPECT_TRUE(c.GetInfo(&info));
  return info;
}

// Writes text as one row of cells at (x, y) in the attribute.
void Put(EmuConsole& c, int x, int y, const std::string& text,
         std::uint16_t attr = 0x07) {
  std::vector<CHAR_INFO> cells;
  for (char ch : text) cells.push_back({ch, attr});
  const auto n = static_cast<std::int16_t>(text.size());
  SMALL_RECT r{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
               static_cast<std::int16_t>(x + n - 1),
               static_cast<std::int16_t>(y)};
  ASSERT_TRUE(c.WriteOutput(cells.data(), {n, 1}, {0, 0}, &r));
}

std::string Trimmed(const EmuConsole& c, int y) {
  std::string s = c.RowText(y);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

}  // namespace

TEST(EmuConsole, InitReportsBufferWindowAndAttribute) {
  EmuConsole c;
  c.Init(80, 300, 80, 25, 0x1E);
  const auto info = Info(c);
  EXPECT_EQ(info.dwSize.X, 80);
  EXPECT_EQ(info.dwSize.Y, 300);
  EXPECT_EQ(info.wAttributes, 0x1E);
  EXPECT_EQ(info.srWindow.Left, 0);
  EXPECT_EQ(info.srWindow.Top, 0);
  EXPECT_EQ(info.srWindow.Right, 79);
  EXPECT_EQ(info.srWindow.Bottom, 24);
  EXPECT_EQ(info.dwCursorPosition.X, 0);
  EXPECT_EQ(info.dwCursorPosition.Y, 0);
  EXPECT_EQ(c.At(79, 299).ch, ' ');
  EXPECT_EQ(c.At(79, 299).attr, 0x1E);
}

// The screen resize the monitor asks for at start on a tall console: the
// buffer and window rules refuse every step that would shrink the buffer.
TEST(EmuConsole, ResizeOnTallBufferOnlyShrinksTheWindow) {
  EmuConsole c = Make(80, 300, 80, 25);
  EXPECT_FALSE(c.SetBufferSize({48, 23}));  // smaller than the 80 x 25 window
  const SMALL_RECT win{0, 0, 48, 23};
  EXPECT_TRUE(c.SetWindowInfo(1, &win));
  EXPECT_EQ(c.Window().Right, 48);
  EXPECT_EQ(c.Window().Bottom, 23);
  EXPECT_FALSE(c.SetBufferSize({48, 23}));  // smaller than the 49 x 24 window
  EXPECT_EQ(c.Width(), 80);
  EXPECT_EQ(c.Height(), 300);
}

TEST(EmuConsole, BufferSizeRefusedWhenEitherDimensionIsBelowTheWindow) {
  EmuConsole c = Make(80, 25, 80, 25);
  EXPECT_FALSE(c.SetBufferSize({79, 100}));
  EXPECT_FALSE(c.SetBufferSize({200, 24}));
  EXPECT_TRUE(c.SetBufferSize({80, 25}));
  EXPECT_EQ(c.Width(), 80);
  EXPECT_EQ(c.Height(), 25);
}

TEST(EmuConsole, BufferResizeKeepsTopLeftContentAndClampsCursor) {
  EmuConsole c = Make(20, 10, 10, 5);
  c.FillAttr(0x1F, 200, {0, 0}, nullptr);
  Put(c, 0, 0, "top-left", 0x1F);
  Put(c, 15, 8, "gone");
  ASSERT_TRUE(c.SetCursor({18, 9}));

  ASSERT_TRUE(c.SetBufferSize({12, 6}));
  EXPECT_EQ(c.RowText(0), "top-left    ");
  EXPECT_EQ(c.Cursor().X, 11);
  EXPECT_EQ(c.Cursor().Y, 5);
  // The window had followed the cursor; it slides back inside the buffer.
  EXPECT_LE(c.Window().Right, 11);
  EXPECT_LE(c.Window().Bottom, 5);
  EXPECT_EQ(c.Window().Right - c.Window().Left, 9);

  ASSERT_TRUE(c.SetBufferSize({30, 8}));
  EXPECT_EQ(c.At(0, 0).ch, 't');
  EXPECT_EQ(c.At(0, 0).attr, 0x1F);
  EXPECT_EQ(c.At(25, 7).ch, ' ');
  EXPECT_EQ(c.At(25, 7).attr, 0x07);
}

TEST(EmuConsole, WindowMustLieInsideBufferAndNotBeInverted) {
  EmuConsole c = Make(80, 300, 80, 25);
  const SMALL_RECT tooWide{0, 0, 80, 24};
  const SMALL_RECT tooLow{0, 280, 79, 300};
  const SMALL_RECT inverted{10, 0, 9, 24};
  const SMALL_RECT negative{-1, 0, 78, 24};
  EXPECT_FALSE(c.SetWindowInfo(1, &tooWide));
  EXPECT_FALSE(c.SetWindowInfo(1, &tooLow));
  EXPECT_FALSE(c.SetWindowInfo(1, &inverted));
  EXPECT_FALSE(c.SetWindowInfo(1, &negative));
  EXPECT_EQ(c.Window().Right, 79);
  EXPECT_EQ(c.Window().Bottom, 24);

  // Relative: each edge moves by its delta.
  const SMALL_RECT down{0, 10, 0, 10};
  ASSERT_TRUE(c.SetWindowInfo(0, &down));
  EXPECT_EQ(c.Window().Top, 10);
  EXPECT_EQ(c.Window().Bottom, 34);
  const SMALL_RECT pastEnd{0, 270, 0, 270};
  EXPECT_FALSE(c.SetWindowInfo(0, &pastEnd));
  EXPECT_EQ(c.Window().Top, 10);
}

TEST(EmuConsole, CursorRefusedOutsideBufferAndWindowFollowsIt) {
  EmuConsole c = Make(80, 300, 80, 25);
  EXPECT_FALSE(c.SetCursor({80, 0}));
  EXPECT_FALSE(c.SetCursor({0, 300}));
  EXPECT_FALSE(c.SetCursor({-1, 0}));
  EXPECT_EQ(c.Cursor().X, 0);
  EXPECT_EQ(c.Cursor().Y, 0);
  ASSERT_TRUE(c.SetCursor({79, 299}));
  EXPECT_EQ(c.Window().Top, 275);
  EXPECT_EQ(c.Window().Bottom, 299);
  ASSERT_TRUE(c.SetCursor({0, 100}));
  EXPECT_EQ(c.Window().Top, 100);
}

TEST(EmuConsole, WriteRegionIsClippedToTheBufferAndReported) {
  EmuConsole c = Make(80, 25, 80, 25);
  std::vector<CHAR_INFO> cells;
  for (char ch : std::string("0123456789")) cells.push_back({ch, 0x1E});

  // Ten cells from column 75: five fit.
  SMALL_RECT r{75, 3, 84, 3};
  ASSERT_TRUE(c.WriteOutput(cells.data(), {10, 1}, {0, 0}, &r));
  EXPECT_EQ(r.Left, 75);
  EXPECT_EQ(r.Right, 79);
  EXPECT_EQ(c.RowText(3).substr(75), "01234");
  EXPECT_EQ(c.At(75, 3).attr, 0x1E);

  // Cut at the left edge: the source moves along with the cut.
  r = {-3, 4, 6, 4};
  ASSERT_TRUE(c.WriteOutput(cells.data(), {10, 1}, {0, 0}, &r));
  EXPECT_EQ(r.Left, 0);
  EXPECT_EQ(r.Right, 6);
  EXPECT_EQ(Trimmed(c, 4), "3456789");

  // A region larger than the source is cut to the source; bufferCoord picks
  // where in the source to start.
  r = {10, 5, 40, 5};
  ASSERT_TRUE(c.WriteOutput(cells.data(), {10, 1}, {6, 0}, &r));
  EXPECT_EQ(r.Left, 10);
  EXPECT_EQ(r.Right, 13);
  EXPECT_EQ(Trimmed(c, 5), std::string(10, ' ') + "6789");

  // Entirely outside: nothing changes, an empty region comes back.
  r = {0, 25, 9, 25};
  ASSERT_TRUE(c.WriteOutput(cells.data(), {10, 1}, {0, 0}, &r));
  EXPECT_LT(r.Right, r.Left);
}

TEST(EmuConsole, WriteTakesARectangleOutOfALargerSource) {
  EmuConsole c = Make(10, 5, 10, 5);
  // 4 x 3 source: rows "abcd", "efgh", "ijkl"; take the 2 x 2 block at (1, 1).
  std::vector<CHAR_INFO> cells;
  for (char ch : std::string("abcdefghijkl")) cells.push_back({ch, 7});
  SMALL_RECT r{5, 2, 6, 3};
  ASSERT_TRUE(c.WriteOutput(cells.data(), {4, 3}, {1, 1}, &r));
  EXPECT_EQ(c.RowText(2), "     fg   ");
  EXPECT_EQ(c.RowText(3), "     jk   ");
}

TEST(EmuConsole, ScrollUpInsideAWindowLeavesTheRestAlone) {
  EmuConsole c = Make(10, 6, 10, 6);
  for (int y = 0; y < 6; ++y) Put(c, 0, y, std::string(10, char('A' + y)));
  // The window is columns 2-7 of rows 1-4; scroll it up one row.
  const SMALL_RECT win{2, 1, 7, 4};
  const CHAR_INFO fill{' ', 0x71};
  ASSERT_TRUE(c.Scroll(&win, &win, {2, 0}, &fill));
  EXPECT_EQ(c.RowText(0), "AAAAAAAAAA");
  EXPECT_EQ(c.RowText(1), "BBCCCCCCBB");
  EXPECT_EQ(c.RowText(2), "CCDDDDDDCC");
  EXPECT_EQ(c.RowText(3), "DDEEEEEEDD");
  EXPECT_EQ(c.RowText(4), "EE      EE");
  EXPECT_EQ(c.RowText(5), "FFFFFFFFFF");
  EXPECT_EQ(c.At(2, 4).attr, 0x71);
  EXPECT_EQ(c.At(1, 4).attr, 0x07);
}

TEST(EmuConsole, ScrollChangesOnlyCellsInsideTheClip) {
  EmuConsole c = Make(8, 4, 8, 4);
  Put(c, 0, 0, "abcdefgh");
  Put(c, 0, 1, "ijklmnop");
  // Move row 0 three columns right, clipped to columns 2-5 of rows 0-1.
  const SMALL_RECT src{0, 0, 7, 0};
  const SMALL_RECT clip{2, 0, 5, 1};
  const CHAR_INFO fill{'.', 0x07};
  ASSERT_TRUE(c.Scroll(&src, &clip, {3, 0}, &fill));
  // Columns 3-5 receive a-c; column 2 is uncovered source inside the clip.
  EXPECT_EQ(c.RowText(0), "ab.abcgh");
  EXPECT_EQ(c.RowText(1), "ijklmnop");

  // Without a clip rectangle the whole buffer may change.
  const SMALL_RECT row1{0, 1, 7, 1};
  ASSERT_TRUE(c.Scroll(&row1, nullptr, {0, 2}, &fill));
  EXPECT_EQ(c.RowText(1), "........");
  EXPECT_EQ(c.RowText(2), "ijklmnop");
}

TEST(EmuConsole, ScrollDownOverlappingCopiesFromTheOriginal) {
  EmuConsole c = Make(4, 5, 4, 5);
  for (int y = 0; y < 5; ++y) Put(c, 0, y, std::string(4, char('0' + y)));
  const SMALL_RECT src{0, 0, 3, 3};
  const CHAR_INFO fill{'-', 0x07};
  ASSERT_TRUE(c.Scroll(&src, nullptr, {0, 1}, &fill));
  EXPECT_EQ(c.RowText(0), "----");
  EXPECT_EQ(c.RowText(1), "0000");
  EXPECT_EQ(c.RowText(4), "3333");
}

TEST(EmuConsole, FillsWrapAlongRowsAndStopAtTheBufferEnd) {
  EmuConsole c = Make(10, 3, 10, 3);
  std::uint32_t written = 0;
  ASSERT_TRUE(c.FillChar('x', 13, {8, 0}, &written));
  EXPECT_EQ(written, 13u);
  EXPECT_EQ(c.RowText(0), "        xx");
  EXPECT_EQ(c.RowText(1), "xxxxxxxxxx");
  EXPECT_EQ(c.RowText(2), "x         ");

  ASSERT_TRUE(c.FillAttr(0x4F, 1000, {5, 2}, &written));
  EXPECT_EQ(written, 5u);
  EXPECT_EQ(c.At(4, 2).attr, 0x07);
  EXPECT_EQ(c.At(9, 2).attr, 0x4F);
  EXPECT_EQ(c.At(9, 2).ch, ' ');  // attributes leave the characters

  EXPECT_FALSE(c.FillChar('y', 5, {0, 3}, &written));
  EXPECT_EQ(written, 0u);
}

TEST(EmuConsole, InputQueuePeeksWithoutTakingAndReadsInOrder) {
  EmuConsole c = Make(10, 3, 10, 3);
  for (std::uint16_t vk : {0x41, 0x42, 0x43}) {
    plat::INPUT_RECORD r{};
    r.EventType = plat::KEY_EVENT;
    r.KeyEvent.wVirtualKeyCode = vk;
    c.PushInput(r);
  }
  plat::INPUT_RECORD out[4]{};
  EXPECT_EQ(c.InputCount(), 3u);
  EXPECT_EQ(c.PeekInput(out, 2), 2u);
  EXPECT_EQ(out[1].KeyEvent.wVirtualKeyCode, 0x42);
  EXPECT_EQ(c.InputCount(), 3u);
  EXPECT_EQ(c.ReadInput(out, 2), 2u);
  EXPECT_EQ(out[0].KeyEvent.wVirtualKeyCode, 0x41);
  EXPECT_EQ(c.ReadInput(out, 4), 1u);
  EXPECT_EQ(out[0].KeyEvent.wVirtualKeyCode, 0x43);
  EXPECT_EQ(c.ReadInput(out, 4), 0u);
}

TEST(EmuConsole, ChangeTrackingMarksTouchedRows) {
  EmuConsole c = Make(10, 5, 10, 5);
  c.ClearDirty();
  const auto v0 = c.Version();
  Put(c, 0, 3, "x");
  EXPECT_TRUE(c.RowDirty(3));
  EXPECT_FALSE(c.RowDirty(2));
  EXPECT_GT(c.Version(), v0);

  c.ClearDirty();
  c.FillChar('y', 12, {8, 1}, nullptr);  // rows 1 and 2
  EXPECT_TRUE(c.RowDirty(1));
  EXPECT_TRUE(c.RowDirty(2));
  EXPECT_FALSE(c.RowDirty(3));

  const auto v1 = c.Version();
  c.SetCursor({1, 1});
  EXPECT_GT(c.Version(), v1);
  const auto v2 = c.Version();
  c.SetTitle("t");
  EXPECT_GT(c.Version(), v2);
  EXPECT_EQ(c.Title(), "t");
}
