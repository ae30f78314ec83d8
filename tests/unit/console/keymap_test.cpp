// SPDX-License-Identifier: MIT
#include <cstdlib>
#include <string>
#include <vector>

#include "console_fixture.h"

namespace {

// The key table as it is printed for the operator's reference: virtual key,
// then the code with no modifier, with Shift, with Ctrl and with Alt
// ("xN" an extended key, "-" none). Letters and F1-F10 follow their rules
// and are filled in below.
const char* const kRowsBeforeLetters[] = {
    "0x08 8 8 127 x14",      // Backspace
    "0x09 9 x15 x148 x165",  // Tab
    "0x0D 13 13 10 x166",    // Enter
    "0x1B 27 27 27 x1",      // Esc
    "0x20 32 32 x3 32",      // Space
    "0x30 48 61 - x129",     // digit 0
    "0x31 49 43 - 179",      // digit 1
    "0x32 50 34 x3 64",      // digit 2
    "0x33 51 42 - 35",       // digit 3
    "0x34 52 128 - x123",    // digit 4
    "0x35 53 37 - x124",     // digit 5
    "0x36 54 38 30 170",     // digit 6
    "0x37 55 47 - 124",      // digit 7
    "0x38 56 40 - 189",      // digit 8
    "0x39 57 41 - x128",     // digit 9
};
const char* const kRowsBeforeFunctionKeys[] = {
    "0x21 x73 x73 x143 x153",  // Page Up
    "0x22 x81 x81 x118 x161",  // Page Down
    "0x23 x79 x79 x117 x159",  // End
    "0x24 x71 x71 x119 x151",  // Home
    "0x25 x75 x75 x115 x155",  // Left
    "0x26 x72 x72 x141 x152",  // Up
    "0x27 x77 x77 x116 x157",  // Right
    "0x28 x80 x80 x145 x160",  // Down
    "0x2D x82 x82 x146 x162",  // Insert
    "0x2E x83 x83 x147 x163",  // Delete
    "0x60 48 x82 x146 -",      // keypad 0
    "0x61 49 x79 x117 -",      // keypad 1
    "0x62 50 x80 x145 -",      // keypad 2
    "0x63 51 x81 x118 -",      // keypad 3
    "0x64 52 x75 x115 -",      // keypad 4
    "0x65 53 x76 x143 -",      // keypad 5
    "0x66 54 x77 x116 -",      // keypad 6
    "0x67 55 x71 x119 -",      // keypad 7
    "0x68 56 x72 x141 -",      // keypad 8
    "0x69 57 x73 x132 -",      // keypad 9
    "0x6A 42 42 x150 x55",     // keypad multiply
    "0x6B 43 43 x144 x78",     // keypad add
    "0x6D 45 45 x142 x74",     // keypad subtract
    "0x6E 46 46 x83 x147",     // keypad decimal point
    "0x6F 47 47 x149 x164",    // keypad divide
};
const char* const kRowsAfterFunctionKeys[] = {
    "0x7A x133 x135 x137 x139",  // F11
    "0x7B x134 x136 x138 x140",  // F12
    "0xDC 132 142 28 123",       // OEM key 0xDC
    "0xBF 245 248 - x53",        // OEM key 0xBF
    "0xBD 45 95 31 x130",        // OEM minus key
    "0xBB 61 43 - x131",         // OEM plus key
    "0xDB 39 63 27 x26",         // OEM key 0xDB
    "0xDD - - 29 126",           // OEM key 0xDD
    "0xBA 129 154 - 91",         // OEM key 0xBA
    "0xDE 148 153 - x40",        // OEM key 0xDE
    "0xBC 44 59 - x51",          // OEM comma key
    "0xBE 46 58 - x52",          // OEM period key
    "0xC0 249 33 - 93",          // OEM key 0xC0
    "0xDF 36 156 - 125",         // OEM key 0xDF
    "0xE2 60 62 - x41",          // OEM key 0xE2 (102nd key)
    "0x5B - - - -",              // left Windows
    "0x5C - - - -",              // right Windows
    "0x5D - - - -",              // Applications
};
// Alt with a letter, A to Z.
const int kLetterAlt[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                            49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};

struct Expected {
  std::uint16_t vk;
  std::uint16_t codes[4];  // plain, Shift, Ctrl, Alt
};

std::uint16_t ParseCode(const std::string& text) {
  if (text == "-") return kNoKey;
  if (text[0] == 'x')
    return Ext(static_cast<std::uint16_t>(std::stoi(text.substr(1))));
  return static_cast<std::uint16_t>(std::stoi(text));
}

template <std::size_t N>
void AddPrinted(std::vector<Expected>& out, const char* const (&rows)[N]) {
  for (const char* row : rows) {
    std::vector<std::string> fields;
    std::string field;
    for (const char* p = row;; ++p) {
      if (*p == ' ' || *p == 0) {
        fields.push_back(field);
        field.clear();
        if (*p == 0) break;
      } else {
        field += *p;
      }
    }
    Expected e{};
    e.vk = static_cast<std::uint16_t>(std::stoi(fields.at(0), nullptr, 16));
    for (int i = 0; i < 4; ++i) e.codes[i] = ParseCode(fields.at(i + 1));
    out.push_back(e);
  }
}

std::vector<Expected> PrintedTable() {
  std::vector<Expected> table;
  AddPrinted(table, kRowsBeforeLetters);
  for (int i = 0; i < 26; ++i) {
    table.push_back(
        {static_cast<std::uint16_t>(0x41 + i),
         {static_cast<std::uint16_t>(97 + i),
          static_cast<std::uint16_t>(65 + i), static_cast<std::uint16_t>(1 + i),
          Ext(static_cast<std::uint16_t>(kLetterAlt[i]))}});
  }
  AddPrinted(table, kRowsBeforeFunctionKeys);
  for (int i = 0; i < 10; ++i) {
    const auto n = static_cast<std::uint16_t>(i);
    table.push_back({static_cast<std::uint16_t>(0x70 + i),
                     {Ext(59 + n), Ext(84 + n), Ext(94 + n), Ext(104 + n)}});
  }
  AddPrinted(table, kRowsAfterFunctionKeys);
  return table;
}

plat::KEY_EVENT_RECORD Event(std::uint16_t vk, std::uint32_t state,
                             char ch = 0) {
  plat::KEY_EVENT_RECORD e{};
  e.bKeyDown = 1;
  e.wRepeatCount = 1;
  e.wVirtualKeyCode = vk;
  e.AsciiChar = ch;
  e.dwControlKeyState = state;
  return e;
}

std::uint16_t Translate(std::uint16_t vk, std::uint32_t state, char ch = 0) {
  const KeyMapRow* row = FindKeyMapRow(vk);
  if (row == nullptr) return 0xEEEE;
  return TranslateKeyEvent(Event(vk, state, ch), *row);
}

constexpr std::uint32_t kShift = plat::SHIFT_PRESSED;
constexpr std::uint32_t kCtrl = plat::LEFT_CTRL_PRESSED;
constexpr std::uint32_t kAlt = plat::LEFT_ALT_PRESSED;
constexpr std::uint32_t kAltGr =
    plat::RIGHT_ALT_PRESSED | plat::LEFT_CTRL_PRESSED;

TEST(KeyMapTable, MatchesThePrintedTableRowByRow) {
  const std::vector<Expected> table = PrintedTable();
  ASSERT_EQ(table.size(), static_cast<std::size_t>(kKeyMapRows));
  for (int i = 0; i < kKeyMapRows; ++i) {
    SCOPED_TRACE(testing::Message()
                 << "row " << i << " vk 0x" << std::hex << table[i].vk);
    EXPECT_EQ(KeyMap[i].VirtualKey, table[i].vk);
    EXPECT_EQ(KeyMap[i].Plain, table[i].codes[0]);
    EXPECT_EQ(KeyMap[i].Shift, table[i].codes[1]);
    EXPECT_EQ(KeyMap[i].Ctrl, table[i].codes[2]);
    EXPECT_EQ(KeyMap[i].Alt, table[i].codes[3]);
    EXPECT_EQ(FindKeyMapRow(table[i].vk), &KeyMap[i]);
  }
}

TEST(KeyMapTable, SpotChecksOfIrregularValues) {
  EXPECT_EQ(Translate(0x21, kCtrl), Ext(143));  // Ctrl+Page Up
  EXPECT_EQ(Translate(0x21, plat::RIGHT_CTRL_PRESSED | kShift), Ext(143));
  EXPECT_EQ(Translate(0x69, kCtrl), Ext(132));  // Ctrl+keypad 9
  EXPECT_EQ(Translate(0x65, kCtrl), Ext(143));  // Ctrl+keypad 5
  EXPECT_EQ(Translate(0x20, kAlt), 32);         // Alt+Space
  EXPECT_EQ(Translate(0x20, kCtrl), Ext(3));
  EXPECT_EQ(Translate(0x32, kAltGr), 64);  // AltGr+2: at sign
  EXPECT_EQ(Translate(0x32, kCtrl), Ext(3));
  EXPECT_EQ(Translate(0x31, kAlt), 179);
  EXPECT_EQ(Translate(0x33, kAlt), 35);
  EXPECT_EQ(Translate(0x36, kAlt), 170);
  EXPECT_EQ(Translate(0x36, kCtrl), 30);
  EXPECT_EQ(Translate(0x37, kAlt), 124);
  EXPECT_EQ(Translate(0x38, kAlt), 189);
  EXPECT_EQ(Translate(0x34, kShift), 128);
  EXPECT_EQ(Translate(0x30, kCtrl), kNoKey);
  EXPECT_EQ(Translate(0xDC, kAlt), 123);
  EXPECT_EQ(Translate(0xBA, kAlt), 91);
  EXPECT_EQ(Translate(0xDD, kAlt), 126);
  EXPECT_EQ(Translate(0xC0, kAlt), 93);
  EXPECT_EQ(Translate(0xDF, kAlt), 125);
  EXPECT_EQ(Translate(0xDD, 0), kNoKey);  // no plain code
  EXPECT_EQ(Translate(0xDD, kShift), kNoKey);
  EXPECT_EQ(Translate(0xDD, kCtrl), 29);
  EXPECT_EQ(Translate(0xDB, kCtrl), 27);  // Ctrl with 0xDB is Esc
  // Keypad digits: digits plain, cursor keys with Shift, no Alt code.
  EXPECT_EQ(Translate(0x60, 0), '0');
  EXPECT_EQ(Translate(0x60, kShift), Ext(82));
  EXPECT_EQ(Translate(0x61, kShift), Ext(79));
  EXPECT_EQ(Translate(0x65, kShift), Ext(76));
  EXPECT_EQ(Translate(0x69, kShift), Ext(73));
  EXPECT_EQ(Translate(0x64, kAlt), kNoKey);
  // The keypad operators do have extended Alt codes.
  EXPECT_EQ(Translate(0x6A, kAlt), Ext(55));
  EXPECT_EQ(Translate(0x6E, kAlt), Ext(147));
  EXPECT_EQ(Translate(0x6E, kCtrl), Ext(83));
  EXPECT_EQ(Translate(0x09, kShift), Ext(15));
  EXPECT_EQ(Translate(0x0D, kCtrl), 10);
  EXPECT_EQ(Translate(0x08, kCtrl), 127);
  EXPECT_EQ(Translate(0x1B, kAlt), Ext(1));
  EXPECT_EQ(Translate(0x7A, 0), Ext(133));
  EXPECT_EQ(Translate(0x7B, kAlt), Ext(140));
  EXPECT_EQ(Translate(0x79, kCtrl), Ext(103));
  EXPECT_EQ(Translate(0x5A, kAlt), Ext(44));
  EXPECT_EQ(Translate(0x5A, kShift, 'z'), 'Z');
  EXPECT_EQ(Translate(0x5A, 0, 'z'), 'z');  // plain letters: the event's own
  EXPECT_EQ(Translate(0x5A, 0, 'Z'), 'Z');
  EXPECT_EQ(Translate(0x5B, 0), kNoKey);
}

TEST(KeyMapTable, KeysWithoutARowAreUnknown) {
  for (std::uint16_t vk :
       {0x10, 0x11, 0x12, 0x14, 0x90, 0x91, 0x6C, 0x00, 0x1FF})
    EXPECT_EQ(FindKeyMapRow(vk), nullptr) << vk;
}

using KeyMapReading = ConsoleTest;

// Every code of the table read back through the console queue: ordinary
// codes as one byte, extended codes as 0 and then the code.
TEST_F(KeyMapReading, EveryCodeArrivesAsKeyCodes) {
  const std::uint32_t states[4] = {0, kShift, kCtrl, kAlt};
  for (const Expected& e : PrintedTable()) {
    for (int column = 0; column < 4; ++column) {
      const std::uint16_t code = e.codes[column];
      if (code == kNoKey) continue;
      plat::INPUT_RECORD r{};
      r.EventType = plat::KEY_EVENT;
      r.KeyEvent = Event(e.vk, states[column], static_cast<char>(code & 0xFF));
      fake::PushRecord(r);
      SCOPED_TRACE(testing::Message()
                   << "vk 0x" << std::hex << e.vk << " column " << column);
      ASSERT_TRUE(KeyWaiting());
      if (code >= 0x100) {
        EXPECT_EQ(ReadKeyCode(), 0);
        EXPECT_EQ(ReadKeyCode(), code & 0xFF);
      } else {
        EXPECT_EQ(ReadKeyCode(), code);
      }
      EXPECT_FALSE(KeyWaiting());
    }
  }
}

}  // namespace
