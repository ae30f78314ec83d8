#include <strings.h>

#include <cstring>

#include "platform/posix/posix_internal.h"

namespace plat::posix {

namespace {

// Code page 850 as a console paints it. 0xF0 (soft hyphen) is shown as a
// hyphen: terminals disagree on the width of a soft hyphen.
constexpr char32_t kGlyphs[256] = {
    0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,  // 00
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,  // 08
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,  // 10
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,  // 18
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,  // 20
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,  // 28
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,  // 30
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,  // 38
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  // 40
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,  // 48
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,  // 50
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,  // 58
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,  // 60
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,  // 68
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,  // 70
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x2302,  // 78
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 90
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,  // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // A0
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,  // B0
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,  // C8
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,  // D0
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,  // D8
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,  // E0
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,  // E8
    0x2010, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,  // F0
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,  // F8
};

// The same page in 7-bit ASCII, row by row as above ("\?" is a '?').
// Half and full blocks are '#', the shades ':' '%' '#', lines + - |.
constexpr char kAscii[257] =
    " oo*****#o#\?\?\?\?*"
    "><|!\?\?-|^v><+-^v"
    " !\"#$%&'()*+,-./"
    "0123456789:;<=>?"
    "@ABCDEFGHIJKLMNO"
    "PQRSTUVWXYZ[\\]^_"
    "`abcdefghijklmno"
    "pqrstuvwxyz{|}~?"
    "CueaaaaceeeiiiAA"
    "EaAooouuyOUo?Oxf"
    "aiounNao\?\?-\?\?!<>"
    ":%#|+AAA?+|++cY+"
    "++++-+aA+++++-+?"
    "dDEEEiIII++##|I#"
    "OsOOoOupPUUUyY-'"
    "-\?_\?\?\?/,o\".132# ";

constexpr bool AsciiTableComplete() {
  for (int b = 0; b < 256; ++b) {
    if (kAscii[b] < 0x20 || kAscii[b] > 0x7E) return false;
  }
  return true;
}
static_assert(AsciiTableComplete(), "every byte needs a printable stand-in");

bool StartsWith(const char* s, const char* prefix) {
  return s != nullptr && std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

char32_t Cp850Glyph(std::uint8_t byte) { return kGlyphs[byte]; }

char AsciiGlyph(std::uint8_t byte) { return kAscii[byte]; }

bool CodesetIsUtf8(const char* codeset) {
  return codeset != nullptr && (::strcasecmp(codeset, "UTF-8") == 0 ||
                                ::strcasecmp(codeset, "UTF8") == 0);
}

Charset ChooseCharset(const char* codeset, const char* term, const char* tmux) {
  if (CodesetIsUtf8(codeset)) return Charset::kUtf8;
  // The multiplexer translates for the outer terminal; the inner locale is
  // often just missing (a pane started without LANG).
  if (tmux != nullptr || StartsWith(term, "screen") ||
      StartsWith(term, "tmux")) {
    return Charset::kUtf8;
  }
  return Charset::kAscii;
}

int UnicodeToCp850(char32_t c) {
  if (c >= 0x20 && c < 0x7F) return static_cast<int>(c);
  if (c < 0x80) return -1;
  for (int b = 0x80; b < 0x100; ++b) {
    if (kGlyphs[b] == c) return b;
  }
  return -1;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string SanitiseTitle(const char* title, Charset charset) {
  std::string out;
  if (title == nullptr) return out;
  for (const char* p = title; *p != '\0'; ++p) {
    auto b = static_cast<std::uint8_t>(*p);
    // The title shows text, not the symbols of the control bytes. The bytes
    // from 0x80 are letters in this code page, and their glyphs are all
    // printable: no C1 control can come out of the table.
    if (b < 0x20 || b == 0x7F) continue;
    if (charset == Charset::kAscii) {
      out += kAscii[b];
    } else {
      AppendUtf8(out, kGlyphs[b]);
    }
  }
  return out;
}

bool TermNameHasTitle(const char* term) {
  for (const char* prefix : {"xterm", "tmux", "screen", "rxvt"}) {
    if (StartsWith(term, prefix)) return true;
  }
  return false;
}

int ConsoleToTermColour(int consoleColour) {
  int c = 0;
  if (consoleColour & 1) c |= 4;  // blue
  if (consoleColour & 2) c |= 2;  // green
  if (consoleColour & 4) c |= 1;  // red
  if (consoleColour & 8) c |= 8;  // bright
  return c;
}

TermColours MapAttribute(std::uint16_t attribute, int colours) {
  int fg = ConsoleToTermColour(attribute & 0x0F);
  int bg = ConsoleToTermColour((attribute >> 4) & 0x0F);
  TermColours out{static_cast<short>(fg), static_cast<short>(bg), false};
  if (colours < 16) {
    // Eight colours: a bright foreground becomes bold (most terminals then
    // brighten it); a bright background falls back to its dim variant.
    out.bold = fg >= 8;
    out.fg = static_cast<short>(fg & 7);
    out.bg = static_cast<short>(bg & 7);
  }
  return out;
}

}  // namespace plat::posix
