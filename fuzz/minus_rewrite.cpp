// SPDX-License-Identifier: MIT
// The minus-sign rewrite of a command line: the text before the first
// minus is kept, the number after it becomes its 16-bit complement, and
// what follows the number stays; cut at 255 characters like every text.
#include <string>

#include "fuzz/harness.h"
#include "link/host_link.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const Str255 command(
      std::string_view(reinterpret_cast<const char*>(data), size));
  const Str255 sent = RewriteMinusSign(command);
  const std::string_view text = command.view();
  const std::size_t minus = text.find('-');
  if (minus == std::string_view::npos) {
    FUZZ_CHECK(sent == command);
    return 0;
  }

  // The number's residue by masking rather than by remainders.
  std::size_t i = minus + 1;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i++] == '-';
  }
  std::uint32_t residue = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    residue =
        (residue * 10 + static_cast<std::uint32_t>(text[i] - '0')) & 0xFFFF;
  }
  const std::uint32_t word = negative ? residue : (0x10000 - residue) & 0xFFFF;
  const std::string expected = std::string(text.substr(0, minus)) +
                               std::to_string(word) + std::string(text.substr(i));
  FUZZ_CHECK(sent.view() == std::string_view(expected).substr(0, Str255::kMax));
  return 0;
}
