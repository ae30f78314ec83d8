// SPDX-License-Identifier: MIT
// The fake's keyboard: keys by name and text by the keys that type it,
// scheduled as console input events due at virtual times.
#include <cctype>
#include <stdexcept>

#include "platform/fake/fake_internal.h"
#include "platform/shared/codepage.h"
#include "platform/shared/keymap_table.h"

namespace fake {

namespace {

plat::INPUT_RECORD MakeKey(std::uint16_t vk, char ch, std::uint32_t state) {
  plat::INPUT_RECORD r{};
  r.EventType = plat::KEY_EVENT;
  r.KeyEvent.bKeyDown = 1;
  r.KeyEvent.wRepeatCount = 1;
  r.KeyEvent.wVirtualKeyCode = vk;
  r.KeyEvent.AsciiChar = ch;
  r.KeyEvent.dwControlKeyState = state;
  return r;
}

void ScheduleRecord(const plat::INPUT_RECORD& r, Micros at) {
  TheMachine().script.emplace(at < 0 ? TheMachine().now : at, r);
}

void SchedulePress(std::uint16_t vk, char ch, std::uint32_t state, Micros at) {
  plat::INPUT_RECORD down = MakeKey(vk, ch, state);
  plat::INPUT_RECORD up = down;
  up.KeyEvent.bKeyDown = 0;
  ScheduleRecord(down, at);
  ScheduleRecord(up, at);
}

struct Stroke {
  std::uint16_t vk;
  char ch;
  std::uint32_t state;
};

bool StrokeFor(unsigned char c, Stroke* out) {
  KeyStroke key{};
  if (!FindKeyStroke(c, &key)) return false;
  *out = {key.VirtualKey, static_cast<char>(c), key.ControlKeyState};
  return true;
}

// Tests may write the key map's non-ASCII characters in UTF-8; they are
// typed as their console code-page byte. Other bytes pass through as they
// are, so code-page bytes can be given directly too.
std::string ToConsoleBytes(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t len = lead >= 0xC2 && lead <= 0xDF   ? 2
                            : lead >= 0xE0 && lead <= 0xEF ? 3
                                                           : 1;
    char32_t cp = len == 2 ? lead & 0x1Fu : lead & 0x0Fu;
    bool valid = len > 1 && i + len <= text.size();
    for (std::size_t k = 1; valid && k < len; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      valid = (c & 0xC0) == 0x80;
      cp = (cp << 6) | (c & 0x3Fu);
    }
    const int byte = valid ? plat::UnicodeToCp850(cp) : -1;
    if (byte >= 0x80) {
      out.push_back(static_cast<char>(byte));
      i += len;
    } else {
      out.push_back(text[i]);
      ++i;
    }
  }
  return out;
}

struct NamedKey {
  const char* name;
  std::uint16_t vk;
};

constexpr NamedKey kNamedKeys[] = {
    {"Esc", 0x1B},   {"Escape", 0x1B}, {"Enter", 0x0D},  {"Backspace", 0x08},
    {"Tab", 0x09},   {"Space", 0x20},  {"PageUp", 0x21}, {"PageDown", 0x22},
    {"End", 0x23},   {"Home", 0x24},   {"Left", 0x25},   {"Up", 0x26},
    {"Right", 0x27}, {"Down", 0x28},   {"Insert", 0x2D}, {"Delete", 0x2E},
    {"Shift", 0x10}, {"Ctrl", 0x11},   {"Alt", 0x12},    {"F1", 0x70},
    {"F2", 0x71},    {"F3", 0x72},     {"F4", 0x73},     {"F5", 0x74},
    {"F6", 0x75},    {"F7", 0x76},     {"F8", 0x77},     {"F9", 0x78},
    {"F10", 0x79},   {"F11", 0x7A},    {"F12", 0x7B},
};

// The event character Windows reports for a key pressed with modifiers:
// the key map's ordinary code, none for extended codes; a letter gives its
// control code with Ctrl, else itself in the case Shift selects.
char EventChar(std::uint16_t vk, std::uint32_t state) {
  if (vk >= 0x41 && vk <= 0x5A) {
    const bool ctrl =
        state & (plat::LEFT_CTRL_PRESSED | plat::RIGHT_CTRL_PRESSED);
    const bool alt = state & (plat::LEFT_ALT_PRESSED | plat::RIGHT_ALT_PRESSED);
    if (ctrl) return alt ? '\0' : static_cast<char>(vk - 0x40);
    if (state & plat::SHIFT_PRESSED) return static_cast<char>(vk);
    return static_cast<char>(vk + 0x20);
  }
  const KeyMapRow* row = FindKeyMapRow(vk);
  if (row == nullptr) return 0;
  const std::uint16_t code = KeyMapCode(*row, state);
  return code < 0x100 ? static_cast<char>(code) : '\0';
}

}  // namespace

void Key(const std::string& name, Micros at) {
  std::string rest = name;
  std::uint32_t state = 0;
  for (;;) {
    if (rest.size() > 5 && rest.compare(0, 5, "Ctrl+") == 0) {
      state |= plat::LEFT_CTRL_PRESSED;
      rest.erase(0, 5);
    } else if (rest.size() > 6 && rest.compare(0, 6, "Shift+") == 0) {
      state |= plat::SHIFT_PRESSED;
      rest.erase(0, 6);
    } else if (rest.size() > 4 && rest.compare(0, 4, "Alt+") == 0) {
      state |= plat::LEFT_ALT_PRESSED;
      rest.erase(0, 4);
    } else {
      break;
    }
  }
  std::uint16_t vk = 0;
  char typed = 0;
  for (const auto& k : kNamedKeys)
    if (rest == k.name) vk = k.vk;
  if (vk == 0) rest = ToConsoleBytes(rest);
  if (vk == 0 && rest.size() == 1) {
    Stroke s{};
    const auto c = static_cast<unsigned char>(rest[0]);
    if (!StrokeFor(c, &s)) throw std::invalid_argument("fake::Key: " + name);
    vk = s.vk;
    typed = s.ch;
    if (state == 0) state = s.state;
  }
  if (vk == 0) throw std::invalid_argument("fake::Key: " + name);
  // A modifier key reports itself as held.
  if (vk == 0x10) state |= plat::SHIFT_PRESSED;
  if (vk == 0x11) state |= plat::LEFT_CTRL_PRESSED;
  if (vk == 0x12) state |= plat::LEFT_ALT_PRESSED;
  // Unmodified, a character key gives the character named (a letter in the
  // case written, as with Caps Lock).
  const char ch = state == 0 && typed != 0 ? typed : EventChar(vk, state);
  SchedulePress(vk, ch, state, at);
  CatchUp();
}

void Type(const std::string& text, Micros at, Micros gap) {
  Micros t = at < 0 ? TheMachine().now : at;
  for (char c : ToConsoleBytes(text)) {
    Stroke s{};
    if (!StrokeFor(static_cast<unsigned char>(c), &s)) continue;
    SchedulePress(s.vk, s.ch, s.state, t);
    t += gap;
  }
  CatchUp();
}

void PushRecord(const plat::INPUT_RECORD& record, Micros at) {
  ScheduleRecord(record, at);
  CatchUp();
}

std::size_t PendingScript() { return TheMachine().script.size(); }

}  // namespace fake
