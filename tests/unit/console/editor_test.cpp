// SPDX-License-Identifier: MIT
#include <string>

#include "console_fixture.h"
#include "setup/program.h"

namespace {

using LineEditor = ConsoleTest;
using ScreenSizeAndTitle = ConsoleTest;
using StartupDefaults = ConsoleTest;

constexpr fake::Micros kMs = 1000;

// Edits a line that starts as `line`, at the full maximum.
void ExpectEdit(Str255 line, std::int32_t result, const char* text) {
  EXPECT_EQ(ReadLineEcho(line, 255), result);
  EXPECT_EQ(line, text);
}

// Esc ends the edit: the line stays as it was, the abort is latched and the
// Esc itself is not buffered.
void ExpectEscEndsTheEdit() {
  ExpectEdit("keep", -1, "keep");
  EXPECT_TRUE(AbortFlag);
  EXPECT_TRUE(KeyBuffer.empty());
}

TEST_F(LineEditor, BackspaceErasesTheLastCharacter) {
  fake::Type("ab\bc\r", 0, 200 * kMs);
  ExpectEdit("", 2, "ac");
  EXPECT_EQ(fake::RowTrimmed(1), "ac");
  EXPECT_EQ(fake::Cursor().X, 2);  // Enter is neither shown nor stored
  EXPECT_EQ(fake::Cursor().Y, 0);
}

TEST_F(LineEditor, EntryTextIsShownAndEditable) {
  MoveCursor(5, 2);
  fake::Type("\b\b\bq\r", 0, 50 * kMs);
  ExpectEdit("xyz", 1, "q");
  EXPECT_EQ(fake::RowTrimmed(2), "    q");
}

TEST_F(LineEditor, BackspaceOnAnEmptyLineWritesNothing) {
  fake::Type("\b\r");
  ExpectEdit("", 0, "");
  EXPECT_TRUE(fake::WriteRuns().empty());
}

TEST_F(LineEditor, EscEndsTheEditAndKeepsTheLine) {
  fake::Type("ab", 0, 100 * kMs);
  fake::Key("Esc", 300 * kMs);
  fake::Type("cd", 400 * kMs);
  ExpectEscEndsTheEdit();
  EXPECT_EQ(fake::Now(), 300 * kMs);  // at once, nothing waited for after
  fake::AdvanceTo(400 * kMs);
  EXPECT_TRUE(KeyWaiting());  // later keys are left alone
}

TEST_F(LineEditor, EscDuringTheFirstPauseEndsTheEdit) {
  fake::Type("ab", 10 * kMs, 10 * kMs);
  fake::Key("Esc", 50 * kMs);
  fake::Type("cd", 60 * kMs);
  ExpectEscEndsTheEdit();
  EXPECT_EQ(fake::Now(), 100 * kMs);
  EXPECT_TRUE(KeyWaiting());  // the keys after Esc stay in the queue
}

TEST_F(LineEditor, AlreadyAbortedReturnsWithoutWaitingOrReading) {
  AbortFlag = true;
  fake::Type("abc\r");
  ExpectEdit("x", -1, "x");
  EXPECT_EQ(fake::Now(), 0);
  EXPECT_TRUE(KeyWaiting());
}

TEST_F(LineEditor, LineStopsAtItsMaximum) {
  fake::Type("abcdef\r", 0, 100 * kMs);
  Str255 line;
  EXPECT_EQ(ReadLineEcho(line, 4), 4);
  EXPECT_EQ(line, "abcd");
  EXPECT_EQ(fake::RowTrimmed(1), "abcd");
}

TEST_F(LineEditor, ExtendedKeysAreIgnored) {
  fake::Type("a");
  fake::Key("Left");
  fake::Key("F1");
  fake::Key("Ctrl+F5");
  fake::Type("b\r");
  ExpectEdit("", 2, "ab");
  EXPECT_EQ(fake::RowTrimmed(1), "ab");
}

TEST_F(LineEditor, PastedCommandArrivesWhole) {
  fake::Type("RD DM100\r");
  ExpectEdit("", 8, "RD DM100");
  EXPECT_EQ(fake::RowTrimmed(1), "RD DM100");
  EXPECT_TRUE(KeyBuffer.empty());
  EXPECT_EQ(fake::PendingScript(), 0u);
  EXPECT_EQ(fake::Now(), 100 * kMs);  // the pause before the first key
}

TEST_F(LineEditor, FastTypingDuringTheFirstPauseArrivesWhole) {
  fake::Type("WR DM901 0\r", 20 * kMs, 5 * kMs);
  ExpectEdit("", 10, "WR DM901 0");
}

TEST_F(LineEditor, EditsTheKeyBufferInPlace) {
  // The terminal uses the key buffer as its command line.
  KeyBuffer = "R";
  fake::Type("D T106\r");
  EXPECT_EQ(ReadLineEcho(KeyBuffer, 255), 7);
  EXPECT_EQ(KeyBuffer, "RD T106");
}

TEST_F(LineEditor, FullLineDoesNotGrow) {
  Str255 line = Str255(std::string(254, 'x'));
  fake::Type("abc\r");
  EXPECT_EQ(ReadLineEcho(line, 255), 255);
  EXPECT_EQ(line.size(), 255u);
  EXPECT_EQ(line[254], 'a');
}

TEST_F(ScreenSizeAndTitle, CaptionStartsWithABlank) {
  SetConsoleCaption("");
  EXPECT_EQ(fake::Title(), " ");
  SetConsoleCaption("Pav (#12, C3)");
  EXPECT_EQ(fake::Title(), " Pav (#12, C3)");
  SetConsoleCaption(Str255(std::string(255, 'k')));
  EXPECT_EQ(fake::Title(), " " + std::string(254, 'k'));
}

TEST_F(ScreenSizeAndTitle, RestoreFullWindowUsesTheSavedSize) {
  Start({.bufferColumns = 80,
         .bufferRows = 300,
         .windowColumns = 80,
         .windowRows = 25});
  SaveScreenSize();
  EXPECT_EQ(SavedScreenColumns, 80);
  EXPECT_EQ(SavedScreenRows, 300);
  // Half granted: the screen becomes the visible window, saved with it.
  EXPECT_FALSE(ResizeScreen(49, 24));
  EXPECT_EQ(SavedScreenRows, 25);
  DefineWindow(10, 5, 40, 20);
  RestoreFullWindow();
  EXPECT_EQ(Console.WindowLeft, 0);
  EXPECT_EQ(Console.WindowTop, 0);
  EXPECT_EQ(Console.WindowRight, 79);
  EXPECT_EQ(Console.WindowBottom, 24);
  EXPECT_EQ(fake::Cursor().X, 0);
  EXPECT_EQ(fake::Cursor().Y, 0);

  DefineWindow(10, 5, 40, 20);
  SavedScreenColumns = 81;  // larger than the screen: ignored
  RestoreFullWindow();
  EXPECT_EQ(Console.WindowLeft, 9);
  EXPECT_EQ(Console.WindowRight, 39);
}

TEST_F(StartupDefaults, PendingKeysAreDiscardedAndTheSizeRecorded) {
  Start({.bufferColumns = 100,
         .bufferRows = 300,
         .windowColumns = 80,
         .windowRows = 25});
  fake::Type("12\r");
  fake::Key("F1");
  KeyBuffer = "junk";
  AbortFlag = true;
  LibraryStartup();
  EXPECT_FALSE(KeyWaiting());
  EXPECT_TRUE(KeyBuffer.empty());
  EXPECT_FALSE(AbortFlag);
  EXPECT_EQ(SavedScreenColumns, 100);
  EXPECT_EQ(SavedScreenRows, 300);

  // The answer to the port prompt is what is typed afterwards.
  fake::Type("3\r", fake::Now() + 500 * kMs);
  std::int32_t port = 0;
  ASSERT_TRUE(ConsoleReadInteger(&port));
  EXPECT_EQ(port, 3);
}

}  // namespace
