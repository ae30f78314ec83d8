// SPDX-License-Identifier: MIT
// The reply-to-number conversion against a plain reading of its rule, and
// the number formatters read back through it.
#include <cmath>
#include <cstring>

#include "console/text.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const fuzz::PlainNumber plain = fuzz::ReadPlainNumber(text);
  bool whole = !plain.whole;  // the call must set it either way
  const std::int32_t value = ParseNumber(text, &whole);
  FUZZ_CHECK(value == plain.value);
  FUZZ_CHECK(whole == plain.whole);
  FUZZ_CHECK(ParseNumber(text) == value);

  // Any value, padded to any width, reads back whole.
  fuzz::Input in{data, size};
  const int width = in.Byte() - 8;
  const Str255 formatted = FormatInt(value, width);
  bool back = false;
  FUZZ_CHECK(ParseNumber(formatted.view(), &back) == value && back);

  // Fixed point from raw doubles: never past 255 characters, and without
  // decimals a number in range reads back whole.
  double number = 0;
  if (size >= sizeof number) std::memcpy(&number, data, sizeof number);
  const int decimals = in.Byte() % 40 - 4;
  const Str255 fixed = FormatFixed(number, width, decimals);
  FUZZ_CHECK(fixed.size() >=
             static_cast<std::size_t>(std::clamp(width, 0, 255)));
  if (std::isfinite(number) && std::fabs(number) < 2e9) {
    bool fixedWhole = false;
    ParseNumber(FormatFixed(number, width, 0).view(), &fixedWhole);
    FUZZ_CHECK(fixedWhole);
  }
  return 0;
}
