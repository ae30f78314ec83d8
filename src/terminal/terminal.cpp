// SPDX-License-Identifier: MIT
#include "terminal/terminal.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "console/editor.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "console/str255.h"
#include "link/host_link.h"
#include "link/serial_port.h"

namespace {

constexpr std::uint16_t kBoxWidth = 36;

constexpr std::string_view kBanner = "*      Vandrik ZRV Terminal       *";
constexpr std::string_view kHeader = " Send            : Receive    /esc ";
constexpr std::string_view kPromptOpen = ": <";
constexpr std::string_view kPromptMark = " >";

// Inner-window columns: the reply sits under "Receive", one blank before it.
constexpr std::int32_t kReplyColumn = 19;
constexpr std::size_t kReplyWidth = 16;
constexpr std::size_t kPromptLead = 17;
constexpr std::size_t kPromptTail = 15;
constexpr std::int32_t kHeaderRow = 3;

constexpr std::uint8_t kBlack = 0;
constexpr std::uint8_t kBlue = 1;
constexpr std::uint8_t kLightGrey = 7;
constexpr std::uint8_t kLightGreen = 10;
constexpr std::uint8_t kYellow = 14;

constexpr std::uint8_t kEnterKey = 13;
constexpr std::uint8_t kBackspaceKey = 8;

// One write for the whole run: every write queries, paints and moves the
// cursor.
void WriteBlanks(std::size_t count) {
  constexpr std::string_view kBlanks = "                 ";
  static_assert(kBlanks.size() >= kPromptLead && kBlanks.size() >= kPromptTail);
  ConsoleWrite(kBlanks.substr(0, count));
}

// Typed keys as key codes up to the first Enter: the line they make (a
// backspace takes back a character, an extended key is no text), whether
// an Enter ended it, and in `rest` what comes after it.
Str255 TakeTypedLine(const Str255& keys, Str255& rest, bool& whole) {
  Str255 line;
  whole = false;
  std::size_t i = 0;
  for (; i < keys.size() && !whole; ++i) {
    const auto key = static_cast<std::uint8_t>(keys[i]);
    if (key == 0) {
      ++i;  // its second byte goes with it
    } else if (key == kEnterKey) {
      whole = true;
    } else if (key == kBackspaceKey) {
      if (!line.empty()) line.Truncate(line.size() - 1);
    } else if (line.size() < kLongestCommand) {
      line += static_cast<char>(key);
    }
  }
  rest = Str255(keys.view().substr(std::min(i, keys.size())));
  return line;
}

}  // namespace

void DrawTerminalFrame(std::uint16_t width) {
  RestoreFullWindow();
  const std::int32_t columns = ScreenColumns();
  const std::int32_t rows = ScreenRows();
  const std::int32_t left = (columns - width) / 2;
  const std::int32_t right = columns - left;

  SetBackground(kBlack);
  DefineWindow(left + 1, 4, right + 1, rows - 2);
  ClearWindow();

  SetBackground(kBlue);
  SetForeground(kYellow);
  DefineWindow(left, 3, right, rows - 3);
  ClearWindow();

  DefineWindow(left + 1, 4, right - 1, rows - 4);
  ClearWindow();
}

void WriteTerminalPrompt(TerminalRun& run) {
  WriteBlanks(kPromptLead);
  ConsoleWrite(kPromptOpen);
  if (run.CurrentRow < run.RowLimit) {
    ++run.CurrentRow;
    WriteBlanks(kPromptTail);
  } else if (!run.Scrolled) {
    ++run.CurrentRow;
    run.Scrolled = true;
  }
  MoveCursor(1, run.CurrentRow);
  ConsoleWrite(kPromptMark);
  // Typing starts on the ">" and overwrites it.
  MoveCursor(2, run.CurrentRow);
}

void CloseTerminalScreen() {
  RestoreFullWindow();
  SetBackground(kLightGrey);
  SetForeground(kBlue);
  ClearWindow();
}

void RunTerminal(PortNumber port) {
  PurgePort(port);
  ResetKeyboard();
  DrawTerminalFrame(kBoxWidth);
  ConsoleWrite(kBanner);

  SetBackground(kBlack);
  SetForeground(kLightGreen);
  TerminalRun run;
  run.Port = port;
  run.CurrentRow = kHeaderRow;
  MoveCursor(1, kHeaderRow);
  run.RowLimit = static_cast<std::uint16_t>(ScreenRows() - 8);
  run.Scrolled = false;
  ConsoleWrite(kHeader);

  // Keys typed or pasted while a reply was awaited, not yet used: they
  // make the next command lines, in order.
  Str255 typedAhead;
  for (;;) {
    WriteTerminalPrompt(run);
    bool whole = false;
    KeyBuffer = TakeTypedLine(typedAhead + KeyBuffer, typedAhead, whole);
    std::int32_t edited = static_cast<std::int32_t>(KeyBuffer.size());
    if (whole) {
      ConsoleWrite(KeyBuffer.view());  // as the editor would have echoed it
    } else {
      edited = ReadLineEcho(KeyBuffer, static_cast<std::int32_t>(kLongestCommand));
    }
    if (edited >= 0) {
      MoveCursor(kReplyColumn, run.CurrentRow);
      // Transact takes the command before it polls: keys picked up while the
      // request is under way land in the key buffer after it.
      const std::size_t sent = KeyBuffer.size();
      Str255 reply;
      Transact(run.Port, KeyBuffer, reply);
      typedAhead += KeyBuffer.view().substr(sent);
      while (reply.size() < kReplyWidth) reply += ' ';
      ConsoleWrite(' ');
      ConsoleWrite(reply.view());
    }
    KeyBuffer.Clear();
    if (AbortRequested()) break;
  }

  ResetKeyboard();
  CloseTerminalScreen();
}
