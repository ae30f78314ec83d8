// SPDX-License-Identifier: MIT
// Code page 850: the program's bytes, the controller's replies and the key
// map's characters are all in it, on every console and terminal.
#pragma once

#include <cstdint>

namespace plat {

// The glyph a console shows for a byte: control bytes as their classic PC
// symbols, 0x00 blank. Every entry is a printable code point of the Basic
// Multilingual Plane, so no byte of the program or of the controller can
// reach a terminal as a control code.
char32_t Cp850Glyph(std::uint8_t byte);
// The byte (0x20-0xFF, 0x7F excepted) whose glyph is `c`, or -1.
int UnicodeToCp850(char32_t c);

}  // namespace plat
