// SPDX-License-Identifier: MIT
// Terminal input to Win32-style key events. The program reads each event
// through its key map; the events are chosen so that the map gives back
// what the user typed, as the original keyboard would.
#include <strings.h>

#include <cstring>

#include "platform/shared/keymap_table.h"
#include "platform/posix/posix_internal.h"

namespace plat::posix {

namespace {

constexpr std::uint16_t kVkBack = 0x08, kVkTab = 0x09, kVkReturn = 0x0D,
                        kVkEscape = 0x1B, kVkSpace = 0x20, kVkPrior = 0x21,
                        kVkNext = 0x22, kVkEnd = 0x23, kVkHome = 0x24,
                        kVkLeft = 0x25, kVkUp = 0x26, kVkRight = 0x27,
                        kVkDown = 0x28, kVkInsert = 0x2D, kVkDelete = 0x2E,
                        kVkF1 = 0x70;

KEY_EVENT_RECORD MakeKey(std::uint16_t vk, std::uint8_t ch,
                         std::uint32_t state) {
  KEY_EVENT_RECORD k{};
  k.bKeyDown = 1;
  k.wRepeatCount = 1;
  k.wVirtualKeyCode = vk;
  k.wVirtualScanCode = 0;
  k.AsciiChar = static_cast<char>(ch);
  k.dwControlKeyState = state;
  return k;
}

void Emit(const KEY_EVENT_RECORD& key, std::vector<INPUT_RECORD>& out) {
  INPUT_RECORD r{};
  r.EventType = KEY_EVENT;
  r.KeyEvent = key;
  out.push_back(r);
  r.KeyEvent.bKeyDown = 0;
  out.push_back(r);
}


// xterm's modifier parameter: 1 + (1 Shift, 2 Alt, 4 Ctrl, 8 Meta).
std::uint32_t ModifierState(int param) {
  if (param < 2) return 0;
  int bits = param - 1;
  std::uint32_t state = 0;
  if (bits & 1) state |= SHIFT_PRESSED;
  if (bits & (2 | 8)) state |= LEFT_ALT_PRESSED;
  if (bits & 4) state |= LEFT_CTRL_PRESSED;
  return state;
}

void EmitSpecial(std::uint16_t vk, std::uint32_t state,
                 std::vector<INPUT_RECORD>& out) {
  bool enhanced = vk >= kVkPrior && vk <= kVkDelete;
  Emit(MakeKey(vk, 0, state | (enhanced ? ENHANCED_KEY : 0)), out);
}

// The virtual key of "ESC [ n ~" (and rxvt's $ ^ @ variants), or 0.
std::uint16_t TildeKey(int n) {
  // 1 Home, 2 Insert, 3 Delete, 4 End, 5 Page Up, 6 Page Down, and rxvt's
  // 7 Home and 8 End.
  static constexpr std::uint16_t kNav[] = {kVkHome, kVkInsert, kVkDelete,
                                           kVkEnd,  kVkPrior,  kVkNext,
                                           kVkHome, kVkEnd};
  if (n >= 1 && n <= 8) return kNav[n - 1];
  // F1-F5 are 11-15, F6-F10 17-21, F11 and F12 23 and 24.
  if (n >= 11 && n <= 15) return static_cast<std::uint16_t>(kVkF1 + n - 11);
  if (n >= 17 && n <= 21) return static_cast<std::uint16_t>(kVkF1 + n - 12);
  if (n == 23 || n == 24) return static_cast<std::uint16_t>(kVkF1 + n - 13);
  return 0;
}

// The virtual key of a CSI or SS3 sequence ending in a letter, or 0.
std::uint16_t LetterKey(char final) {
  static constexpr char kFinals[] = "ABCDHFPQRS";
  static constexpr std::uint16_t kKeys[] = {
      kVkUp,  kVkDown, kVkRight,  kVkLeft,   kVkHome,
      kVkEnd, kVkF1,   kVkF1 + 1, kVkF1 + 2, kVkF1 + 3};
  for (int i = 0; kFinals[i] != '\0'; ++i) {
    if (kFinals[i] == final) return kKeys[i];
  }
  return 0;
}

// Parameters of a CSI/SS3 body such as "1;5": first and second number,
// each 1 when missing.
void Params(const std::string& body, int* first, int* second) {
  *first = 1;
  *second = 1;
  int index = 0, value = 0;
  bool any = false;
  for (char c : body) {
    if (c >= '0' && c <= '9') {
      value = value * 10 + (c - '0');
      if (value > 9999) value = 9999;
      any = true;
    } else if (c == ';') {
      if (index == 0 && any) *first = value;
      if (index == 1 && any) *second = value;
      ++index;
      value = 0;
      any = false;
    }
  }
  if (index == 0 && any) *first = value;
  if (index == 1 && any) *second = value;
}

// A complete "ESC [" (CSI) or "ESC O" (SS3) sequence as the key it stands
// for, if any.
void EmitSequence(bool csi, const std::string& body, char final,
                  std::vector<INPUT_RECORD>& out) {
  int p1, p2;
  Params(body, &p1, &p2);
  switch (final) {
    case '~':
    case '$':
    case '^':
    case '@': {
      if (!csi) return;
      std::uint32_t state = ModifierState(p2);
      if (final == '$' || final == '@') state |= SHIFT_PRESSED;
      if (final == '^' || final == '@') state |= LEFT_CTRL_PRESSED;
      if (std::uint16_t vk = TildeKey(p1)) EmitSpecial(vk, state, out);
      return;
    }
    case 'Z':  // back tab
      if (csi) Emit(MakeKey(kVkTab, 9, SHIFT_PRESSED), out);
      return;
    case 'M':  // keypad Enter in application mode
      if (!csi) Emit(MakeKey(kVkReturn, 13, 0), out);
      return;
    case 'a':
    case 'b':
    case 'c':
    case 'd':  // rxvt's arrows: shifted after CSI, with Ctrl after SS3
      EmitSpecial(LetterKey(static_cast<char>(final - 'a' + 'A')),
                  csi ? SHIFT_PRESSED : LEFT_CTRL_PRESSED, out);
      return;
    default:
      if (std::uint16_t vk = LetterKey(final)) {
        // "ESC [ 1 ; 5 A"; a lone number is the modifier on some terminals.
        int mod = body.find(';') != std::string::npos ? p2 : p1;
        EmitSpecial(vk, ModifierState(mod), out);
      }
      // Anything else (focus reports, answers to queries) is not a key.
      return;
  }
}

// No key sends a longer escape sequence; anything longer is noise (or a
// flood) and is dropped up to its end, however long that turns out to be.
constexpr std::size_t kMaxSequence = 64;

bool IsParamByte(char c) {
  return static_cast<std::uint8_t>(c) >= 0x20 &&
         static_cast<std::uint8_t>(c) <= 0x3F;
}

// Length of the UTF-8 sequence a lead byte starts, 0 when not a lead byte.
std::size_t Utf8Length(std::uint8_t lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

// The key that types the code page byte (-1: none), if any key does.
void EmitByte(int byte, std::uint32_t extra, std::vector<INPUT_RECORD>& out) {
  KEY_EVENT_RECORD key;
  if (byte >= 0 && KeyEventFor(static_cast<std::uint8_t>(byte), &key)) {
    key.dwControlKeyState |= extra;
    Emit(key, out);
  }
}

// One character (plain byte, UTF-8 or Latin-1) at s[i] as a key; `extra`
// is OR-ed into the modifier state (Alt for "ESC char"). Returns the bytes
// used, 0 when the character is still incomplete.
std::size_t DecodeChar(const std::string& s, std::size_t i, bool timedOut,
                       std::uint32_t extra, InputBytes input,
                       std::vector<INPUT_RECORD>& out) {
  auto lead = static_cast<std::uint8_t>(s[i]);
  if (lead >= 0x80 && input != InputBytes::kUtf8) {
    // A byte is a character: nothing is ever left half read. The C1
    // controls have no glyph and so no key.
    EmitByte(input == InputBytes::kLatin1 ? UnicodeToCp850(lead) : -1, extra,
             out);
    return 1;
  }
  std::size_t len = Utf8Length(lead);
  if (len == 0) return 1;  // stray continuation byte
  if (i + len > s.size()) return timedOut ? s.size() - i : 0;
  char32_t c = lead;
  if (len > 1) {
    c = lead & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
      auto b = static_cast<std::uint8_t>(s[i + k]);
      if ((b & 0xC0) != 0x80) return k;  // broken sequence: skip its head
      c = (c << 6) | (b & 0x3F);
    }
    // An overlong form is invalid, not another way to type ASCII.
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[len]) return len;
  }
  EmitByte(len == 1 ? static_cast<int>(c) : UnicodeToCp850(c), extra, out);
  return len;
}

// One key at s[i]; returns the bytes used, 0 when more input is needed.
// *overlong: the bytes used are the start of a sequence too long to be a
// key, whose remaining parameter bytes and final byte are to be dropped.
std::size_t DecodeOne(const std::string& s, std::size_t i, bool timedOut,
                      InputBytes input, bool* overlong,
                      std::vector<INPUT_RECORD>& out) {
  if (s[i] != '\x1B') return DecodeChar(s, i, timedOut, 0, input, out);
  std::size_t n = s.size();
  if (i + 1 == n) {
    if (!timedOut) return 0;
    Emit(MakeKey(kVkEscape, 27, 0), out);
    return 1;
  }
  char next = s[i + 1];
  if (next == '\x1B') {  // Esc twice: the first stands alone
    Emit(MakeKey(kVkEscape, 27, 0), out);
    return 1;
  }
  if (next != '[' && next != 'O') {
    std::size_t used =
        DecodeChar(s, i + 1, timedOut, LEFT_ALT_PRESSED, input, out);
    return used == 0 ? 0 : used + 1;
  }
  if (i + 2 == n) {
    // Alt with [ or O, unless the rest of a sequence is still coming.
    if (!timedOut) return 0;
    return DecodeChar(s, i + 1, true, LEFT_ALT_PRESSED, input, out) + 1;
  }
  if (next == '[' && s[i + 2] == '[') {  // Linux console: ESC [ [ A = F1
    if (i + 3 == n) return timedOut ? 3 : 0;
    char f = s[i + 3];
    if (f < 'A' || f > 'E') return 3;  // not a key; f is read afresh
    EmitSpecial(static_cast<std::uint16_t>(kVkF1 + (f - 'A')), 0, out);
    return 4;
  }
  // Parameter and intermediate bytes, then the final byte. rxvt ends its
  // shifted keys with '$' straight after the number ("ESC [ 2 $").
  std::size_t j = i + 2;
  bool digitsOnly = true;
  while (j < n && IsParamByte(s[j])) {
    if (next == '[' && s[j] == '$' && digitsOnly && j > i + 2) break;
    digitsOnly = digitsOnly && s[j] >= '0' && s[j] <= '9';
    if (++j - i >= kMaxSequence) {
      *overlong = true;
      return j - i;
    }
  }
  if (j == n) return timedOut ? n - i : 0;  // never finished: dropped
  auto final = static_cast<std::uint8_t>(s[j]);
  if ((final < 0x40 && final != '$') || final > 0x7E) {
    return j - i;  // broken sequence; the byte after it is read afresh
  }
  EmitSequence(next == '[', s.substr(i + 2, j - (i + 2)),
               static_cast<char>(final), out);
  return j + 1 - i;
}

}  // namespace

InputBytes ChooseInputBytes(Charset charset, const char* codeset) {
  if (charset == Charset::kUtf8) return InputBytes::kUtf8;
  // Latin-1 bytes are Unicode's first 256 code points; other 8-bit sets
  // (Latin-9 included) would give wrong letters, so their bytes are dropped.
  if (codeset != nullptr && (::strcasecmp(codeset, "ISO-8859-1") == 0 ||
                             ::strcasecmp(codeset, "ISO8859-1") == 0)) {
    return InputBytes::kLatin1;
  }
  return InputBytes::kDrop;
}

bool KeyEventFor(std::uint8_t cp850, KEY_EVENT_RECORD* event) {
  std::uint8_t b = cp850;
  // Terminals send DEL for Backspace and NUL for Ctrl+Space, bytes that
  // the map gives for other keys or not at all.
  if (b == 0x7F) {
    *event = MakeKey(kVkBack, 8, 0);
    return true;
  }
  if (b == 0) {
    *event = MakeKey(kVkSpace, 0, LEFT_CTRL_PRESSED);
    return true;
  }
  // Ctrl+C is the letter's key with Ctrl, CR the Enter key.
  KeyStroke stroke{};
  if (!FindKeyStroke(b, &stroke)) return false;
  *event = MakeKey(stroke.VirtualKey, b, stroke.ControlKeyState);
  return true;
}

void KeyDecoder::Feed(const std::uint8_t* bytes, std::size_t n,
                      std::int64_t nowMs) {
  if (n == 0) return;
  pending_.append(reinterpret_cast<const char*>(bytes), n);
  lastFeedMs_ = nowMs;
}

void KeyDecoder::Decode(std::int64_t nowMs, std::vector<INPUT_RECORD>& out) {
  bool timedOut = nowMs - lastFeedMs_ >= kEscTimeoutMs;
  std::size_t i = 0;
  while (i < pending_.size()) {
    if (skipping_) {
      // The rest of an overlong sequence, up to and with its final byte.
      char c = pending_[i];
      if (IsParamByte(c)) {
        ++i;
        continue;
      }
      skipping_ = false;
      if (static_cast<std::uint8_t>(c) >= 0x40 &&
          static_cast<std::uint8_t>(c) <= 0x7E) {
        ++i;
      }
      continue;
    }
    std::size_t used =
        DecodeOne(pending_, i, timedOut, input_, &skipping_, out);
    if (used == 0) break;
    i += used;
  }
  pending_.erase(0, i);
}

int KeyDecoder::PendingTimeoutMs(std::int64_t nowMs) const {
  if (pending_.empty()) return -1;
  std::int64_t left = lastFeedMs_ + kEscTimeoutMs - nowMs;
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace plat::posix
