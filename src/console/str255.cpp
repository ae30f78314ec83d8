// SPDX-License-Identifier: MIT
#include "console/str255.h"

#include <algorithm>
#include <cstring>

Str255::Str255(const char* text) : Str255(std::string_view(text ? text : "")) {}

Str255::Str255(std::string_view text) { Append(text); }

Str255& Str255::Append(std::string_view text) {
  const std::size_t room = kMax - length;
  const std::size_t n = std::min(room, text.size());
  if (n > 0) {
    std::memcpy(chars + length, text.data(), n);
    length = static_cast<std::uint8_t>(length + n);
  }
  return *this;
}

Str255& Str255::Append(char c) {
  if (length < kMax) chars[length++] = c;
  return *this;
}

void Str255::Clear() {
  length = 0;
  std::memset(chars, 0, sizeof chars);
}

void Str255::Delete(std::size_t pos, std::size_t count) {
  if (pos >= length || count == 0) return;
  count = std::min<std::size_t>(count, length - pos);
  std::memmove(chars + pos, chars + pos + count, length - pos - count);
  length = static_cast<std::uint8_t>(length - count);
}

void Str255::Truncate(std::size_t n) {
  if (n < length) length = static_cast<std::uint8_t>(n);
}

Str255 operator+(Str255 left, std::string_view right) {
  return left.Append(right);
}
Str255 operator+(Str255 left, char right) { return left.Append(right); }
Str255 operator+(Str255 left, const Str255& right) {
  return left.Append(right.view());
}
