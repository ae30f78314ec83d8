// SPDX-License-Identifier: MIT
// zrvsim's request parser: wire bytes gathered into request lines, each
// answered by the controller model. Every answer is one of the protocol's
// forms with its CR LF, and the same as the plain answer to the request.
#include <cctype>
#include <string>

#include "fuzz/harness.h"
#include "sim/model/model.h"

namespace {

bool Digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// CC, OK, E1, E2, a relay's 0 or 1, a word, a timer's "OKccccc ppppp".
bool ProtocolForm(std::string_view a) {
  if (a == "CC" || a == "OK" || a == "E1" || a == "E2") return true;
  if (Digits(a)) return a.size() <= 5 && std::stoul(std::string(a)) <= 65535;
  return a.size() == 13 && a.substr(0, 2) == "OK" && Digits(a.substr(2, 5)) &&
         a[7] == ' ' && Digits(a.substr(8));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // A fresh controller per input, copied over the last one: building one
  // anew maps and fills its 64 K words of memory every time.
  static const zrvsim::Controller pristine = [] {
    zrvsim::Options options;
    options.unit.noise = 0;
    return zrvsim::Controller(options);
  }();
  static zrvsim::Controller controller = pristine;
  controller = pristine;
  zrvsim::LineCollector lines;
  for (std::size_t i = 0; i < size; ++i) {
    const auto line = lines.Push(data[i]);
    FUZZ_CHECK(lines.Pending().size() <= zrvsim::LineCollector::kMaxLine);
    if (!line) continue;
    FUZZ_CHECK(line->size() <= zrvsim::LineCollector::kMaxLine);
    // Line ends, the two erasing characters and NUL never get into a line.
    FUZZ_CHECK(line->find_first_of(std::string_view("\r\n\b\x7f\0", 5)) ==
               std::string::npos);
    const zrvsim::Response response = controller.Handle(*line);
    FUZZ_CHECK(response.sent && response.fault.empty());
    const std::string& bytes = response.bytes;
    FUZZ_CHECK(bytes.size() >= 3 && bytes.substr(bytes.size() - 2) == "\r\n");
    const std::string answer = bytes.substr(0, bytes.size() - 2);
    FUZZ_CHECK(ProtocolForm(answer));
    FUZZ_CHECK(controller.Answer(*line) == answer);
  }
  return 0;
}
