// SPDX-License-Identifier: MIT
#include "platform/emu/emu_console.h"

#include <algorithm>

namespace plat::emu {

namespace {

// Inclusive rectangle in plain ints, so that arithmetic near the 16-bit
// limits cannot wrap.
struct Rect {
  int left, top, right, bottom;
  bool Empty() const { return right < left || bottom < top; }
  bool Contains(int x, int y) const {
    return x >= left && x <= right && y >= top && y <= bottom;
  }
};

Rect FromSmall(const SMALL_RECT& r) {
  return {r.Left, r.Top, r.Right, r.Bottom};
}

Rect Intersect(const Rect& a, const Rect& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top),
          std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

SMALL_RECT ToSmall(const Rect& r) {
  return {static_cast<std::int16_t>(r.left), static_cast<std::int16_t>(r.top),
          static_cast<std::int16_t>(r.right),
          static_cast<std::int16_t>(r.bottom)};
}

// Larger buffers are refused rather than allocated; the console host has a
// similar limit.
constexpr long long kMaxCells = 8LL * 1024 * 1024;

}  // namespace

void EmuConsole::Init(int bufferCols, int bufferRows, int winCols, int winRows,
                      std::uint16_t attr) {
  width_ = std::max(bufferCols, 1);
  height_ = std::max(bufferRows, 1);
  winCols = std::clamp(winCols, 1, width_);
  winRows = std::clamp(winRows, 1, height_);
  attr_ = attr;
  cells_.assign(std::size_t(width_) * height_, Cell{' ', attr});
  dirty_.assign(std::size_t(height_), 1);
  cursor_ = {0, 0};
  window_ = ToSmall({0, 0, winCols - 1, winRows - 1});
  input_.clear();
  title_.clear();
  ++version_;
}

int EmuConsole::GetInfo(CONSOLE_SCREEN_BUFFER_INFO* info) const {
  if (info == nullptr || width_ == 0) return 0;
  info->dwSize = {static_cast<std::int16_t>(width_),
                  static_cast<std::int16_t>(height_)};
  info->dwCursorPosition = cursor_;
  info->wAttributes = attr_;
  info->srWindow = window_;
  info->dwMaximumWindowSize = info->dwSize;
  return 1;
}

int EmuConsole::SetCursor(COORD pos) {
  if (pos.X < 0 || pos.Y < 0 || pos.X >= width_ || pos.Y >= height_) return 0;
  cursor_ = pos;
  // As the real console does, the visible window follows a cursor placed
  // outside it, by the least shift that shows it.
  Rect w = FromSmall(window_);
  int dx = 0, dy = 0;
  if (pos.X < w.left) dx = pos.X - w.left;
  if (pos.X > w.right) dx = pos.X - w.right;
  if (pos.Y < w.top) dy = pos.Y - w.top;
  if (pos.Y > w.bottom) dy = pos.Y - w.bottom;
  if (dx != 0 || dy != 0) {
    window_ = ToSmall({w.left + dx, w.top + dy, w.right + dx, w.bottom + dy});
    TouchAll();
  }
  ++version_;
  return 1;
}

int EmuConsole::SetBufferSize(COORD size) {
  const Rect w = FromSmall(window_);
  const int winCols = w.right - w.left + 1;
  const int winRows = w.bottom - w.top + 1;
  if (size.X < winCols || size.Y < winRows) return 0;
  if (static_cast<long long>(size.X) * size.Y > kMaxCells) return 0;

  std::vector<Cell> cells(std::size_t(size.X) * size.Y, Cell{' ', 0x07});
  const int keepCols = std::min<int>(width_, size.X);
  const int keepRows = std::min<int>(height_, size.Y);
  for (int y = 0; y < keepRows; ++y)
    for (int x = 0; x < keepCols; ++x)
      cells[std::size_t(y) * size.X + x] = CellAt(x, y);
  cells_ = std::move(cells);
  width_ = size.X;
  height_ = size.Y;
  dirty_.assign(std::size_t(height_), 1);

  // The window keeps its size; it slides back inside a shrunken buffer.
  int dx = std::min(0, width_ - 1 - w.right);
  int dy = std::min(0, height_ - 1 - w.bottom);
  window_ = ToSmall({w.left + dx, w.top + dy, w.right + dx, w.bottom + dy});
  cursor_.X = static_cast<std::int16_t>(std::min<int>(cursor_.X, width_ - 1));
  cursor_.Y = static_cast<std::int16_t>(std::min<int>(cursor_.Y, height_ - 1));
  ++version_;
  return 1;
}

int EmuConsole::SetWindowInfo(int absolute, const SMALL_RECT* window) {
  if (window == nullptr) return 0;
  Rect r = FromSmall(*window);
  if (!absolute) {
    const Rect w = FromSmall(window_);
    r = {w.left + r.left, w.top + r.top, w.right + r.right,
         w.bottom + r.bottom};
  }
  if (r.Empty() || r.left < 0 || r.top < 0 || r.right >= width_ ||
      r.bottom >= height_)
    return 0;
  window_ = ToSmall(r);
  TouchAll();
  return 1;
}

int EmuConsole::WriteOutput(const CHAR_INFO* buffer, COORD bufferSize,
                            COORD bufferCoord, SMALL_RECT* region) {
  if (buffer == nullptr || region == nullptr) return 0;
  if (bufferSize.X <= 0 || bufferSize.Y <= 0 || bufferCoord.X < 0 ||
      bufferCoord.Y < 0)
    return 0;
  const Rect wanted = FromSmall(*region);
  // The source is the region's size from bufferCoord, cut at the edges of
  // the caller's buffer; the target is then cut at the screen buffer.
  const int cols =
      std::min(wanted.right - wanted.left + 1, bufferSize.X - bufferCoord.X);
  const int rows =
      std::min(wanted.bottom - wanted.top + 1, bufferSize.Y - bufferCoord.Y);
  Rect target{wanted.left, wanted.top, wanted.left + cols - 1,
              wanted.top + rows - 1};
  target = Intersect(target, {0, 0, width_ - 1, height_ - 1});
  if (cols <= 0 || rows <= 0 || target.Empty()) {
    region->Right = static_cast<std::int16_t>(region->Left - 1);
    region->Bottom = static_cast<std::int16_t>(region->Top - 1);
    return 1;
  }
  for (int y = target.top; y <= target.bottom; ++y) {
    const int sy = bufferCoord.Y + (y - wanted.top);
    for (int x = target.left; x <= target.right; ++x) {
      const int sx = bufferCoord.X + (x - wanted.left);
      const CHAR_INFO& src = buffer[std::size_t(sy) * bufferSize.X + sx];
      CellAt(x, y) = Cell{src.AsciiChar, src.Attributes};
    }
    Touch(y);
  }
  *region = ToSmall(target);
  return 1;
}

int EmuConsole::Scroll(const SMALL_RECT* scrollRect, const SMALL_RECT* clipRect,
                       COORD dest, const CHAR_INFO* fill) {
  if (scrollRect == nullptr || fill == nullptr) return 0;
  const Rect screen{0, 0, width_ - 1, height_ - 1};
  const Rect given = FromSmall(*scrollRect);
  if (given.Empty()) return 0;
  const Rect src = Intersect(given, screen);
  if (src.Empty()) return 1;
  const Rect clip =
      clipRect != nullptr ? Intersect(FromSmall(*clipRect), screen) : screen;
  if (clip.Empty()) return 1;

  // A source cut at the buffer edge moves its destination by the same cut.
  const int destLeft = dest.X + (src.left - given.left);
  const int destTop = dest.Y + (src.top - given.top);
  const int cols = src.right - src.left + 1;
  const int rows = src.bottom - src.top + 1;
  const Rect target{destLeft, destTop, destLeft + cols - 1, destTop + rows - 1};

  std::vector<Cell> saved;
  saved.reserve(std::size_t(cols) * rows);
  for (int y = src.top; y <= src.bottom; ++y)
    for (int x = src.left; x <= src.right; ++x) saved.push_back(CellAt(x, y));

  const Cell filler{fill->AsciiChar, fill->Attributes};
  for (int y = src.top; y <= src.bottom; ++y)
    for (int x = src.left; x <= src.right; ++x)
      if (clip.Contains(x, y) && !target.Contains(x, y)) {
        CellAt(x, y) = filler;
        Touch(y);
      }
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < cols; ++x) {
      const int tx = destLeft + x, ty = destTop + y;
      if (!clip.Contains(tx, ty)) continue;
      CellAt(tx, ty) = saved[std::size_t(y) * cols + x];
      Touch(ty);
    }
  return 1;
}

// The Win32 fill calls walk the buffer row by row from `at`, stopping at its
// end; FillChar and FillAttr differ only in what they set in each cell.
template <class SetCell>
int EmuConsole::FillRun(std::uint32_t length, COORD at, std::uint32_t* written,
                        SetCell set) {
  if (written != nullptr) *written = 0;
  if (at.X < 0 || at.Y < 0 || at.X >= width_ || at.Y >= height_) return 0;
  const std::uint64_t room =
      std::uint64_t(width_) * height_ - (std::uint64_t(at.Y) * width_ + at.X);
  const std::uint32_t n =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(length, room));
  std::size_t i = std::size_t(at.Y) * width_ + at.X;
  for (std::uint32_t k = 0; k < n; ++k, ++i) {
    set(cells_[i]);
    Touch(static_cast<int>(i / width_));
  }
  if (written != nullptr) *written = n;
  return 1;
}

int EmuConsole::FillChar(char c, std::uint32_t length, COORD at,
                         std::uint32_t* written) {
  return FillRun(length, at, written, [c](Cell& cell) { cell.ch = c; });
}

int EmuConsole::FillAttr(std::uint16_t attr, std::uint32_t length, COORD at,
                         std::uint32_t* written) {
  return FillRun(length, at, written,
                 [attr](Cell& cell) { cell.attr = attr; });
}

int EmuConsole::ReadChars(char* out, std::uint32_t length, COORD at,
                          std::uint32_t* read) const {
  if (read != nullptr) *read = 0;
  if (out == nullptr || at.X < 0 || at.Y < 0 || at.X >= width_ ||
      at.Y >= height_) {
    return 0;
  }
  const std::size_t first = std::size_t(at.Y) * width_ + at.X;
  const std::uint32_t n = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(length, cells_.size() - first));
  for (std::uint32_t k = 0; k < n; ++k) out[k] = cells_[first + k].ch;
  if (read != nullptr) *read = n;
  return 1;
}

void EmuConsole::PushInput(const INPUT_RECORD& record) {
  input_.push_back(record);
}

std::uint32_t EmuConsole::InputCount() const {
  return static_cast<std::uint32_t>(input_.size());
}

std::uint32_t EmuConsole::PeekInput(INPUT_RECORD* out,
                                    std::uint32_t length) const {
  const std::uint32_t n = std::min(length, InputCount());
  for (std::uint32_t i = 0; i < n; ++i) out[i] = input_[i];
  return n;
}

std::uint32_t EmuConsole::ReadInput(INPUT_RECORD* out, std::uint32_t length) {
  const std::uint32_t n = PeekInput(out, length);
  input_.erase(input_.begin(), input_.begin() + n);
  return n;
}

void EmuConsole::ClearInput() { input_.clear(); }

void EmuConsole::SetTitle(const std::string& title) {
  title_ = title;
  ++version_;
}

const Cell& EmuConsole::At(int x, int y) const {
  return cells_[std::size_t(y) * width_ + x];
}

std::string EmuConsole::RowText(int y) const {
  std::string row;
  if (y < 0 || y >= height_) return row;
  row.reserve(std::size_t(width_));
  for (int x = 0; x < width_; ++x) row.push_back(At(x, y).ch);
  return row;
}

bool EmuConsole::RowDirty(int y) const {
  return y >= 0 && y < height_ && dirty_[std::size_t(y)] != 0;
}

void EmuConsole::ClearDirty() {
  std::fill(dirty_.begin(), dirty_.end(), std::uint8_t{0});
}

void EmuConsole::Touch(int y) {
  dirty_[std::size_t(y)] = 1;
  ++version_;
}

void EmuConsole::TouchAll() {
  std::fill(dirty_.begin(), dirty_.end(), std::uint8_t{1});
  ++version_;
}

}  // namespace plat::emu
