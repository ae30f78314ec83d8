// SPDX-License-Identifier: MIT
// Length-prefixed text of at most 255 single-byte characters. Every append
// or concatenation that would pass 255 characters is cut at 255, never an
// error: commands, replies, labels and the key buffer all live in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

struct Str255 {
  static constexpr std::size_t kMax = 255;

  Str255() = default;
  Str255(const char* text);  // NOLINT(google-explicit-constructor)
  Str255(std::string_view text);  // NOLINT(google-explicit-constructor)

  std::size_t size() const { return length; }
  bool empty() const { return length == 0; }
  const char* data() const { return chars; }
  char operator[](std::size_t i) const { return chars[i]; }
  std::string_view view() const { return {chars, length}; }
  std::string str() const { return std::string(chars, length); }
  std::uint8_t byte(std::size_t i) const {
    return static_cast<std::uint8_t>(chars[i]);
  }

  Str255& Append(std::string_view text);
  Str255& Append(char c);
  Str255& operator+=(std::string_view text) { return Append(text); }
  Str255& operator+=(char c) { return Append(c); }

  // Zeroes all 256 bytes, as the key buffer's reset requires.
  void Clear();
  // Removes count characters from pos (0-based); a deletion that reaches
  // past the end stops there, one that starts past the end removes nothing.
  void Delete(std::size_t pos, std::size_t count);
  // Keeps the first n characters.
  void Truncate(std::size_t n);

  bool operator==(std::string_view other) const { return view() == other; }
  bool operator==(const char* other) const {
    return view() == std::string_view(other);
  }
  bool operator==(const Str255& other) const { return view() == other.view(); }

 private:
  std::uint8_t length = 0;
  char chars[kMax] = {};
};

// Shows the text in test failure messages.
inline std::ostream& operator<<(std::ostream& os, const Str255& s) {
  return os << '"' << s.view() << '"';
}

Str255 operator+(Str255 left, std::string_view right);
Str255 operator+(Str255 left, char right);
Str255 operator+(Str255 left, const Str255& right);
