// SPDX-License-Identifier: MIT
// The console writer over arbitrary bytes in an arbitrary window: the
// cursor never leaves the window and nothing outside it changes.
#include <vector>

#include "console/keyboard.h"
#include "console/screen.h"
#include "fuzz/harness.h"
#include "platform/fake/fake.h"

namespace {

struct Snapshot {
  int width = 0;
  int height = 0;
  std::vector<plat::emu::Cell> cells;
};

Snapshot Take() {
  const plat::emu::EmuConsole& c = fake::ConsoleBuffer();
  Snapshot s{c.Width(), c.Height(), {}};
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) s.cells.push_back(c.At(x, y));
  }
  return s;
}

bool InWindow(int x, int y) {
  return x >= Console.WindowLeft && x <= Console.WindowRight &&
         y >= Console.WindowTop && y <= Console.WindowBottom;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzz::Input in{data, size};
  fake::Options options;
  options.bufferColumns = options.windowColumns = 1 + in.Byte() % 100;
  options.bufferRows = options.windowRows = 1 + in.Byte() % 50;
  const int columns = options.bufferColumns;
  const int rows = options.bufferRows;
  fake::Reset(options);
  ResetConsoleStateForTests();
  ResetKeyboardStateForTests();
  FUZZ_CHECK(ConsoleSetup());

  // Every row its own character and colour, so that a stray write shows.
  for (int y = 0; y < rows; ++y) {
    std::uint32_t written = 0;
    const plat::COORD at{0, static_cast<std::int16_t>(y)};
    plat::FillConsoleOutputCharacterA(
        Console.ConsoleOutputHandle, static_cast<char>(0xB0 + y % 16),
        static_cast<std::uint32_t>(columns), at, &written);
    plat::FillConsoleOutputAttribute(
        Console.ConsoleOutputHandle, static_cast<std::uint16_t>(0x100 + y),
        static_cast<std::uint32_t>(columns), at, &written);
  }

  // Rectangles a little past the screen too: those are refused and the
  // whole screen stays the window.
  const int left = in.Byte() % (columns + 2);
  const int top = in.Byte() % (rows + 2);
  const int right = in.Byte() % (columns + 2);
  const int bottom = in.Byte() % (rows + 2);
  DefineWindow(left, top, right, bottom);
  const std::uint8_t attribute = in.Byte();
  SetForeground(attribute);
  SetBackground(static_cast<std::uint8_t>(attribute >> 4));
  MoveCursor(in.Byte() % 102, in.Byte() % 52);

  const Snapshot before = Take();
  while (!in.Empty()) {
    // A piece straight to the writer, or through the buffered stream.
    const std::uint8_t how = in.Byte();
    const std::string_view text = in.Take(how % 128);
    if (how & 0x80) {
      ConsoleWrite(text);
    } else {
      ConsoleWriter(text.data(), text.size());
    }
    const plat::COORD cursor = fake::Cursor();
    FUZZ_CHECK(InWindow(cursor.X, cursor.Y));
    const Snapshot after = Take();
    FUZZ_CHECK(after.width == before.width && after.height == before.height);
    for (int y = 0; y < rows; ++y) {
      for (int x = 0; x < columns; ++x) {
        if (InWindow(x, y)) continue;
        const std::size_t i = static_cast<std::size_t>(y * columns + x);
        FUZZ_CHECK(after.cells[i].ch == before.cells[i].ch &&
                   after.cells[i].attr == before.cells[i].attr);
      }
    }
  }
  return 0;
}
