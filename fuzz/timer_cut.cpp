// SPDX-License-Identifier: MIT
// The timer reply's cut: a controller answers "RD T106" with the input,
// the monitor keeps characters 3 to 7 of it and converts them only when
// they are nothing but a number.
#include <string>

#include "console/keyboard.h"
#include "console/screen.h"
#include "fuzz/harness.h"
#include "link/host_link.h"
#include "link/serial_port.h"
#include "monitor/counters.h"
#include "monitor/state.h"
#include "platform/fake/fake.h"

namespace {

constexpr PortNumber kPort = 3;

// Answers every request line with the same text and its CR LF.
class FixedReply : public fake::SerialEndpoint {
 public:
  std::string reply;

  void OnByte(std::uint8_t byte, fake::Micros at,
              std::vector<Emission>& out) override {
    if (byte == '\r') out.push_back({reply + "\r\n", at + 2000});
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // The reply's own text: the line's end characters (ETX, LF) would end it
  // early, and 253 characters with CR LF fill a reply.
  // Kept beyond the run: the fake holds on to it until its next reset.
  static FixedReply controller;
  controller.reply.clear();
  for (std::size_t i = 0; i < size && controller.reply.size() < 253; ++i) {
    if (data[i] != 3 && data[i] != '\n') {
      controller.reply.push_back(static_cast<char>(data[i]));
    }
  }

  fake::Reset();
  ResetConsoleStateForTests();
  ResetKeyboardStateForTests();
  ResetPortTableForTests();
  ResetMonitorStateForTests();
  ConsoleSetup();
  fake::BindSerial("COM3", &controller);
  LinkOpen(kPort);
  ActivePort = kPort;

  Str255 full;
  Transact(kPort, "RD T106", full);
  FUZZ_CHECK(full.view() == controller.reply);

  // The cut as plain string edits: two characters off the front, then the
  // six after the fifth.
  std::string expected = controller.reply;
  expected.erase(0, 2);
  if (expected.size() > 5) expected.erase(5, 6);
  Str255 cut;
  ReadTimer(kPort, 106, cut);
  FUZZ_CHECK(cut.view() == expected);

  const fuzz::PlainNumber plain = fuzz::ReadPlainNumber(expected);
  const std::uint16_t value = ReadTimerValue(106);
  FUZZ_CHECK(value ==
             (plain.whole ? static_cast<std::uint16_t>(plain.value) : 65535));

  ResetPortTableForTests();
  return 0;
}
