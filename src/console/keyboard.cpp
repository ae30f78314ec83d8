// SPDX-License-Identifier: MIT
#include "console/keyboard.h"

#include <vector>

#include "console/screen.h"

namespace {

constexpr std::uint16_t kNoPendingCode = 0xFFFF;
constexpr std::uint8_t kEsc = 27;

constexpr std::uint16_t kVkShift = 0x10;
constexpr std::uint16_t kVkControl = 0x11;
constexpr std::uint16_t kVkMenu = 0x12;

// The key code of an event, or kNoKey when the event is not a key press the
// program reads (releases, modifiers alone, keys without a row).
std::uint16_t KeyCodeOf(const plat::INPUT_RECORD& record) {
  if (record.EventType != plat::KEY_EVENT) return kNoKey;
  const plat::KEY_EVENT_RECORD& key = record.KeyEvent;
  if (key.bKeyDown == 0) return kNoKey;
  const std::uint16_t vk = key.wVirtualKeyCode;
  if (vk == kVkShift || vk == kVkControl || vk == kVkMenu) return kNoKey;
  const KeyMapRow* row = FindKeyMapRow(key.wVirtualKeyCode);
  if (row == nullptr) return kNoKey;
  return TranslateKeyEvent(key, *row);
}

// The second byte of an extended key, if the last ReadKeyCode announced one.
// Reading it only when announced keeps a stray 0 from blocking the caller.
std::uint8_t TakeExtendedCode() {
  if (PendingExtendedCode == kNoPendingCode) return 0;
  return ReadKeyCode();
}

void AppendKey(std::uint8_t c) { KeyBuffer.Append(static_cast<char>(c)); }

std::uint8_t BufferedExtendedByte(std::uint8_t code) {
  return static_cast<std::uint8_t>((code + 128) % 256);
}

// Takes one key into KeyBuffer: Esc latches AbortFlag instead, and an
// extended key adds 0 and its shifted second byte. Returns the last byte the
// key stands for.
std::uint8_t BufferNextKey() {
  const std::uint8_t c = ReadKeyCode();
  const std::uint8_t e = c == 0 ? TakeExtendedCode() : 0;
  if (c == kEsc) {
    AbortFlag = true;
  } else {
    AppendKey(c);
  }
  if (e == 0) return c;
  AppendKey(BufferedExtendedByte(e));
  return BufferedExtendedByte(e);
}

}  // namespace

std::uint16_t PendingExtendedCode = kNoPendingCode;
bool AbortFlag = false;
Str255 KeyBuffer;

std::uint16_t TranslateKeyEvent(const plat::KEY_EVENT_RECORD& event,
                                const KeyMapRow& row) {
  constexpr std::uint32_t kModifiers = plat::RIGHT_ALT_PRESSED |
                                       plat::LEFT_ALT_PRESSED |
                                       plat::RIGHT_CTRL_PRESSED |
                                       plat::LEFT_CTRL_PRESSED |
                                       plat::SHIFT_PRESSED;
  const std::uint8_t lowKey = static_cast<std::uint8_t>(event.wVirtualKeyCode);
  // A plain letter takes the console's character so that Caps Lock counts.
  if ((event.dwControlKeyState & kModifiers) == 0 && lowKey >= 0x41 &&
      lowKey <= 0x5A)
    return static_cast<std::uint8_t>(event.AsciiChar);
  return KeyMapCode(row, event.dwControlKeyState);
}

bool KeyWaiting() {
  if (PendingExtendedCode != kNoPendingCode) return true;
  const plat::Handle in = Console.ConsoleInputHandle;
  std::uint32_t pending = 0;
  if (!plat::GetNumberOfConsoleInputEvents(in, &pending) || pending == 0)
    return false;
  std::vector<plat::INPUT_RECORD> records(pending);
  std::uint32_t examined = 0;
  if (!plat::PeekConsoleInputA(in, records.data(), pending, &examined))
    return false;
  if (examined > pending) examined = pending;
  for (std::uint32_t i = 0; i < examined; ++i)
    if (KeyCodeOf(records[i]) != kNoKey) return true;
  // Nothing a reader wants: drop exactly what was looked at, so that the
  // next poll costs only the count query.
  if (examined > 0) {
    std::uint32_t removed = 0;
    plat::ReadConsoleInputA(in, records.data(), examined, &removed);
  }
  return false;
}

std::uint8_t ReadKeyCode() {
  if (PendingExtendedCode != kNoPendingCode) {
    const auto code = static_cast<std::uint8_t>(PendingExtendedCode);
    PendingExtendedCode = kNoPendingCode;
    return code;
  }
  for (;;) {
    plat::INPUT_RECORD record{};
    std::uint32_t read = 0;
    if (!plat::ReadConsoleInputA(Console.ConsoleInputHandle, &record, 1, &read))
      return 255;
    if (read == 0) continue;
    const std::uint16_t code = KeyCodeOf(record);
    if (code == kNoKey) continue;
    if (code >= 0x100) {
      PendingExtendedCode = static_cast<std::uint16_t>(code & 0xFF);
      return 0;
    }
    return static_cast<std::uint8_t>(code);
  }
}

bool AbortRequested() {
  if (AbortFlag) return true;
  if (KeyWaiting()) BufferNextKey();
  return AbortFlag;
}

std::uint8_t PollKey() {
  if (AbortRequested()) return kEsc;
  if (!KeyWaiting()) return 0;
  return BufferNextKey();
}

std::uint8_t ReadKeyLatchingEsc() {
  const std::uint8_t c = ReadKeyCode();
  if (c == 0) TakeExtendedCode();
  if (c == kEsc) AbortFlag = true;
  return c;
}

std::uint8_t ReadKeyOrAbort() {
  if (AbortRequested()) return 0;
  return ReadKeyLatchingEsc();
}

void WaitTenths(std::int32_t count) {
  std::uint16_t step = 0;
  for (;;) {
    if (AbortRequested()) return;
    if (step >= count) return;
    PauseMs(100);
    ++step;
  }
}

void ResetKeyboard() {
  PauseMs(1);
  while (KeyWaiting()) {
    ReadKeyCode();
    PauseMs(1);
  }
  KeyBuffer.Clear();
  AbortFlag = false;
}

int ConsoleLineReader(char* buf, int size) {
  int end = 0;
  while (end < size) {
    const std::uint8_t c = ReadKeyCode();
    if (c == 0) {
      TakeExtendedCode();  // extended keys do not edit the line
    } else if (c == 8) {
      if (end > 0) {
        ConsoleWrite("\b \b");
        --end;
      }
    } else if (c == 13) {
      buf[end++] = '\r';
      if (end + 1 < size) buf[end++] = '\n';
      ConsoleWrite("\r\n");
      break;
    } else if (c == 10 || c >= 32) {
      buf[end++] = static_cast<char>(c);
      ConsoleWrite(static_cast<char>(c));
    }
  }
  return end;
}

void ResetKeyboardStateForTests() {
  PendingExtendedCode = kNoPendingCode;
  AbortFlag = false;
  KeyBuffer.Clear();
}
