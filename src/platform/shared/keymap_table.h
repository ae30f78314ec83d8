// SPDX-License-Identifier: MIT
// The key map: virtual-key code to key code for a key pressed plain, with
// Shift, with Ctrl and with Alt. The table and its lookups only, kept below
// the console layer so that the platform backends find the key that types a
// character the same way the program reads it.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// 16-bit key codes: 0x00-0xFF ordinary, 0x100 + b extended, 0xFFFF none.
inline constexpr std::uint16_t kNoKey = 0xFFFF;
inline constexpr std::uint16_t Ext(std::uint16_t b) {
  return static_cast<std::uint16_t>(0x100 + b);
}

struct KeyMapRow {
  std::uint16_t VirtualKey;
  std::uint16_t Plain, Shift, Ctrl, Alt;
};

inline constexpr int kKeyMapRows = 94;

// Rows in lookup order; the first row for a virtual key wins. The Plain code
// of a letter is never consulted: a letter without modifiers gives the
// event's own character, so Caps Lock decides its case.
inline constexpr KeyMapRow KeyMap[kKeyMapRows] = {
    {0x08, 8, 8, 127, Ext(14)},  // Backspace
    {0x09, 9, Ext(15), Ext(148), Ext(165)},  // Tab
    {0x0D, 13, 13, 10, Ext(166)},  // Enter
    {0x1B, 27, 27, 27, Ext(1)},  // Esc
    {0x20, 32, 32, Ext(3), 32},  // Space
    {0x30, 48, 61, kNoKey, Ext(129)},  // digit 0
    {0x31, 49, 43, kNoKey, 179},  // digit 1
    {0x32, 50, 34, Ext(3), 64},  // digit 2
    {0x33, 51, 42, kNoKey, 35},  // digit 3
    {0x34, 52, 128, kNoKey, Ext(123)},  // digit 4
    {0x35, 53, 37, kNoKey, Ext(124)},  // digit 5
    {0x36, 54, 38, 30, 170},  // digit 6
    {0x37, 55, 47, kNoKey, 124},  // digit 7
    {0x38, 56, 40, kNoKey, 189},  // digit 8
    {0x39, 57, 41, kNoKey, Ext(128)},  // digit 9
    {0x41, 97, 65, 1, Ext(30)},  // letter A
    {0x42, 98, 66, 2, Ext(48)},  // letter B
    {0x43, 99, 67, 3, Ext(46)},  // letter C
    {0x44, 100, 68, 4, Ext(32)},  // letter D
    {0x45, 101, 69, 5, Ext(18)},  // letter E
    {0x46, 102, 70, 6, Ext(33)},  // letter F
    {0x47, 103, 71, 7, Ext(34)},  // letter G
    {0x48, 104, 72, 8, Ext(35)},  // letter H
    {0x49, 105, 73, 9, Ext(23)},  // letter I
    {0x4A, 106, 74, 10, Ext(36)},  // letter J
    {0x4B, 107, 75, 11, Ext(37)},  // letter K
    {0x4C, 108, 76, 12, Ext(38)},  // letter L
    {0x4D, 109, 77, 13, Ext(50)},  // letter M
    {0x4E, 110, 78, 14, Ext(49)},  // letter N
    {0x4F, 111, 79, 15, Ext(24)},  // letter O
    {0x50, 112, 80, 16, Ext(25)},  // letter P
    {0x51, 113, 81, 17, Ext(16)},  // letter Q
    {0x52, 114, 82, 18, Ext(19)},  // letter R
    {0x53, 115, 83, 19, Ext(31)},  // letter S
    {0x54, 116, 84, 20, Ext(20)},  // letter T
    {0x55, 117, 85, 21, Ext(22)},  // letter U
    {0x56, 118, 86, 22, Ext(47)},  // letter V
    {0x57, 119, 87, 23, Ext(17)},  // letter W
    {0x58, 120, 88, 24, Ext(45)},  // letter X
    {0x59, 121, 89, 25, Ext(21)},  // letter Y
    {0x5A, 122, 90, 26, Ext(44)},  // letter Z
    {0x21, Ext(73), Ext(73), Ext(143), Ext(153)},  // Page Up
    {0x22, Ext(81), Ext(81), Ext(118), Ext(161)},  // Page Down
    {0x23, Ext(79), Ext(79), Ext(117), Ext(159)},  // End
    {0x24, Ext(71), Ext(71), Ext(119), Ext(151)},  // Home
    {0x25, Ext(75), Ext(75), Ext(115), Ext(155)},  // Left
    {0x26, Ext(72), Ext(72), Ext(141), Ext(152)},  // Up
    {0x27, Ext(77), Ext(77), Ext(116), Ext(157)},  // Right
    {0x28, Ext(80), Ext(80), Ext(145), Ext(160)},  // Down
    {0x2D, Ext(82), Ext(82), Ext(146), Ext(162)},  // Insert
    {0x2E, Ext(83), Ext(83), Ext(147), Ext(163)},  // Delete
    {0x60, 48, Ext(82), Ext(146), kNoKey},  // keypad 0
    {0x61, 49, Ext(79), Ext(117), kNoKey},  // keypad 1
    {0x62, 50, Ext(80), Ext(145), kNoKey},  // keypad 2
    {0x63, 51, Ext(81), Ext(118), kNoKey},  // keypad 3
    {0x64, 52, Ext(75), Ext(115), kNoKey},  // keypad 4
    {0x65, 53, Ext(76), Ext(143), kNoKey},  // keypad 5
    {0x66, 54, Ext(77), Ext(116), kNoKey},  // keypad 6
    {0x67, 55, Ext(71), Ext(119), kNoKey},  // keypad 7
    {0x68, 56, Ext(72), Ext(141), kNoKey},  // keypad 8
    {0x69, 57, Ext(73), Ext(132), kNoKey},  // keypad 9
    {0x6A, 42, 42, Ext(150), Ext(55)},  // keypad multiply
    {0x6B, 43, 43, Ext(144), Ext(78)},  // keypad add
    {0x6D, 45, 45, Ext(142), Ext(74)},  // keypad subtract
    {0x6E, 46, 46, Ext(83), Ext(147)},  // keypad decimal point
    {0x6F, 47, 47, Ext(149), Ext(164)},  // keypad divide
    {0x70, Ext(59), Ext(84), Ext(94), Ext(104)},  // F1
    {0x71, Ext(60), Ext(85), Ext(95), Ext(105)},  // F2
    {0x72, Ext(61), Ext(86), Ext(96), Ext(106)},  // F3
    {0x73, Ext(62), Ext(87), Ext(97), Ext(107)},  // F4
    {0x74, Ext(63), Ext(88), Ext(98), Ext(108)},  // F5
    {0x75, Ext(64), Ext(89), Ext(99), Ext(109)},  // F6
    {0x76, Ext(65), Ext(90), Ext(100), Ext(110)},  // F7
    {0x77, Ext(66), Ext(91), Ext(101), Ext(111)},  // F8
    {0x78, Ext(67), Ext(92), Ext(102), Ext(112)},  // F9
    {0x79, Ext(68), Ext(93), Ext(103), Ext(113)},  // F10
    {0x7A, Ext(133), Ext(135), Ext(137), Ext(139)},  // F11
    {0x7B, Ext(134), Ext(136), Ext(138), Ext(140)},  // F12
    {0xDC, 132, 142, 28, 123},  // OEM 0xDC
    {0xBF, 245, 248, kNoKey, Ext(53)},  // OEM 0xBF
    {0xBD, 45, 95, 31, Ext(130)},  // OEM minus
    {0xBB, 61, 43, kNoKey, Ext(131)},  // OEM plus
    {0xDB, 39, 63, 27, Ext(26)},  // OEM 0xDB
    {0xDD, kNoKey, kNoKey, 29, 126},  // OEM 0xDD
    {0xBA, 129, 154, kNoKey, 91},  // OEM 0xBA
    {0xDE, 148, 153, kNoKey, Ext(40)},  // OEM 0xDE
    {0xBC, 44, 59, kNoKey, Ext(51)},  // OEM comma
    {0xBE, 46, 58, kNoKey, Ext(52)},  // OEM period
    {0xC0, 249, 33, kNoKey, 93},  // OEM 0xC0
    {0xDF, 36, 156, kNoKey, 125},  // OEM 0xDF
    {0xE2, 60, 62, kNoKey, Ext(41)},  // OEM 0xE2 (102nd key)
    {0x5B, kNoKey, kNoKey, kNoKey, kNoKey},  // left Windows
    {0x5C, kNoKey, kNoKey, kNoKey, kNoKey},  // right Windows
    {0x5D, kNoKey, kNoKey, kNoKey, kNoKey},  // Applications
};

// The first row for the virtual key, or nullptr.
inline constexpr const KeyMapRow* FindKeyMapRow(std::uint16_t virtualKey) {
  for (const KeyMapRow& row : KeyMap)
    if (row.VirtualKey == virtualKey) return &row;
  return nullptr;
}

// The row's code for the modifiers held. Alt before Ctrl: AltGr reports both
// and must give the Alt character.
inline constexpr std::uint16_t KeyMapCode(const KeyMapRow& row,
                                          std::uint32_t controlKeyState) {
  if (controlKeyState & (plat::RIGHT_ALT_PRESSED | plat::LEFT_ALT_PRESSED))
    return row.Alt;
  if (controlKeyState & (plat::RIGHT_CTRL_PRESSED | plat::LEFT_CTRL_PRESSED))
    return row.Ctrl;
  if (controlKeyState & plat::SHIFT_PRESSED) return row.Shift;
  return row.Plain;
}

// A key that types a byte: its virtual key and the modifiers held.
struct KeyStroke {
  std::uint16_t VirtualKey;
  std::uint32_t ControlKeyState;
};

// The key that types `byte`: a letter by its own key (the event's character
// carries the case), anything else by the first row giving it, plain before
// Shift before Ctrl before Alt. False when no key types it.
inline constexpr bool FindKeyStroke(std::uint8_t byte, KeyStroke* out) {
  if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z')) {
    *out = {static_cast<std::uint16_t>(byte & ~0x20), 0};
    return true;
  }
  constexpr std::uint32_t kStates[] = {0, plat::SHIFT_PRESSED,
                                       plat::LEFT_CTRL_PRESSED,
                                       plat::LEFT_ALT_PRESSED};
  for (std::uint32_t state : kStates) {
    for (const KeyMapRow& row : KeyMap) {
      // A letter's Plain code is never read; its key was found above.
      const bool letter = row.VirtualKey >= 0x41 && row.VirtualKey <= 0x5A;
      if (state == 0 && letter) continue;
      if (KeyMapCode(row, state) == byte) {
        *out = {row.VirtualKey, state};
        return true;
      }
    }
  }
  return false;
}
