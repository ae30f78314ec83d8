// SPDX-License-Identifier: MIT
#include <strings.h>

#include <cstring>

#include "platform/posix/posix_internal.h"

namespace plat::posix {

namespace {

// Code page 850 in 7-bit ASCII, row by row as the glyph table ("\?" is a
// '?').
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
      AppendUtf8(out, Cp850Glyph(b));
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
