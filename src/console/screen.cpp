// SPDX-License-Identifier: MIT
#include "console/screen.h"

#include <algorithm>
#include <string>

#include "console/editor.h"
#include "console/keyboard.h"
#include "console/str255.h"
#include "console/text.h"

ConsoleState Console;

namespace {

// The two standard text streams. Both are served by the console itself
// rather than by the process's inherited handles, so redirection at the OS
// level does not take the operator's keyboard or screen away.
enum class StreamMode { Closed, Input, Output };

constexpr int kStreamBufferSize = 128;

struct TextStream {
  StreamMode Mode = StreamMode::Closed;
  plat::Handle Handle = plat::INVALID_HANDLE_VALUE;
  char Buffer[kStreamBufferSize] = {};
  int Position = 0;
  int End = 0;
};

TextStream StandardInput;
TextStream StandardOutput;

constexpr std::uint32_t kConsoleAccess =
    plat::GENERIC_READ | plat::GENERIC_WRITE;
constexpr std::uint32_t kConsoleShare =
    plat::FILE_SHARE_READ | plat::FILE_SHARE_WRITE;

void OpenConsoleInput() {
  Console.ConsoleInputHandle = plat::CreateFileA(
      "CONIN$", kConsoleAccess, kConsoleShare, plat::OPEN_EXISTING, 0);
  StandardInput = TextStream{};
  StandardInput.Handle = Console.ConsoleInputHandle;
  StandardInput.Mode = StreamMode::Input;
  // Raw input: Ctrl-C arrives as key code 3, lines are edited by our reader.
  plat::SetConsoleMode(Console.ConsoleInputHandle, 0);
  plat::SetConsoleCtrlHandler(ConsoleControlHandler, 1);
}

// Returns 0 or the system's error code.
std::uint32_t OpenConsoleOutput() {
  Console.ConsoleOutputHandle = plat::CreateFileA(
      "CONOUT$", kConsoleAccess, kConsoleShare, plat::OPEN_EXISTING, 0);
  StandardOutput = TextStream{};
  StandardOutput.Handle = Console.ConsoleOutputHandle;
  StandardOutput.Mode = StreamMode::Output;

  plat::CONSOLE_SCREEN_BUFFER_INFO info{};
  if (plat::GetConsoleScreenBufferInfo(Console.ConsoleOutputHandle, &info)) {
    Console.ScreenWidth = info.dwSize.X;
    Console.ScreenHeight = info.dwSize.Y;
    Console.TextAttribute = static_cast<std::uint8_t>(info.wAttributes & 0xFF);
  }
  Console.WindowLeft = 0;
  Console.WindowTop = 0;
  Console.WindowRight = static_cast<std::uint16_t>(Console.ScreenWidth - 1);
  Console.WindowBottom = static_cast<std::uint16_t>(Console.ScreenHeight - 1);

  if (!plat::GetConsoleScreenBufferInfo(Console.ConsoleOutputHandle, &info)) {
    const std::uint32_t code = plat::GetLastError();
    return code != 0 ? code : plat::ERROR_INVALID_HANDLE;
  }
  // The writer wraps and interprets control characters itself.
  plat::SetConsoleMode(Console.ConsoleOutputHandle, 0);
  return 0;
}

void CloseStream(TextStream& stream) {
  if (stream.Mode == StreamMode::Closed) return;
  plat::CloseHandle(stream.Handle);
  stream = TextStream{};
}

std::int32_t ReadCursorX() {
  plat::CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!plat::GetConsoleScreenBufferInfo(Console.ConsoleOutputHandle, &info))
    return 0;
  return info.dwCursorPosition.X;
}

std::int32_t ReadCursorY() {
  plat::CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!plat::GetConsoleScreenBufferInfo(Console.ConsoleOutputHandle, &info))
    return 0;
  return info.dwCursorPosition.Y;
}

void SetCursor(std::int32_t x, std::int32_t y) {
  plat::SetConsoleCursorPosition(
      Console.ConsoleOutputHandle,
      plat::COORD{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)});
}

constexpr int kMaxRun = 64;

// ---- standard output ------------------------------------------------------

void FlushStandardOutput() {
  ConsoleWriter(StandardOutput.Buffer,
                static_cast<std::size_t>(StandardOutput.Position));
  StandardOutput.Position = 0;
}

void PutOutput(std::string_view text) {
  for (char c : text) {
    StandardOutput.Buffer[StandardOutput.Position++] = c;
    if (StandardOutput.Position == kStreamBufferSize) FlushStandardOutput();
  }
}

// ---- standard input -------------------------------------------------------

// Makes at least one byte available, reading another typed line if needed.
bool InputAvailable() {
  if (StandardInput.Position < StandardInput.End) return true;
  StandardInput.Position = 0;
  StandardInput.End =
      ConsoleLineReader(StandardInput.Buffer, kStreamBufferSize);
  if (StandardInput.End < 0) StandardInput.End = 0;
  return StandardInput.End > 0;
}

std::uint8_t PeekInput() {
  return static_cast<std::uint8_t>(
      StandardInput.Buffer[StandardInput.Position]);
}

bool IsBlankOrLineEnd(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Discards up to and including the end of the current line. A carriage
// return stored without its line feed (a full buffer) ends the line too;
// no further line is waited for then.
void DiscardRestOfLine() {
  while (InputAvailable()) {
    const std::uint8_t c = PeekInput();
    ++StandardInput.Position;
    if (c == '\n') return;
    if (c == '\r') {
      if (StandardInput.Position < StandardInput.End && PeekInput() == '\n')
        ++StandardInput.Position;
      return;
    }
  }
}

}  // namespace

bool ConsoleSetup() {
  OpenConsoleInput();
  const std::uint32_t error = OpenConsoleOutput();
  if (error != 0) {
    StandardOutput = TextStream{};
    const std::string message =
        "Runtime error " + std::to_string(error) +
        ": the console screen cannot be opened for output";
    plat::ReportRuntimeError(message.c_str());
    return false;
  }
  return true;
}

void ConsoleClose() {
  CloseStream(StandardInput);
  CloseStream(StandardOutput);
}

void ConsoleWriter(const char* chars, std::size_t n) {
  const plat::Handle out = Console.ConsoleOutputHandle;
  const std::int32_t left = Console.WindowLeft;
  const std::int32_t right = Console.WindowRight;
  const std::int32_t bottom = Console.WindowBottom;
  std::int32_t x = ReadCursorX();
  std::int32_t y = ReadCursorY();

  plat::CHAR_INFO run[kMaxRun];
  int runLength = 0;
  // The run always ends just left of x on row y.
  auto paint = [&] {
    if (runLength == 0) return;
    plat::SMALL_RECT region{
        static_cast<std::int16_t>(x - runLength), static_cast<std::int16_t>(y),
        static_cast<std::int16_t>(x - 1), static_cast<std::int16_t>(y)};
    plat::WriteConsoleOutputA(
        out, run, plat::COORD{static_cast<std::int16_t>(runLength), 1},
        plat::COORD{0, 0}, &region);
    runLength = 0;
  };

  for (std::size_t i = 0; i < n; ++i) {
    const char c = chars[i];
    switch (static_cast<std::uint8_t>(c)) {
      case 7:
        paint();
        plat::Beep(3000, 100);
        break;
      case 8:
        paint();
        if (x > left) --x;
        break;
      case 10:
        paint();
        ++y;
        break;
      case 13:
        paint();
        x = left;
        break;
      default:
        run[runLength++] = plat::CHAR_INFO{c, Console.TextAttribute};
        ++x;
        break;
    }
    if (runLength == kMaxRun) paint();
    if (x > right) {
      paint();
      x = left;
      ++y;
    }
    if (y > bottom) {
      paint();
      ScrollWindowUp();
      y = bottom;
    }
  }
  paint();
  SetCursor(x, y);
}

void ScrollWindowUp() {
  const plat::SMALL_RECT window{
      static_cast<std::int16_t>(Console.WindowLeft),
      static_cast<std::int16_t>(Console.WindowTop),
      static_cast<std::int16_t>(Console.WindowRight),
      static_cast<std::int16_t>(Console.WindowBottom)};
  const plat::COORD destination{window.Left,
                                static_cast<std::int16_t>(window.Top - 1)};
  const plat::CHAR_INFO fill{' ', Console.TextAttribute};
  plat::ScrollConsoleScreenBufferA(Console.ConsoleOutputHandle, &window,
                                   &window, destination, &fill);
}

void ClearWindow() {
  const plat::Handle out = Console.ConsoleOutputHandle;
  std::uint32_t written = 0;
  const bool wholeScreen = Console.WindowLeft == 0 && Console.WindowTop == 0 &&
                           Console.WindowRight == Console.ScreenWidth - 1 &&
                           Console.WindowBottom == Console.ScreenHeight - 1;
  if (wholeScreen) {
    const auto cells = static_cast<std::uint32_t>(Console.ScreenWidth) *
                       static_cast<std::uint32_t>(Console.ScreenHeight);
    plat::FillConsoleOutputCharacterA(out, ' ', cells, plat::COORD{0, 0},
                                      &written);
    plat::FillConsoleOutputAttribute(out, Console.TextAttribute, cells,
                                     plat::COORD{0, 0}, &written);
  } else {
    const auto cells = static_cast<std::uint32_t>(Console.WindowRight -
                                                  Console.WindowLeft + 1);
    for (std::int32_t row = Console.WindowTop; row <= Console.WindowBottom;
         ++row) {
      const plat::COORD at{static_cast<std::int16_t>(Console.WindowLeft),
                           static_cast<std::int16_t>(row)};
      plat::FillConsoleOutputCharacterA(out, ' ', cells, at, &written);
      plat::FillConsoleOutputAttribute(out, Console.TextAttribute, cells, at,
                                       &written);
    }
  }
  MoveCursor(1, 1);
}

void MoveCursor(std::int32_t column, std::int32_t row) {
  const std::int64_t x = std::int64_t{column} - 1 + Console.WindowLeft;
  const std::int64_t y = std::int64_t{row} - 1 + Console.WindowTop;
  if (y < Console.WindowTop || y > Console.WindowBottom ||
      x < Console.WindowLeft || x > Console.WindowRight)
    return;
  SetCursor(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y));
}

std::int32_t CursorColumn() { return ReadCursorX() - Console.WindowLeft + 1; }

std::int32_t CursorRow() { return ReadCursorY() - Console.WindowTop + 1; }

void DefineWindow(std::int32_t left, std::int32_t top, std::int32_t right,
                  std::int32_t bottom) {
  const std::int64_t l = std::int64_t{left} - 1;
  const std::int64_t t = std::int64_t{top} - 1;
  const std::int64_t r = std::int64_t{right} - 1;
  const std::int64_t b = std::int64_t{bottom} - 1;
  // cppcheck takes r < l and b < t for one test when it guesses all four
  // corners alike; they are two.
  if (l < 0 || t < 0 || r >= Console.ScreenWidth || b >= Console.ScreenHeight ||
      r < l || b < t)  // cppcheck-suppress knownConditionTrueFalse
    return;
  Console.WindowLeft = static_cast<std::uint16_t>(l);
  Console.WindowTop = static_cast<std::uint16_t>(t);
  Console.WindowRight = static_cast<std::uint16_t>(r);
  Console.WindowBottom = static_cast<std::uint16_t>(b);
  SetCursor(static_cast<std::int32_t>(l), static_cast<std::int32_t>(t));
}

void SetForeground(std::uint8_t colour) {
  Console.TextAttribute = static_cast<std::uint8_t>(
      (Console.TextAttribute & 0x70) | (colour & 0x8F));
}

void SetBackground(std::uint8_t colour) {
  Console.TextAttribute = static_cast<std::uint8_t>(
      (Console.TextAttribute & 0x8F) | ((colour * 16) & 0x70));
}

namespace {

// A console whose buffer is larger than its visible window (a new Windows
// console keeps 120 x 9001 cells behind a window of 120 x 30): the screen
// laid out is the visible window, so that nothing drawn is out of view.
// Where buffer and window agree nothing changes.
void FitVisibleWindow() {
  plat::CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!plat::GetConsoleScreenBufferInfo(Console.ConsoleOutputHandle, &info)) {
    return;
  }
  const plat::SMALL_RECT& visible = info.srWindow;
  const std::int32_t width = visible.Right - visible.Left + 1;
  const std::int32_t height = visible.Bottom - visible.Top + 1;
  // Drawn from the buffer's corner: only a window there shows it.
  if (visible.Left != 0 || visible.Top != 0 || width <= 0 || height <= 0) return;
  if (width >= Console.ScreenWidth && height >= Console.ScreenHeight) return;
  Console.ScreenWidth = std::min<std::int32_t>(width, Console.ScreenWidth);
  Console.ScreenHeight = std::min<std::int32_t>(height, Console.ScreenHeight);
  Console.WindowLeft = 0;
  Console.WindowTop = 0;
  Console.WindowRight = static_cast<std::uint16_t>(Console.ScreenWidth - 1);
  Console.WindowBottom = static_cast<std::uint16_t>(Console.ScreenHeight - 1);
  // The whole screen as a window must stay what it is.
  SaveScreenSize();
}

}  // namespace

bool ResizeScreen(std::int16_t columns, std::int16_t rows) {
  const plat::Handle out = Console.ConsoleOutputHandle;
  plat::CONSOLE_SCREEN_BUFFER_INFO before{};
  const bool known = plat::GetConsoleScreenBufferInfo(out, &before) != 0;
  const plat::COORD buffer{static_cast<std::int16_t>(columns - 1),
                           static_cast<std::int16_t>(rows - 1)};
  plat::SetConsoleScreenBufferSize(out, buffer);
  const plat::SMALL_RECT window{0, 0, static_cast<std::int16_t>(columns - 1),
                                static_cast<std::int16_t>(rows - 1)};
  if (!plat::SetConsoleWindowInfo(out, 1, &window)) {
    FitVisibleWindow();
    return false;
  }
  if (!plat::SetConsoleScreenBufferSize(out, buffer)) {
    // Half granted: a window too small for the screen over a larger buffer.
    // The window gets its own size back, at the buffer's corner.
    if (known) {
      const plat::SMALL_RECT& old = before.srWindow;
      const plat::SMALL_RECT back{0, 0,
                                  static_cast<std::int16_t>(old.Right - old.Left),
                                  static_cast<std::int16_t>(old.Bottom - old.Top)};
      plat::SetConsoleWindowInfo(out, 1, &back);
    }
    FitVisibleWindow();
    return false;
  }
  Console.ScreenWidth = buffer.X;
  Console.ScreenHeight = buffer.Y;
  Console.WindowLeft = 0;
  Console.WindowTop = 0;
  Console.WindowRight = static_cast<std::uint16_t>(Console.ScreenWidth - 1);
  Console.WindowBottom = static_cast<std::uint16_t>(Console.ScreenHeight - 1);
  return true;
}

std::int32_t ScreenColumns() { return Console.ScreenWidth; }

std::int32_t ScreenRows() { return Console.ScreenHeight; }

void PauseMs(std::int32_t ms) {
  plat::Sleep(ms > 0 ? static_cast<std::uint32_t>(ms) : 0);
}

int ConsoleControlHandler(std::uint32_t event) {
  switch (event) {
    case plat::CTRL_C_EVENT:
    case plat::CTRL_BREAK_EVENT:
    case plat::CTRL_CLOSE_EVENT:
      plat::ExitProcess(0);
    default:
      return 0;
  }
}

void ConsoleWrite(std::string_view text) {
  if (StandardOutput.Mode != StreamMode::Output) return;
  PutOutput(text);
  FlushStandardOutput();
}

void ConsoleWrite(char c) { ConsoleWrite(std::string_view(&c, 1)); }

void ConsoleWriteLn(std::string_view text) {
  if (StandardOutput.Mode != StreamMode::Output) return;
  PutOutput(text);
  PutOutput("\r\n");
  FlushStandardOutput();
}

bool ConsoleReadInteger(std::int32_t* value) {
  if (StandardInput.Mode != StreamMode::Input) return false;
  // An empty line keeps the reader waiting for the number.
  for (;;) {
    if (!InputAvailable()) return false;
    if (!IsBlankOrLineEnd(PeekInput())) break;
    ++StandardInput.Position;
  }
  // A number is read as a text of at most 255 characters. The cap also ends
  // the read on a console that keeps failing, where every failed read puts
  // a 255 into the line and the text would otherwise grow without end.
  std::string token;
  while (token.size() < Str255::kMax && InputAvailable() && PeekInput() > ' ') {
    token.push_back(static_cast<char>(PeekInput()));
    ++StandardInput.Position;
  }
  bool whole = false;
  const std::int32_t number = ParseNumber(token, &whole);
  if (!whole) return false;
  DiscardRestOfLine();
  if (value) *value = number;
  return true;
}

void ResetConsoleStateForTests() {
  Console = ConsoleState{};
  StandardInput = TextStream{};
  StandardOutput = TextStream{};
}
