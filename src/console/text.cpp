// SPDX-License-Identifier: MIT
#include "console/text.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>

Str255 FormatFixed(double value, int width, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > 30) decimals = 30;
  if (width < 0) width = 0;
  if (width > 255) width = 255;
  char buf[512];
  if (!std::isfinite(value)) value = 0.0;
  // The largest doubles need over 300 digits; such values never come from
  // 32-bit readings, so the cut at 255 characters is all that can happen.
  std::snprintf(buf, sizeof buf, "%*.*f", width, decimals, value);
  return Str255(std::string_view(buf));
}

Str255 FormatInt(std::int64_t value, int width) {
  if (width < 0) width = 0;
  if (width > 255) width = 255;
  char buf[300];
  std::snprintf(buf, sizeof buf, "%*" PRId64, width, value);
  return Str255(std::string_view(buf));
}

std::int32_t ParseNumber(std::string_view text, bool* whole) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::size_t firstDigit = i;
  // Accumulate in 64 bits and saturate: no input can overflow.
  const std::int64_t limit =
      negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
               : std::numeric_limits<std::int32_t>::max();
  std::int64_t magnitude = 0;
  bool overflow = false;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (!overflow) {
      magnitude = magnitude * 10 + (text[i] - '0');
      if (magnitude > limit) {
        magnitude = limit;
        overflow = true;
      }
    }
    ++i;
  }
  const bool digits = i > firstDigit;
  if (whole) *whole = digits && !overflow && i == text.size();
  if (!digits) return 0;
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}
