// SPDX-License-Identifier: MIT
// The fake's console: the emulated buffer behind the console calls, and
// what tests read off it.
#include "platform/emu/emu_seam.h"
#include "platform/fake/fake_internal.h"

namespace fake {

bool IsConsole(plat::Handle h) { return h == kConsoleIn || h == kConsoleOut; }

bool ConsoleCall(plat::Handle h) {
  CatchUp();
  if (IsConsole(h)) return true;
  TheMachine().lastError = plat::ERROR_INVALID_HANDLE;
  return false;
}

// ---- console observers ------------------------------------------------------

plat::emu::EmuConsole& ConsoleBuffer() { return TheMachine().console; }

std::string Row(int row) { return TheMachine().console.RowText(row - 1); }

std::string RowTrimmed(int row) {
  std::string s = Row(row);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

char CharAt(int column, int row) {
  const auto& c = TheMachine().console;
  if (column < 1 || row < 1 || column > c.Width() || row > c.Height()) return 0;
  return c.At(column - 1, row - 1).ch;
}

std::uint16_t AttrAt(int column, int row) {
  const auto& c = TheMachine().console;
  if (column < 1 || row < 1 || column > c.Width() || row > c.Height()) return 0;
  return c.At(column - 1, row - 1).attr;
}

plat::COORD Cursor() { return TheMachine().console.Cursor(); }
std::string Title() { return TheMachine().console.Title(); }
const std::vector<BeepRecord>& Beeps() { return TheMachine().beeps; }
const std::vector<int>& WriteRuns() { return TheMachine().writeRuns; }
std::uint32_t InputMode() { return TheMachine().inputMode; }
std::uint32_t OutputMode() { return TheMachine().outputMode; }
bool CtrlHandlerInstalled() { return TheMachine().ctrlHandlerInstalled; }
plat::PHANDLER_ROUTINE CtrlHandler() { return TheMachine().ctrlHandler; }
const std::vector<std::string>& RuntimeErrors() {
  return TheMachine().runtimeErrors;
}
const std::string& ExitText() { return TheMachine().exitText; }

}  // namespace fake

namespace plat::emu {

EmuConsole* ConsoleFor(Handle h) {
  return fake::ConsoleCall(h) ? &fake::TheMachine().console : nullptr;
}

void NoteWritten(const SMALL_RECT& r) {
  const int cells = r.Right < r.Left || r.Bottom < r.Top
                        ? 0
                        : (r.Right - r.Left + 1) * (r.Bottom - r.Top + 1);
  fake::TheMachine().writeRuns.push_back(cells);
}

}  // namespace plat::emu

namespace plat {

using fake::TheMachine;

int SetConsoleMode(Handle h, std::uint32_t mode) {
  if (!fake::ConsoleCall(h)) return 0;
  (h == fake::kConsoleIn ? TheMachine().inputMode : TheMachine().outputMode) =
      mode;
  return 1;
}

int SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, int add) {
  auto& m = TheMachine();
  if (add) {
    m.ctrlHandler = handler;
    m.ctrlHandlerInstalled = handler != nullptr;
  } else if (m.ctrlHandlerInstalled && handler == m.ctrlHandler) {
    m.ctrlHandler = nullptr;
    m.ctrlHandlerInstalled = false;
  } else {
    m.lastError = ERROR_INVALID_PARAMETER;  // not registered
    return 0;
  }
  return 1;
}

int GetConsoleScreenBufferInfo(Handle h, CONSOLE_SCREEN_BUFFER_INFO* info) {
  if (!fake::ConsoleCall(h)) return 0;
  return TheMachine().console.GetInfo(info);
}

int GetNumberOfConsoleInputEvents(Handle h, std::uint32_t* count) {
  if (!fake::ConsoleCall(h) || count == nullptr) return 0;
  *count = TheMachine().console.InputCount();
  return 1;
}

int PeekConsoleInputA(Handle h, INPUT_RECORD* buffer, std::uint32_t length,
                      std::uint32_t* read) {
  if (!fake::ConsoleCall(h) || read == nullptr) return 0;
  *read =
      buffer != nullptr ? TheMachine().console.PeekInput(buffer, length) : 0;
  return 1;
}

int ReadConsoleInputA(Handle h, INPUT_RECORD* buffer, std::uint32_t length,
                      std::uint32_t* read) {
  if (!fake::ConsoleCall(h) || read == nullptr || buffer == nullptr) return 0;
  auto& m = TheMachine();
  // Blocks as the console does: time passes until the next scripted event.
  while (length > 0 && m.console.InputCount() == 0) {
    if (m.script.empty()) throw fake::InputStarved{};
    fake::Pump(m.script.begin()->first);
  }
  *read = m.console.ReadInput(buffer, length);
  return 1;
}

int SetConsoleTitleA(const char* title) {
  fake::CatchUp();
  TheMachine().console.SetTitle(title != nullptr ? title : "");
  return 1;
}

// Beep blocks for its duration on Windows, so the virtual clock moves on by
// it; the record carries the time the tone started.
int Beep(std::uint32_t frequency, std::uint32_t durationMs) {
  fake::CatchUp();
  TheMachine().beeps.push_back({frequency, durationMs, TheMachine().now});
  fake::Pump(TheMachine().now + fake::Micros{durationMs} * 1000);
  return 1;
}

}  // namespace plat
