// SPDX-License-Identifier: MIT
// What every harness shares: a check that stops the run with the broken
// condition named, a reader over the input's bytes, and a plain reading of
// reply numbers to hold the program's conversion against.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// Aborts rather than returns, so that libFuzzer keeps the input.
#define FUZZ_CHECK(cond) \
  ((cond) ? void(0) : ::fuzz::Fail(#cond, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

// The input front to back; past its end every byte reads as 0.
struct Input {
  const std::uint8_t* data;
  std::size_t size;

  bool Empty() const { return size == 0; }
  std::uint8_t Byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  std::string_view Take(std::size_t n) {
    n = std::min(n, size);
    const std::string_view out(reinterpret_cast<const char*>(data), n);
    data += n;
    size -= n;
    return out;
  }
  std::string_view Rest() { return Take(size); }
};

// A reply number read the long way: blanks, a sign, the digit run compared
// as text against the 32-bit limits.
struct PlainNumber {
  std::int32_t value = 0;
  bool whole = false;
};

inline PlainNumber ReadPlainNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i++] == '-';
  }
  const std::size_t first = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  std::string_view digits = text.substr(first, i - first);
  PlainNumber out;
  if (digits.empty()) return out;
  while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
  const std::string_view limit = negative ? "2147483648" : "2147483647";
  const bool overflow = digits.size() > limit.size() ||
                        (digits.size() == limit.size() && digits > limit);
  std::int64_t magnitude = 0;
  if (overflow) {
    magnitude = negative ? 2147483648LL : 2147483647LL;
  } else {
    for (char c : digits) magnitude = magnitude * 10 + (c - '0');
  }
  out.value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  out.whole = !overflow && i == text.size();
  return out;
}

}  // namespace fuzz
