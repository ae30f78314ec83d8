// SPDX-License-Identifier: MIT
#include "monitor/rows.h"

#include <algorithm>
#include <string>

#include "console/screen.h"
#include "monitor/state.h"

Str255 ComponentLabel(std::int32_t index) {
  return Str255(kComponentLine.Label) + CounterLabels[index];
}

void MoveToLine(const RowLabel& line) { MoveCursor(line.Column, line.Row); }

void PrintClearedLine(const Str255& text) {
  const std::int32_t column = CursorColumn();
  if (column < MonitorWidth) {
    const std::int32_t blanks =
        std::min<std::int32_t>(MonitorWidth - column, Str255::kMax);
    ConsoleWrite(std::string(static_cast<std::size_t>(blanks), ' '));
  }
  MoveCursor(column, CursorRow());
  ConsoleWrite(text.view());
}
