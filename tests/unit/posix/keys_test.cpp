// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/shared/keymap_table.h"
#include "platform/posix/posix_internal.h"

using plat::INPUT_RECORD;
using plat::KEY_EVENT_RECORD;
using plat::posix::KeyDecoder;
using plat::posix::KeyEventFor;

namespace {

// The program's reading of a key event: the row's code for the modifiers,
// a plain letter's own character.
std::uint16_t Translate(const KEY_EVENT_RECORD& k) {
  const KeyMapRow* row = FindKeyMapRow(k.wVirtualKeyCode);
  if (row == nullptr) return kNoKey;
  const std::uint32_t modifiers =
      plat::LEFT_ALT_PRESSED | plat::RIGHT_ALT_PRESSED |
      plat::LEFT_CTRL_PRESSED | plat::RIGHT_CTRL_PRESSED | plat::SHIFT_PRESSED;
  if ((k.dwControlKeyState & modifiers) == 0 && k.wVirtualKeyCode >= 0x41 &&
      k.wVirtualKeyCode <= 0x5A) {
    return static_cast<std::uint8_t>(k.AsciiChar);
  }
  return KeyMapCode(*row, k.dwControlKeyState);
}

// Feeds the bytes at time 0 and decodes at `at`; returns the key codes of
// the key-down records, checking that each is followed by its release.
std::vector<std::uint16_t> Codes(
    const std::string& bytes, std::int64_t at = 0,
    plat::posix::InputBytes input = plat::posix::InputBytes::kUtf8) {
  KeyDecoder d;
  d.SetInputBytes(input);
  d.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 0);
  std::vector<INPUT_RECORD> out;
  d.Decode(at, out);
  std::vector<std::uint16_t> codes;
  for (std::size_t i = 0; i < out.size(); ++i) {
    EXPECT_EQ(out[i].EventType, plat::KEY_EVENT);
    if (out[i].KeyEvent.bKeyDown) {
      EXPECT_LT(i + 1, out.size());
      if (i + 1 < out.size()) {
        EXPECT_FALSE(out[i + 1].KeyEvent.bKeyDown);
        EXPECT_EQ(out[i + 1].KeyEvent.wVirtualKeyCode,
                  out[i].KeyEvent.wVirtualKeyCode);
      }
      codes.push_back(Translate(out[i].KeyEvent));
    }
  }
  return codes;
}

using Codes_t = std::vector<std::uint16_t>;

}  // namespace

TEST(KeyDecoder, TypedCharactersComeBackAsTyped) {
  EXPECT_EQ(Codes("r"), Codes_t{'r'});
  EXPECT_EQ(Codes("R"), Codes_t{'R'});
  EXPECT_EQ(Codes("5"), Codes_t{'5'});
  EXPECT_EQ(Codes("-"), Codes_t{'-'});
  EXPECT_EQ(Codes(" "), Codes_t{' '});
  EXPECT_EQ(Codes("12 y"), (Codes_t{'1', '2', ' ', 'y'}));
  EXPECT_EQ(Codes("\xC3\xA4"), Codes_t{0x84});                  // ä
  EXPECT_EQ(Codes("\xC3\x9C\xC2\xA7"), (Codes_t{0x9A, 0xF5}));  // Ü §
}

TEST(KeyDecoder, ControlBytes) {
  EXPECT_EQ(Codes("\r"), Codes_t{13});
  EXPECT_EQ(Codes("\x7F"), Codes_t{8});
  EXPECT_EQ(Codes("\x08"), Codes_t{8});
  EXPECT_EQ(Codes("\t"), Codes_t{9});
  EXPECT_EQ(Codes("\n"), Codes_t{10});
  // Ctrl+C is a key, the letter's key with Ctrl.
  KeyDecoder d;
  const std::uint8_t ctrlC = 3;
  d.Feed(&ctrlC, 1, 0);
  std::vector<INPUT_RECORD> out;
  d.Decode(0, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].KeyEvent.wVirtualKeyCode, 0x43);
  EXPECT_TRUE(out[0].KeyEvent.dwControlKeyState & plat::LEFT_CTRL_PRESSED);
  EXPECT_EQ(Translate(out[0].KeyEvent), 3);
}

TEST(KeyDecoder, EscAloneOnlyAfterTheTimeout) {
  KeyDecoder d;
  const std::uint8_t esc = 0x1B;
  d.Feed(&esc, 1, 100);
  std::vector<INPUT_RECORD> out;
  d.Decode(110, out);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(d.PendingTimeoutMs(110), 15);
  d.Decode(100 + plat::posix::kEscTimeoutMs, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].KeyEvent.wVirtualKeyCode, 0x1B);
  EXPECT_EQ(Translate(out[0].KeyEvent), 27);
  EXPECT_TRUE(d.Empty());
  EXPECT_EQ(d.PendingTimeoutMs(200), -1);
}

TEST(KeyDecoder, SequenceSplitAcrossReadsIsOneKey) {
  KeyDecoder d;
  std::vector<INPUT_RECORD> out;
  d.Feed(reinterpret_cast<const std::uint8_t*>("\x1B["), 2, 0);
  d.Decode(5, out);
  EXPECT_TRUE(out.empty());
  d.Feed(reinterpret_cast<const std::uint8_t*>("A"), 1, 10);
  d.Decode(10, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(Translate(out[0].KeyEvent), Ext(72));
}

TEST(KeyDecoder, FunctionAndCursorKeys) {
  EXPECT_EQ(Codes("\x1B[A"), Codes_t{Ext(72)});
  EXPECT_EQ(Codes("\x1BOA"), Codes_t{Ext(72)});
  EXPECT_EQ(Codes("\x1BOP"), Codes_t{Ext(59)});     // F1
  EXPECT_EQ(Codes("\x1B[24~"), Codes_t{Ext(134)});  // F12
  EXPECT_EQ(Codes("\x1B[17~\x1B[21~\x1B[23~"),
            (Codes_t{Ext(64), Ext(68), Ext(133)}));  // F6 F10 F11
  EXPECT_EQ(Codes("\x1B[15~"), Codes_t{Ext(63)});    // F5
  EXPECT_EQ(Codes("\x1B[1;5D"), Codes_t{Ext(115)});  // Ctrl+Left
  EXPECT_EQ(Codes("\x1B[1;2P"), Codes_t{Ext(84)});   // Shift+F1
  EXPECT_EQ(Codes("\x1B[5;5~"), Codes_t{Ext(143)});  // Ctrl+PgUp
  EXPECT_EQ(Codes("\x1B[1;3A"), Codes_t{Ext(152)});  // Alt+Up
  EXPECT_EQ(Codes("\x1B[H\x1B[F"), (Codes_t{Ext(71), Ext(79)}));
  EXPECT_EQ(Codes("\x1B[2~\x1B[3~"), (Codes_t{Ext(82), Ext(83)}));
  EXPECT_EQ(Codes("\x1B[Z"), Codes_t{Ext(15)});   // Shift+Tab
  EXPECT_EQ(Codes("\x1B[[A"), Codes_t{Ext(59)});  // Linux console F1
}

TEST(KeyDecoder, AltWithAKey) {
  EXPECT_EQ(Codes("\x1Bx"), Codes_t{Ext(45)});
  EXPECT_EQ(Codes("\x1B"
                  "2"),
            Codes_t{64});
  EXPECT_EQ(Codes("\x1B\r"), Codes_t{Ext(166)});
  // ESC [ with nothing after it in time is Alt+[, not a broken sequence.
  EXPECT_EQ(Codes("\x1B[", plat::posix::kEscTimeoutMs), Codes_t{91});
}

TEST(KeyDecoder, MixedStreamKeepsOrderAndDropsNonKeys) {
  // A focus report and an unknown sequence are no keys.
  EXPECT_EQ(Codes("ab\x1B[Ac\x1B[I\x1B[99~d"),
            (Codes_t{'a', 'b', Ext(72), 'c', 'd'}));
  // Characters no key types (é, backslash) are dropped.
  EXPECT_EQ(Codes("\xC3\xA9\\x"), Codes_t{'x'});
  // An unfinished UTF-8 character waits, then is dropped after the timeout.
  EXPECT_EQ(Codes("\xC3"), Codes_t{});
  KeyDecoder d;
  d.Feed(reinterpret_cast<const std::uint8_t*>("\xC3"), 1, 0);
  std::vector<INPUT_RECORD> out;
  d.Decode(plat::posix::kEscTimeoutMs, out);
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(d.Empty());
}

TEST(KeyDecoder, RxvtAndLinuxConsoleForms) {
  // rxvt: '$' ends a shifted key, '^' a controlled one, ESC O a-d are
  // Ctrl+arrows; what follows is a key of its own.
  EXPECT_EQ(Codes("\x1B[2$x"), (Codes_t{Ext(82), 'x'}));  // Shift+Insert
  EXPECT_EQ(Codes("\x1B[7$a"), (Codes_t{Ext(71), 'a'}));  // Shift+Home
  EXPECT_EQ(Codes("\x1B[2^\x1B[5^"), (Codes_t{Ext(146), Ext(143)}));
  EXPECT_EQ(Codes("\x1BOa\x1BOd"), (Codes_t{Ext(141), Ext(115)}));
  EXPECT_EQ(Codes("\x1B[[E"), Codes_t{Ext(63)});  // Linux console F5
  // Not a key there: the byte after "ESC [ [" is read afresh.
  EXPECT_EQ(Codes("\x1B[[\x1B[B"), Codes_t{Ext(80)});
  EXPECT_EQ(Codes("\x1B[[z"), Codes_t{'z'});
}

TEST(KeyDecoder, InvalidUtf8IsDroppedAndTheRestStaysInStep) {
  // Overlong forms of 'a' and of ESC, a stray continuation byte, a lead
  // byte cut short by an ASCII byte, and bytes that never lead.
  EXPECT_EQ(Codes("\xC1\xA1x\xC0\x9By\xE0\x81\xA1z"), (Codes_t{'x', 'y', 'z'}));
  EXPECT_EQ(Codes("\x84q\xC3r\xFF\xFEs"), (Codes_t{'q', 'r', 's'}));
  // Split across reads, a character is still one key.
  KeyDecoder d;
  std::vector<INPUT_RECORD> out;
  d.Feed(reinterpret_cast<const std::uint8_t*>("\xC3"), 1, 0);
  d.Decode(1, out);
  EXPECT_TRUE(out.empty());
  d.Feed(reinterpret_cast<const std::uint8_t*>("\x9C"), 1, 2);
  d.Decode(2, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(Translate(out[0].KeyEvent), 0x9A);  // Ü
}

TEST(KeyDecoder, FloodStaysBoundedAndInStep) {
  // A sequence that never ends is dropped as it comes, however long it
  // grows, and the keys after it come through.
  KeyDecoder d;
  std::vector<INPUT_RECORD> out;
  const std::string start = "\x1B[";
  d.Feed(reinterpret_cast<const std::uint8_t*>(start.data()), start.size(), 0);
  const std::string digits(4096, '1');
  for (int i = 0; i < 64; ++i) {  // 256 KB, each chunk before the time-out
    d.Feed(reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size(),
           i);
    d.Decode(i, out);
    EXPECT_TRUE(out.empty());
    EXPECT_LE(d.PendingBytes(), 64u);
  }
  d.Feed(reinterpret_cast<const std::uint8_t*>("~ab"), 3, 64);
  d.Decode(64, out);
  EXPECT_TRUE(d.Empty());
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(Translate(out[0].KeyEvent), 'a');
  EXPECT_EQ(Translate(out[2].KeyEvent), 'b');

  // A large paste decodes in one pass, in order.
  std::string paste;
  for (int i = 0; i < 100000; ++i) paste += static_cast<char>('a' + i % 26);
  Codes_t codes = Codes(paste);
  ASSERT_EQ(codes.size(), paste.size());
  EXPECT_EQ(codes[99999], static_cast<std::uint16_t>(paste[99999]));
}

TEST(KeyDecoder, EightBitTerminals) {
  using plat::posix::Charset;
  using plat::posix::ChooseInputBytes;
  using plat::posix::InputBytes;
  EXPECT_EQ(ChooseInputBytes(Charset::kUtf8, "ANSI_X3.4-1968"),
            InputBytes::kUtf8);
  EXPECT_EQ(ChooseInputBytes(Charset::kAscii, "ISO-8859-1"),
            InputBytes::kLatin1);
  EXPECT_EQ(ChooseInputBytes(Charset::kAscii, "ISO-8859-15"),
            InputBytes::kDrop);
  EXPECT_EQ(ChooseInputBytes(Charset::kAscii, "ANSI_X3.4-1968"),
            InputBytes::kDrop);
  // Latin-1: ä Ü § one byte each, the C1 range (CSI 0x9B among it) as
  // nothing; what follows stays in step. Alt with a letter is one key.
  EXPECT_EQ(Codes("\xE4\xDC\xA7q\x9B\x41\x85r", 0, InputBytes::kLatin1),
            (Codes_t{0x84, 0x9A, 0xF5, 'q', 'A', 'r'}));
  EXPECT_EQ(Codes("\x1B\xE4", 0, InputBytes::kLatin1).size(), 1u);
  // UTF-8 from a terminal set up wrongly is two Latin-1 characters (here
  // Ã and ¤, which no key types), never half a key that swallows the next.
  EXPECT_EQ(Codes("\xC3\xA4x", 0, InputBytes::kLatin1), Codes_t{'x'});
  // Unknown 8-bit sets: each byte dropped by itself.
  EXPECT_EQ(Codes("\xE4\x61\xC3\xFF\x62\xC3", 0, InputBytes::kDrop),
            (Codes_t{'a', 'b'}));
}

TEST(KeyEventFor, EveryByteAKeyTypesReadsBackAsThatByte) {
  int typed = 0;
  for (int b = 1; b < 256; ++b) {
    KEY_EVENT_RECORD k{};
    if (!KeyEventFor(static_cast<std::uint8_t>(b), &k)) continue;
    ++typed;
    std::uint16_t expect = b == 0x7F ? 8 : static_cast<std::uint16_t>(b);
    EXPECT_EQ(Translate(k), expect) << "byte " << b;
    EXPECT_TRUE(k.bKeyDown);
  }
  // All printable ASCII but backslash, caret and backquote, plus controls
  // and the national letters of the key map.
  EXPECT_GT(typed, 120);
  KEY_EVENT_RECORD k{};
  EXPECT_TRUE(KeyEventFor('a', &k));
  EXPECT_EQ(k.wVirtualKeyCode, 'A');
  EXPECT_EQ(k.dwControlKeyState, 0u);  // the case is in the character
  EXPECT_TRUE(KeyEventFor('0', &k));
  EXPECT_EQ(k.wVirtualKeyCode, 0x30);  // plain key preferred to a shifted one
  EXPECT_EQ(k.dwControlKeyState, 0u);
  EXPECT_FALSE(KeyEventFor('\\', &k));
  EXPECT_FALSE(KeyEventFor(0x82, &k));  // é
}
