// SPDX-License-Identifier: MIT
// One implementation of the Win32 console screen-buffer semantics, shared by
// the POSIX backend (rendered with ncursesw) and the test fake.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace plat::emu {

struct Cell {
  char ch = ' ';
  std::uint16_t attr = 0x07;
};

class EmuConsole {
 public:
  // A buffer of bufferCols x bufferRows with a visible window of winCols x
  // winRows at the top-left, blanks in attr, cursor at (0, 0).
  void Init(int bufferCols, int bufferRows, int winCols, int winRows,
            std::uint16_t attr);

  // Win32 semantics, results as the Win32 calls give them (non-zero = ok).
  int GetInfo(CONSOLE_SCREEN_BUFFER_INFO* info) const;
  int SetCursor(COORD pos);  // refused outside the buffer
  // Refused when smaller than the visible window in either dimension.
  int SetBufferSize(COORD size);
  // Refused when the window would reach outside the buffer.
  int SetWindowInfo(int absolute, const SMALL_RECT* window);
  int WriteOutput(const CHAR_INFO* buffer, COORD bufferSize, COORD bufferCoord,
                  SMALL_RECT* region);
  int Scroll(const SMALL_RECT* scrollRect, const SMALL_RECT* clipRect,
             COORD dest, const CHAR_INFO* fill);
  int FillChar(char c, std::uint32_t length, COORD at, std::uint32_t* written);
  int FillAttr(std::uint16_t attr, std::uint32_t length, COORD at,
               std::uint32_t* written);
  int ReadChars(char* out, std::uint32_t length, COORD at,
                std::uint32_t* read) const;

  // Input event queue.
  void PushInput(const INPUT_RECORD& record);
  std::uint32_t InputCount() const;
  std::uint32_t PeekInput(INPUT_RECORD* out, std::uint32_t length) const;
  std::uint32_t ReadInput(INPUT_RECORD* out, std::uint32_t length);
  void ClearInput();

  void SetTitle(const std::string& title);
  const std::string& Title() const { return title_; }

  // The attribute reported as the console's current colours.
  std::uint16_t Attribute() const { return attr_; }

  // Observers.
  int Width() const { return width_; }
  int Height() const { return height_; }
  COORD Cursor() const { return cursor_; }
  SMALL_RECT Window() const { return window_; }
  const Cell& At(int x, int y) const;  // 0-based; callers stay in range
  std::string RowText(int y) const;    // the row's bytes, full width

  // Change tracking for renderers: bumped on every change of cells, cursor,
  // window or title; RowDirty() tells the rows changed since ClearDirty().
  std::uint64_t Version() const { return version_; }
  bool RowDirty(int y) const;
  void ClearDirty();

 private:
  void Touch(int y);
  void TouchAll();
  template <class SetCell>
  int FillRun(std::uint32_t length, COORD at, std::uint32_t* written,
              SetCell set);
  Cell& CellAt(int x, int y) { return cells_[std::size_t(y) * width_ + x]; }
  int width_ = 0;
  int height_ = 0;
  std::vector<Cell> cells_;
  std::vector<std::uint8_t> dirty_;
  COORD cursor_{0, 0};
  SMALL_RECT window_{0, 0, 0, 0};
  std::deque<INPUT_RECORD> input_;
  std::string title_;
  std::uint16_t attr_ = 0x07;
  std::uint64_t version_ = 0;
};

}  // namespace plat::emu
