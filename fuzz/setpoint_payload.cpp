// SPDX-License-Identifier: MIT
// A set point command's payload against a plain reading of its rule, and
// the limits of --setpoint-limits: a payload taken lies within them and
// reads back as itself.
#include <string>

#include "fuzz/harness.h"
#include "record/control.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in{data, size};
  const std::uint8_t first = in.Byte();
  const auto key = static_cast<SetPointKey>(first % kSetPointKeys);
  const std::string_view text = in.Take(size);
  ResetSetPointControlForTests();
  std::string why;
  if ((first & 0x80) != 0) {
    // Limits are refused whole or taken whole, MIN never above MAX.
    const bool taken = SetPointControlOpen(std::string(text).c_str(), why);
    FUZZ_CHECK(taken == why.empty());
    for (const SetPointLimit& limit : SetPointLimits) FUZZ_CHECK(limit.low <= limit.high);
    return 0;
  }
  std::int32_t value = 0;
  const bool ok = ParseSetPoint(key, text, value, why);
  FUZZ_CHECK(ok == why.empty());
  // Plain: an optional minus, digits, then at most a point and digits.
  std::size_t i = !text.empty() && text[0] == '-' ? 1 : 0;
  const std::size_t start = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  bool plain = i > start;
  if (plain && i < text.size()) {
    plain = text[i] == '.' && i + 1 < text.size();
    for (++i; plain && i < text.size(); ++i) plain = text[i] >= '0' && text[i] <= '9';
  }
  if (!plain) FUZZ_CHECK(!ok);
  if (ok) {
    FUZZ_CHECK(value >= SetPointLimits[key].low && value <= SetPointLimits[key].high);
    std::int32_t again = 0;
    FUZZ_CHECK(ParseSetPoint(key, SetPointText(key, value), again, why) && again == value);
  }
  return 0;
}
