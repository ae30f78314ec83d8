// SPDX-License-Identifier: MIT
#include <string>

#include "console_fixture.h"

namespace {

using ConsoleKeys = ConsoleTest;

plat::INPUT_RECORD KeyRecord(std::uint16_t vk, char ch, std::uint32_t state,
                             bool down = true) {
  plat::INPUT_RECORD r{};
  r.EventType = plat::KEY_EVENT;
  r.KeyEvent.bKeyDown = down ? 1 : 0;
  r.KeyEvent.wRepeatCount = 1;
  r.KeyEvent.wVirtualKeyCode = vk;
  r.KeyEvent.AsciiChar = ch;
  r.KeyEvent.dwControlKeyState = state;
  return r;
}

plat::INPUT_RECORD FocusRecord() {
  plat::INPUT_RECORD r{};
  r.EventType = plat::FOCUS_EVENT;
  return r;
}

std::uint32_t QueuedEvents() { return fake::ConsoleBuffer().InputCount(); }

TEST_F(ConsoleKeys, ExtendedKeyGivesZeroThenItsCode) {
  fake::PushRecord(KeyRecord(0x70, 0, 0));  // F1 down only
  EXPECT_TRUE(KeyWaiting());
  EXPECT_EQ(ReadKeyCode(), 0);
  EXPECT_EQ(QueuedEvents(), 0u);
  EXPECT_TRUE(KeyWaiting());
  EXPECT_EQ(ReadKeyCode(), 59);
  EXPECT_FALSE(KeyWaiting());
}

TEST_F(ConsoleKeys, KeyWaitingDiscardsOnlyWhenNoKeyIsAmongTheEvents) {
  fake::PushRecord(KeyRecord(0x10, 0, plat::SHIFT_PRESSED));  // Shift alone
  fake::PushRecord(KeyRecord(0x41, 'a', 0, false));           // a released
  fake::PushRecord(FocusRecord());
  fake::PushRecord(KeyRecord(0x14, 0, 0));  // Caps Lock: no row
  fake::PushRecord(KeyRecord(0x5B, 0, 0));  // Windows key: no code
  EXPECT_EQ(QueuedEvents(), 5u);
  EXPECT_FALSE(KeyWaiting());
  EXPECT_EQ(QueuedEvents(), 0u);

  fake::PushRecord(FocusRecord());
  fake::PushRecord(KeyRecord(0x10, 0, plat::SHIFT_PRESSED));
  fake::Key("a");
  EXPECT_EQ(QueuedEvents(), 4u);
  EXPECT_TRUE(KeyWaiting());
  EXPECT_EQ(QueuedEvents(), 4u);  // the queue is left as it was
  EXPECT_EQ(ReadKeyCode(), 'a');
}

TEST_F(ConsoleKeys, TranslationFollowsTheModifiers) {
  // Caps Lock is the console's business: the event character decides.
  fake::PushRecord(KeyRecord(0x41, 'A', plat::CAPSLOCK_ON));
  fake::PushRecord(KeyRecord(0x41, 'a', 0));
  fake::PushRecord(
      KeyRecord(0x41, 'a', plat::SHIFT_PRESSED | plat::CAPSLOCK_ON));
  // AltGr reports Alt and Ctrl together and takes the Alt code.
  fake::PushRecord(
      KeyRecord(0x32, '@', plat::RIGHT_ALT_PRESSED | plat::LEFT_CTRL_PRESSED));
  // Num Lock and the enhanced-key bit are not looked at.
  fake::PushRecord(KeyRecord(0x61, '1', plat::NUMLOCK_ON | plat::ENHANCED_KEY));
  EXPECT_EQ(ReadKeyCode(), 'A');
  EXPECT_EQ(ReadKeyCode(), 'a');
  EXPECT_EQ(ReadKeyCode(), 'A');
  EXPECT_EQ(ReadKeyCode(), '@');
  EXPECT_EQ(ReadKeyCode(), '1');

  fake::Key("Ctrl+M");
  fake::Key("Ctrl+H");
  fake::Key("Ctrl+J");
  fake::Key("Ctrl+C");
  EXPECT_EQ(ReadKeyCode(), 13);
  EXPECT_EQ(ReadKeyCode(), 8);
  EXPECT_EQ(ReadKeyCode(), 10);
  EXPECT_EQ(ReadKeyCode(), 3);
}

TEST_F(ConsoleKeys, ReadKeyCodeWaitsForAKeyAndIgnoresRepeatCounts) {
  fake::PushRecord(FocusRecord());
  fake::Key("x", 5000);
  EXPECT_EQ(ReadKeyCode(), 'x');
  EXPECT_EQ(fake::Now(), 5000);

  plat::INPUT_RECORD repeated = KeyRecord(0x42, 'b', 0);
  repeated.KeyEvent.wRepeatCount = 3;
  fake::PushRecord(repeated);
  EXPECT_EQ(ReadKeyCode(), 'b');
  EXPECT_FALSE(KeyWaiting());
}

TEST_F(ConsoleKeys, FailedConsoleReadGives255) {
  Console.ConsoleInputHandle = plat::INVALID_HANDLE_VALUE;
  EXPECT_EQ(ReadKeyCode(), 255);
  EXPECT_FALSE(KeyWaiting());
}

TEST_F(ConsoleKeys, AbortRequestedMovesOneKeyIntoTheKeyBuffer) {
  fake::Key("F1");
  fake::Key("F11");
  fake::Key("r");
  EXPECT_FALSE(AbortRequested());
  EXPECT_EQ(KeyBuffer.view(), std::string_view("\0\xBB", 2));
  EXPECT_FALSE(AbortRequested());
  EXPECT_FALSE(AbortRequested());
  EXPECT_EQ(KeyBuffer.view(), std::string_view("\0\xBB\0\x05r", 5));
  EXPECT_FALSE(AbortRequested());
  EXPECT_EQ(KeyBuffer.size(), 5u);
}

TEST_F(ConsoleKeys, EscLatchesAndIsNotBuffered) {
  fake::Key("a");
  fake::Key("Esc");
  EXPECT_FALSE(AbortRequested());
  EXPECT_TRUE(AbortRequested());
  EXPECT_TRUE(AbortFlag);
  EXPECT_EQ(KeyBuffer, "a");
  fake::Key("b");
  EXPECT_TRUE(AbortRequested());
  EXPECT_EQ(PollKey(), 27);
  EXPECT_EQ(KeyBuffer, "a");
  EXPECT_TRUE(KeyWaiting());  // typed meanwhile: left in the queue
}

TEST_F(ConsoleKeys, FullKeyBufferDropsKeysButEscStillLatches) {
  KeyBuffer = Str255(std::string(255, 'k'));
  fake::Key("a");
  EXPECT_FALSE(AbortRequested());
  EXPECT_EQ(KeyBuffer.size(), 255u);
  EXPECT_EQ(KeyBuffer[254], 'k');
  fake::Key("Esc");
  EXPECT_TRUE(AbortRequested());
}

TEST_F(ConsoleKeys, PollKeyReturnsOnlyTheKeyItTookItself) {
  EXPECT_EQ(PollKey(), 0);

  fake::Key("a");
  EXPECT_EQ(PollKey(), 0);  // the abort check took it
  EXPECT_EQ(KeyBuffer, "a");

  KeyBuffer.Clear();
  fake::Key("a");
  fake::Key("F1");
  EXPECT_EQ(PollKey(), 187);
  EXPECT_EQ(KeyBuffer.view(), std::string_view("a\0\xBB", 3));

  KeyBuffer.Clear();
  fake::Key("a");
  fake::Key("b");
  EXPECT_EQ(PollKey(), 'b');
  EXPECT_EQ(KeyBuffer, "ab");

  KeyBuffer.Clear();
  fake::Key("a");
  fake::Key("Esc");
  EXPECT_EQ(PollKey(), 27);
  EXPECT_TRUE(AbortFlag);
  EXPECT_EQ(KeyBuffer, "a");
}

TEST_F(ConsoleKeys, ReadKeyOrAbort) {
  fake::Key("Up", 1000);
  EXPECT_EQ(ReadKeyOrAbort(), 0);
  EXPECT_FALSE(KeyWaiting());  // the extended code was dropped
  EXPECT_TRUE(KeyBuffer.empty());

  fake::Key("q", 2000);
  EXPECT_EQ(ReadKeyOrAbort(), 'q');
  EXPECT_TRUE(KeyBuffer.empty());

  fake::Key("Esc", 3000);
  EXPECT_EQ(ReadKeyOrAbort(), 27);
  EXPECT_TRUE(AbortFlag);

  fake::Key("z");
  EXPECT_EQ(ReadKeyOrAbort(), 0);  // aborted: nothing read
  EXPECT_TRUE(KeyWaiting());
}

TEST_F(ConsoleKeys, WaitTenthsPausesAndPollsBeforeEachPause) {
  fake::Key("k", 50000);
  WaitTenths(1);
  EXPECT_EQ(fake::Now(), 100000);
  EXPECT_EQ(KeyBuffer, "k");  // polled once more after the last pause
  KeyBuffer.Clear();
  WaitTenths(0);
  WaitTenths(-3);
  EXPECT_EQ(fake::Now(), 100000);

  fake::Type("ab", 150000);
  WaitTenths(3);
  EXPECT_EQ(fake::Now(), 400000);
  EXPECT_EQ(KeyBuffer, "ab");

  fake::Key("Esc", 650000);
  WaitTenths(10);
  EXPECT_EQ(fake::Now(), 700000);
  EXPECT_TRUE(AbortFlag);

  WaitTenths(5);  // already aborted
  EXPECT_EQ(fake::Now(), 700000);
}

TEST_F(ConsoleKeys, ResetKeyboardDrainsAndClears) {
  fake::Type("abc");
  fake::Key("F1");
  fake::PushRecord(FocusRecord());
  KeyBuffer = "xyz";
  AbortFlag = true;
  ResetKeyboard();
  EXPECT_FALSE(KeyWaiting());
  EXPECT_EQ(QueuedEvents(), 0u);
  EXPECT_TRUE(KeyBuffer.empty());
  for (std::size_t i = 0; i < Str255::kMax; ++i)
    EXPECT_EQ(KeyBuffer.data()[i], 0);
  EXPECT_FALSE(AbortFlag);
  EXPECT_EQ(PendingExtendedCode, 0xFFFF);
}

TEST_F(ConsoleKeys, ResetKeyboardPausesBeforeAndBetweenReads) {
  // Keys still arriving while the queue is drained go as well.
  fake::Type("abc", 500, 1000);
  ResetKeyboard();
  EXPECT_EQ(fake::PendingScript(), 0u);
  EXPECT_FALSE(KeyWaiting());
  EXPECT_TRUE(KeyBuffer.empty());
}

// ---- the line reader behind standard input ---------------------------------

struct LineRead {
  int length;
  std::string bytes;
};

LineRead ReadLine() {
  char buf[128];
  const int n = ConsoleLineReader(buf, sizeof buf);
  return {n, std::string(buf, static_cast<std::size_t>(n > 0 ? n : 0))};
}

TEST_F(ConsoleKeys, LineReaderEchoesAndEdits) {
  fake::Type("ab");
  fake::Key("Backspace");
  fake::Type("c");
  fake::Key("Tab");
  fake::Key("Esc");
  fake::Key("Left");
  fake::Key("F1");
  fake::Key("Ctrl+H");
  fake::Type("d");
  fake::Key("Ctrl+M");
  const LineRead line = ReadLine();
  EXPECT_EQ(line.bytes, "ad\r\n");
  EXPECT_EQ(fake::RowTrimmed(1), "ad");
  EXPECT_EQ(fake::Cursor().X, 0);
  EXPECT_EQ(fake::Cursor().Y, 1);
}

TEST_F(ConsoleKeys, LineReaderEmptyLineAndLineFeed) {
  fake::Key("Backspace");
  fake::Key("Enter");
  EXPECT_EQ(ReadLine().bytes, "\r\n");
  EXPECT_TRUE(fake::WriteRuns().empty());  // backspace wrote nothing

  fake::Type("1");
  fake::Key("Ctrl+J");
  fake::Type("2\r");
  EXPECT_EQ(ReadLine().bytes, "1\n2\r\n");
}

TEST_F(ConsoleKeys, LineReaderCarriageReturnNearTheEndOfTheBuffer) {
  fake::Type(std::string(125, 'x') + "\r");
  LineRead line = ReadLine();
  ASSERT_EQ(line.length, 127);
  EXPECT_EQ(line.bytes.substr(125), "\r\n");

  fake::Type(std::string(126, 'x') + "\r");
  line = ReadLine();
  ASSERT_EQ(line.length, 127);
  EXPECT_EQ(line.bytes.back(), '\r');

  fake::Type(std::string(127, 'x') + "\r");
  line = ReadLine();
  ASSERT_EQ(line.length, 128);
  EXPECT_EQ(line.bytes.back(), '\r');

  fake::Type(std::string(128, 'x') + "\r");
  line = ReadLine();
  ASSERT_EQ(line.length, 128);
  EXPECT_EQ(line.bytes, std::string(128, 'x'));
  EXPECT_EQ(ReadLine().bytes, "\r\n");  // the line goes on
}

// ---- reading a number from standard input
// ------------------------------------

TEST_F(ConsoleKeys, ReadIntegerSkipsBlanksAndEmptyLines) {
  std::int32_t value = 0;
  fake::Type("  12\r");
  ASSERT_TRUE(ConsoleReadInteger(&value));
  EXPECT_EQ(value, 12);

  fake::Type("\r");
  fake::Type("7\r", 1000000);
  ASSERT_TRUE(ConsoleReadInteger(&value));
  EXPECT_EQ(value, 7);
  EXPECT_EQ(fake::Now(), 1000000);

  fake::Type("-42\r");
  ASSERT_TRUE(ConsoleReadInteger(&value));
  EXPECT_EQ(value, -42);
  fake::Type("-2147483648\r");
  ASSERT_TRUE(ConsoleReadInteger(&value));
  EXPECT_EQ(value, -2147483647 - 1);
  fake::Type("+5\r");
  ASSERT_TRUE(ConsoleReadInteger(&value));
  EXPECT_EQ(value, 5);

  // A full 128-byte line without a carriage return goes on in the next one.
  fake::Type(std::string(127, ' ') + "12\r");
  ASSERT_TRUE(ConsoleReadInteger(&value));
  EXPECT_EQ(value, 12);
}

TEST_F(ConsoleKeys, ReadIntegerDiscardsTheRestOfTheLine) {
  std::int32_t value = 0;
  fake::Type("5 six\r6\r");
  ASSERT_TRUE(ConsoleReadInteger(&value));
  EXPECT_EQ(value, 5);
  ASSERT_TRUE(ConsoleReadInteger(&value));
  EXPECT_EQ(value, 6);

  // A carriage return stored without its line feed still ends the line,
  // and no further line is waited for.
  fake::Type(std::string(125, ' ') + "9\r");
  ASSERT_TRUE(ConsoleReadInteger(&value));
  EXPECT_EQ(value, 9);
  fake::Type("4\r");
  ASSERT_TRUE(ConsoleReadInteger(&value));
  EXPECT_EQ(value, 4);
}

TEST_F(ConsoleKeys, ReadIntegerRejectsWhatIsNotADecimalInteger) {
  std::int32_t value = 77;
  for (const char* entry : {"3a\r", "-\r", "2147483648\r", "1.5\r", "x\r"}) {
    ResetConsoleStateForTests();
    ASSERT_TRUE(ConsoleSetup());
    fake::Type(entry);
    EXPECT_FALSE(ConsoleReadInteger(&value)) << entry;
    EXPECT_EQ(value, 77);
  }
}

TEST_F(ConsoleKeys, ReadIntegerEndsWhenTheConsoleKeepsFailing) {
  // Every failed read is a 255 in the line: an input error, not a read
  // that never ends.
  Console.ConsoleInputHandle = plat::INVALID_HANDLE_VALUE;
  std::int32_t value = 77;
  EXPECT_FALSE(ConsoleReadInteger(&value));
  EXPECT_EQ(value, 77);
}

}  // namespace
