// SPDX-License-Identifier: MIT
// Number texts shared by every screen and every reply conversion.
#pragma once

#include <cstdint>
#include <string_view>

#include "console/str255.h"

// w:d fixed point: d decimals, right-aligned in w characters, a minus sign
// when negative; a number that needs more room takes it.
Str255 FormatFixed(double value, int width, int decimals);

// A whole number right-aligned in width characters (0: no padding); a longer
// number takes the room it needs.
Str255 FormatInt(std::int64_t value, int width = 0);

// Reply-to-number conversion: leading blanks skipped, an optional sign, then
// the decimal digits up to the first other character; 0 without digits.
// A run of digits beyond the 32-bit range gives INT32_MAX (INT32_MIN when
// negative) and is not a whole number.
// *whole (optional) is set when the text holds nothing but that number
// (leading blanks allowed, at least one digit, nothing after the digits).
std::int32_t ParseNumber(std::string_view text, bool* whole = nullptr);
