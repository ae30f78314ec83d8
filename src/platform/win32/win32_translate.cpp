// SPDX-License-Identifier: MIT
#include "platform/win32/win32_translate.h"

#include <algorithm>
#include <cstring>

#include "platform/shared/codepage.h"
#include "platform/shared/com_names.h"

namespace plat::win32 {

wchar_t WideGlyph(char byte) {
  // Every glyph of the page lies in the Basic Multilingual Plane.
  return static_cast<wchar_t>(Cp850Glyph(static_cast<std::uint8_t>(byte)));
}

std::wstring WideText(const char* text) {
  std::wstring out;
  for (const char* p = text; p != nullptr && *p != '\0'; ++p) {
    const auto b = static_cast<std::uint8_t>(*p);
    // Control bytes stay themselves: a title has no symbols for them.
    out += b < 0x20 ? static_cast<wchar_t>(b) : WideGlyph(*p);
  }
  return out;
}

char TypedByte(wchar_t c) {
  if (c < 0x80) return static_cast<char>(c);
  const int b = UnicodeToCp850(static_cast<char32_t>(c));
  return b < 0 ? '?' : static_cast<char>(b);
}

void FromNative(const ::INPUT_RECORD& in, INPUT_RECORD& out) {
  out = INPUT_RECORD{};
  out.EventType = in.EventType;
  if (in.EventType == KEY_EVENT) {
    const auto& k = in.Event.KeyEvent;
    out.KeyEvent.bKeyDown = k.bKeyDown;
    out.KeyEvent.wRepeatCount = k.wRepeatCount;
    out.KeyEvent.wVirtualKeyCode = k.wVirtualKeyCode;
    out.KeyEvent.wVirtualScanCode = k.wVirtualScanCode;
    out.KeyEvent.AsciiChar = TypedByte(k.uChar.UnicodeChar);
    out.KeyEvent.dwControlKeyState = k.dwControlKeyState;
  }
}

std::vector<FillSpan> FillSpans(::COORD at, DWORD length, SHORT width) {
  std::vector<FillSpan> spans;
  if (width > 0 && at.X > 0 && at.X < width &&
      length > static_cast<DWORD>(width - at.X)) {
    const auto head = static_cast<DWORD>(width - at.X);
    spans.push_back({at, head});
    at = ::COORD{0, static_cast<SHORT>(at.Y + 1)};
    length -= head;
  }
  spans.push_back({at, length});
  return spans;
}

std::vector<int> ComPortsIn(const char* names, std::size_t size) {
  std::vector<int> ports;
  for (std::size_t i = 0; i < size && names[i] != '\0';) {
    const std::size_t n = ::strnlen(names + i, size - i);
    if (i + n >= size) break;  // the last name lost its end: not trusted
    if (const int port = ParseComName(names + i); port > 0) {
      ports.push_back(port);
    }
    i += n + 1;
  }
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return ports;
}

std::string WithPorts(const char* names, std::size_t size,
                      const std::vector<int>& more) {
  std::string out;
  for (std::size_t i = 0; i < size && names[i] != '\0';) {
    const std::size_t n = ::strnlen(names + i, size - i);
    if (i + n >= size) break;
    out.append(names + i, n + 1);
    i += n + 1;
  }
  const std::vector<int> have = ComPortsIn(out.c_str(), out.size() + 1);
  for (const int port : more) {
    if (std::find(have.begin(), have.end(), port) != have.end()) continue;
    out += "COM" + std::to_string(port);
    out += '\0';
  }
  out += '\0';
  return out;
}

bool DeviceGone(DWORD error) {
  switch (error) {
    case ERROR_BAD_COMMAND:
    case ERROR_ACCESS_DENIED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY:  // wine's word for a line whose far end hung up
      return true;
    default:
      return false;
  }
}

bool TimeToLook(DWORD now, DWORD lastLook) {
  return now - lastLook >= kReopenEveryMs;
}

}  // namespace plat::win32
