// SPDX-License-Identifier: MIT
#include "platform/emu/emu_seam.h"

namespace plat {

namespace {

int Answer(int done) {
  if (done) return 1;
  SetLastError(ERROR_INVALID_PARAMETER);
  return 0;
}

}  // namespace

int SetConsoleCursorPosition(Handle h, COORD pos) {
  emu::EmuConsole* c = emu::ConsoleFor(h);
  return c != nullptr ? Answer(c->SetCursor(pos)) : 0;
}

int SetConsoleScreenBufferSize(Handle h, COORD size) {
  emu::EmuConsole* c = emu::ConsoleFor(h);
  return c != nullptr ? Answer(c->SetBufferSize(size)) : 0;
}

// Recorded by the buffer; what a backend shows of it is its own affair.
int SetConsoleWindowInfo(Handle h, int absolute, const SMALL_RECT* window) {
  emu::EmuConsole* c = emu::ConsoleFor(h);
  return c != nullptr ? Answer(c->SetWindowInfo(absolute, window)) : 0;
}

int WriteConsoleOutputA(Handle h, const CHAR_INFO* buffer, COORD bufferSize,
                        COORD bufferCoord, SMALL_RECT* writeRegion) {
  emu::EmuConsole* c = emu::ConsoleFor(h);
  if (c == nullptr) return 0;
  if (!Answer(c->WriteOutput(buffer, bufferSize, bufferCoord, writeRegion))) {
    return 0;
  }
  emu::NoteWritten(*writeRegion);
  return 1;
}

int ScrollConsoleScreenBufferA(Handle h, const SMALL_RECT* scrollRect,
                               const SMALL_RECT* clipRect, COORD destOrigin,
                               const CHAR_INFO* fill) {
  emu::EmuConsole* c = emu::ConsoleFor(h);
  return c != nullptr
             ? Answer(c->Scroll(scrollRect, clipRect, destOrigin, fill))
             : 0;
}

int FillConsoleOutputCharacterA(Handle h, char ch, std::uint32_t length,
                                COORD at, std::uint32_t* written) {
  emu::EmuConsole* c = emu::ConsoleFor(h);
  return c != nullptr ? Answer(c->FillChar(ch, length, at, written)) : 0;
}

int FillConsoleOutputAttribute(Handle h, std::uint16_t attribute,
                               std::uint32_t length, COORD at,
                               std::uint32_t* written) {
  emu::EmuConsole* c = emu::ConsoleFor(h);
  return c != nullptr ? Answer(c->FillAttr(attribute, length, at, written)) : 0;
}

int ReadConsoleOutputCharacterA(Handle h, char* chars, std::uint32_t length,
                                COORD at, std::uint32_t* read) {
  emu::EmuConsole* c = emu::ConsoleFor(h);
  return c != nullptr ? Answer(c->ReadChars(chars, length, at, read)) : 0;
}

}  // namespace plat
