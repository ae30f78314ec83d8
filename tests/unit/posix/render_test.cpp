// SPDX-License-Identifier: MIT
// Glyphs, colours and the title: what may reach the terminal.
#include <gtest/gtest.h>

#include <clocale>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "platform/posix/posix_internal.h"

using plat::posix::AsciiGlyph;
using plat::posix::Charset;
using plat::posix::ChooseCharset;
using plat::posix::Cp850Glyph;
using plat::posix::MapAttribute;
using plat::posix::SanitiseTitle;
using plat::posix::TermNameHasTitle;
using plat::posix::UnicodeToCp850;

TEST(Glyphs, CodePage850AsTheConsoleShowsIt) {
  EXPECT_EQ(Cp850Glyph(0xB0), U'░');
  EXPECT_EQ(Cp850Glyph(0xB1), U'▒');
  EXPECT_EQ(Cp850Glyph(0xB2), U'▓');
  EXPECT_EQ(Cp850Glyph(0xDB), U'█');
  EXPECT_EQ(Cp850Glyph(0x1E), U'▲');
  EXPECT_EQ(Cp850Glyph(0x84), U'ä');
  EXPECT_EQ(Cp850Glyph(0x81), U'ü');
  EXPECT_EQ(Cp850Glyph(0x94), U'ö');
  EXPECT_EQ(Cp850Glyph(0x15), U'§');
  EXPECT_EQ(Cp850Glyph(0x01), U'☺');
  EXPECT_EQ(Cp850Glyph(0x1B), U'←');
  EXPECT_EQ(Cp850Glyph(0x7F), U'⌂');
  EXPECT_EQ(Cp850Glyph(0x00), U' ');
  EXPECT_EQ(Cp850Glyph('A'), U'A');
}

TEST(Glyphs, NoByteCanBecomeATerminalControl) {
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  for (int b = 0; b < 256; ++b) {
    char32_t g = Cp850Glyph(static_cast<std::uint8_t>(b));
    EXPECT_GE(g, 0x20u) << b;
    EXPECT_FALSE(g >= 0x7F && g <= 0x9F) << b;
    EXPECT_TRUE(std::iswprint(static_cast<wint_t>(g))) << b;
    EXPECT_EQ(wcwidth(static_cast<wchar_t>(g)), 1) << b;
  }
}

TEST(Glyphs, TypedCharactersMapBackToTheirByte) {
  for (int b = 0x20; b < 256; ++b) {
    if (b == 0x7F) continue;
    EXPECT_EQ(UnicodeToCp850(Cp850Glyph(static_cast<std::uint8_t>(b))), b);
  }
  EXPECT_EQ(UnicodeToCp850(U'€'), -1);
  EXPECT_EQ(UnicodeToCp850(0x1B), -1);
}

TEST(AsciiGlyphs, EveryByteHasAPrintableSevenBitStandIn) {
  for (int b = 0; b < 256; ++b) {
    char a = AsciiGlyph(static_cast<std::uint8_t>(b));
    EXPECT_GE(a, 0x20) << b;
    EXPECT_LE(a, 0x7E) << b;
    if (b >= 0x20 && b < 0x7F) {
      EXPECT_EQ(a, static_cast<char>(b)) << b;
    }
  }
}

TEST(AsciiGlyphs, LettersLoseTheirAccentsAndGraphicsTheirShape) {
  // ä Ä ü Ü é É ö ß ñ Ç
  const std::string letters = "\x84\x8E\x81\x9A\x82\x90\x94\xE1\xA4\x80";
  std::string got;
  for (char c : letters) got += AsciiGlyph(static_cast<std::uint8_t>(c));
  EXPECT_EQ(got, "aAuUeEosnC");
  EXPECT_EQ(AsciiGlyph(0xB0), ':');  // shades, light to dark
  EXPECT_EQ(AsciiGlyph(0xB1), '%');
  EXPECT_EQ(AsciiGlyph(0xB2), '#');
  EXPECT_EQ(AsciiGlyph(0xDB), '#');  // full block
  EXPECT_EQ(AsciiGlyph(0x1E), '^');
  EXPECT_EQ(AsciiGlyph(0x1F), 'v');
  EXPECT_EQ(AsciiGlyph(0x00), ' ');
  // Single and double lines: corners and crossings '+', the rest - and |.
  for (int b : {0xDA, 0xBF, 0xC0, 0xD9, 0xC5, 0xC9, 0xBB, 0xC8, 0xBC, 0xCE}) {
    EXPECT_EQ(AsciiGlyph(static_cast<std::uint8_t>(b)), '+') << b;
  }
  EXPECT_EQ(AsciiGlyph(0xC4), '-');
  EXPECT_EQ(AsciiGlyph(0xCD), '-');
  EXPECT_EQ(AsciiGlyph(0xB3), '|');
  EXPECT_EQ(AsciiGlyph(0xBA), '|');
  EXPECT_EQ(AsciiGlyph(0xA9), '?');  // (R)
}

TEST(OutputCharset, TheUsersCodesetDecidesExceptInAMultiplexer) {
  EXPECT_EQ(ChooseCharset("UTF-8", "xterm", nullptr), Charset::kUtf8);
  EXPECT_EQ(ChooseCharset("utf8", "linux", nullptr), Charset::kUtf8);
  EXPECT_EQ(ChooseCharset("ANSI_X3.4-1968", "xterm", nullptr), Charset::kAscii);
  EXPECT_EQ(ChooseCharset("ISO-8859-1", "xterm-256color", nullptr),
            Charset::kAscii);
  EXPECT_EQ(ChooseCharset("ANSI_X3.4-1968", nullptr, nullptr), Charset::kAscii);
  EXPECT_EQ(ChooseCharset(nullptr, "vt100", nullptr), Charset::kAscii);
  // A pane of screen or tmux speaks UTF-8 whatever its locale says.
  EXPECT_EQ(ChooseCharset("ANSI_X3.4-1968", "screen-256color", nullptr),
            Charset::kUtf8);
  EXPECT_EQ(ChooseCharset("ANSI_X3.4-1968", "screen", nullptr), Charset::kUtf8);
  EXPECT_EQ(ChooseCharset("ANSI_X3.4-1968", "tmux-256color", nullptr),
            Charset::kUtf8);
  EXPECT_EQ(ChooseCharset("ANSI_X3.4-1968", "xterm-256color",
                          "/tmp/tmux-0/default,1,0"),
            Charset::kUtf8);
  // Only the start of the name counts.
  EXPECT_EQ(ChooseCharset("ANSI_X3.4-1968", "xscreen", nullptr),
            Charset::kAscii);
}

TEST(Colours, ConsoleBitsBecomeTerminalColours) {
  // Blue on light grey, the monitor's colours.
  auto c = MapAttribute(0x71, 16);
  EXPECT_EQ(c.fg, 4);  // curses blue
  EXPECT_EQ(c.bg, 7);
  EXPECT_FALSE(c.bold);
  // Yellow on blue: bright with 16 colours, bold brown/yellow with 8.
  c = MapAttribute(0x1E, 256);
  EXPECT_EQ(c.fg, 11);
  EXPECT_EQ(c.bg, 4);
  c = MapAttribute(0x1E, 8);
  EXPECT_EQ(c.fg, 3);
  EXPECT_EQ(c.bg, 4);
  EXPECT_TRUE(c.bold);
  // A bright background on 8 colours takes its dim variant.
  c = MapAttribute(0xC2, 8);  // green on light red
  EXPECT_EQ(c.fg, 2);
  EXPECT_EQ(c.bg, 1);
  EXPECT_FALSE(c.bold);
  EXPECT_EQ(plat::posix::ConsoleToTermColour(1), 4);
  EXPECT_EQ(plat::posix::ConsoleToTermColour(4), 1);
  EXPECT_EQ(plat::posix::ConsoleToTermColour(6), 3);    // brown
  EXPECT_EQ(plat::posix::ConsoleToTermColour(10), 10);  // light green
  EXPECT_EQ(plat::posix::ConsoleToTermColour(15), 15);
}

namespace {

// The code points of a UTF-8 string; -1 for a malformed sequence.
std::vector<long> CodePoints(const std::string& s) {
  std::vector<long> out;
  for (std::size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    std::size_t len = b < 0x80             ? 1
                      : (b & 0xE0) == 0xC0 ? 2
                      : (b & 0xF0) == 0xE0 ? 3
                      : (b & 0xF8) == 0xF0 ? 4
                                           : 0;
    if (len == 0 || i + len > s.size()) return {-1};
    long c = len == 1 ? b : b & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
      c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    out.push_back(c);
    i += len;
  }
  return out;
}

}  // namespace

TEST(Title, ControlsAreDroppedAndTheRestIsUtf8) {
  EXPECT_EQ(SanitiseTitle(" Pav (#12, C3)"), " Pav (#12, C3)");
  EXPECT_EQ(SanitiseTitle("a\x1B]0;evil\x07z"), "a]0;evilz");
  // Letters of the code page are kept, those at 0x80-0x9F too (ü é ä ø);
  // DEL goes with the controls.
  EXPECT_EQ(SanitiseTitle("K\x81hl\x82\x84\x9B\x7F\xE1"),
            "K\u00FChl\u00E9\u00E4\u00F8\u00DF");
  EXPECT_EQ(SanitiseTitle(nullptr), "");
  // Byte by byte: a control byte leaves nothing, any other byte its glyph,
  // and no code point that comes out is a C0 or C1 control or DEL.
  for (int b = 1; b < 256; ++b) {
    const char one[2] = {static_cast<char>(b), 0};
    std::vector<long> cps = CodePoints(SanitiseTitle(one));
    if (b < 0x20 || b == 0x7F) {
      EXPECT_TRUE(cps.empty()) << b;
      continue;
    }
    ASSERT_EQ(cps.size(), 1u) << b;
    EXPECT_EQ(cps[0],
              static_cast<long>(Cp850Glyph(static_cast<std::uint8_t>(b))))
        << b;
    EXPECT_GE(cps[0], 0x20) << b;
    EXPECT_FALSE(cps[0] >= 0x7F && cps[0] <= 0x9F) << b;
  }
}

TEST(Title, AsciiTitlesHaveOnlyPrintableSevenBitBytes) {
  EXPECT_EQ(SanitiseTitle("K\x81hl\x9B\x1B]2;x\x07\xDB", Charset::kAscii),
            "Kuhlo]2;x#");
  for (int b = 1; b < 256; ++b) {
    const char one[2] = {static_cast<char>(b), 0};
    std::string t = SanitiseTitle(one, Charset::kAscii);
    if (b < 0x20 || b == 0x7F) {
      EXPECT_EQ(t, "") << b;
    } else {
      EXPECT_EQ(t, std::string(1, AsciiGlyph(static_cast<std::uint8_t>(b))))
          << b;
    }
  }
}

TEST(Title, OnlyTerminalsKnownToTakeTheSequence) {
  EXPECT_TRUE(TermNameHasTitle("xterm-256color"));
  EXPECT_TRUE(TermNameHasTitle("tmux-256color"));
  EXPECT_TRUE(TermNameHasTitle("screen"));
  EXPECT_TRUE(TermNameHasTitle("rxvt-unicode"));
  EXPECT_FALSE(TermNameHasTitle("linux"));
  EXPECT_FALSE(TermNameHasTitle("vt100"));
  EXPECT_FALSE(TermNameHasTitle(nullptr));
}
