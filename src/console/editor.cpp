// SPDX-License-Identifier: MIT
#include "console/editor.h"

#include <string>

#include "console/keyboard.h"
#include "console/screen.h"
#include "platform/platform.h"

std::int32_t SavedScreenColumns = 0;
std::int32_t SavedScreenRows = 0;

namespace {

constexpr std::uint8_t kBackspace = 8;
constexpr std::uint8_t kEnter = 13;

}  // namespace

// Keys are taken straight from the console and only the latch itself is
// looked at: the abort polls elsewhere move waiting keys into the key
// buffer, which would drop every key typed ahead or pasted at the prompt.
std::int32_t ReadLineEcho(Str255& line, std::int32_t maximum) {
  Str255 working = line;
  ConsoleWrite(working.view());
  if (!AbortFlag) PauseMs(100);

  while (!AbortFlag) {
    const std::uint8_t key = ReadKeyLatchingEsc();
    if (key == 0) continue;  // extended keys do not edit the line
    if (key == kEnter) break;
    if (key == kBackspace) {
      if (!working.empty()) {
        ConsoleWrite("\b \b");
        working.Truncate(working.size() - 1);
      }
      continue;
    }
    // The line stops at its maximum: a key beyond it is not taken.
    if (maximum >= 0 && working.size() >= static_cast<std::size_t>(maximum)) {
      continue;
    }
    ConsoleWrite(static_cast<char>(key));
    working.Append(static_cast<char>(key));
  }

  if (AbortFlag) return -1;
  line = working;
  if (maximum < 0) maximum = 0;
  line.Truncate(static_cast<std::size_t>(maximum));
  return static_cast<std::int32_t>(working.size());
}

void SaveScreenSize() {
  SavedScreenColumns = ScreenColumns();
  SavedScreenRows = ScreenRows();
}

void RestoreFullWindow() {
  DefineWindow(1, 1, SavedScreenColumns, SavedScreenRows);
}

void SetConsoleCaption(const Str255& text) {
  const Str255 title = Str255(" ") + text;
  plat::SetConsoleTitleA(title.str().c_str());
}
