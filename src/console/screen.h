// SPDX-License-Identifier: MIT
// Console screen and text driver: the text window, colours, cursor, the
// writer behind all program text output and the reader behind its input.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/platform.h"

// Process-wide console state.
struct ConsoleState {
  plat::Handle ConsoleInputHandle = plat::INVALID_HANDLE_VALUE;
  plat::Handle ConsoleOutputHandle = plat::INVALID_HANDLE_VALUE;
  std::int32_t ScreenWidth = 0;
  std::int32_t ScreenHeight = 0;
  std::uint16_t WindowLeft = 0, WindowTop = 0, WindowRight = 0,
                WindowBottom = 0;  // inclusive, 0-based buffer coordinates
  std::uint8_t TextAttribute = 0;
};
extern ConsoleState Console;

// Binds standard input and output to the console. Returns false (after the
// run-time error report) when no console can be opened.
bool ConsoleSetup();
// Closes both streams (program end).
void ConsoleClose();

void ClearWindow();
void MoveCursor(std::int32_t column, std::int32_t row);
std::int32_t CursorColumn();
std::int32_t CursorRow();
void DefineWindow(std::int32_t left, std::int32_t top, std::int32_t right,
                  std::int32_t bottom);
void SetForeground(std::uint8_t colour);
void SetBackground(std::uint8_t colour);
bool ResizeScreen(std::int16_t columns, std::int16_t rows);
std::int32_t ScreenColumns();
std::int32_t ScreenRows();
void PauseMs(std::int32_t ms);
void ScrollWindowUp();

// The console control handler registered by ConsoleSetup.
int ConsoleControlHandler(std::uint32_t event);

// The writer: paints n characters at the cursor with wrapping, scrolling,
// CR, LF, BS and BEL handled, in runs of at most 64 cells.
void ConsoleWriter(const char* chars, std::size_t n);

// Standard output: one call is one write statement, buffered in 128-byte
// pieces and flushed at its end.
void ConsoleWrite(std::string_view text);
void ConsoleWrite(char c);
void ConsoleWriteLn(std::string_view text = {});  // text, then CR LF

// Standard input: reads one decimal integer (blanks and line ends before it
// skipped, ended by a blank or control character) and discards the rest of
// the line. Returns false when the entry is not a decimal integer.
bool ConsoleReadInteger(std::int32_t* value);

// Tests only: back to the state before ConsoleSetup.
void ResetConsoleStateForTests();
