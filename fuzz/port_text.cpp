// SPDX-License-Identifier: MIT
// ReadPortText over arbitrary bytes from the wire, in pieces with pauses
// between them and perhaps an Esc typed meanwhile. Every call must give
// what it consumed (up to its end character, 255 characters at most, cut to
// the maximum asked for) and return soon after the line falls quiet.
#include <algorithm>
#include <string>

#include "console/keyboard.h"
#include "console/screen.h"
#include "fuzz/harness.h"
#include "link/serial_port.h"
#include "platform/fake/fake.h"

namespace {

constexpr PortNumber kPort = 3;
constexpr fake::Micros kMs = 1000;
// A read gives up after 101 empty polls of a 15.625 ms tick (on a clock of
// whole milliseconds); a byte that arrives between polls waits up to 1 ms
// more. A little over that for rounding.
constexpr fake::Micros kQuietBound = 1582 * kMs;

// On the host's first byte the wire carries the scripted pieces, each
// starting no earlier than its pause after the one before.
class Pieces : public fake::SerialEndpoint {
 public:
  struct Piece {
    std::string bytes;
    fake::Micros pause;
  };
  std::vector<Piece> pieces;

  void OnByte(std::uint8_t, fake::Micros at,
              std::vector<Emission>& out) override {
    fake::Micros start = at;
    for (const Piece& p : pieces) {
      start += p.pause;
      out.push_back({p.bytes, start});
    }
    pieces.clear();
  }
};

std::string Received() { return fake::ReceivedText("COM3"); }

// Bytes arrived and not yet read.
std::size_t Queued() {
  std::uint32_t errors = 0;
  plat::COMSTAT status{};
  plat::ClearCommError(PortHandleTable[kPort], &errors, &status);
  return status.cbInQue;
}

// Arrival time of the n-th byte received (0-based).
fake::Micros ArrivalOf(std::size_t n) {
  for (const fake::WireByte& w : fake::WireLog("COM3")) {
    if (!w.toDevice && n-- == 0) return w.at;
  }
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzz::Input in{data, size};
  const std::int32_t maximum = static_cast<std::int32_t>(in.Byte()) * 2 - 20;
  const std::uint8_t end1 = in.Byte();
  const std::uint8_t end2 = in.Byte();
  const std::uint8_t keys = in.Byte();

  static Pieces device;  // the fake holds on to it until its next reset
  device.pieces.clear();
  // Pauses up to 1.8 s: past the read's patience, not much more.
  std::size_t total = 0;
  fake::Micros pauses = 0;
  while (!in.Empty()) {
    const fake::Micros pause = fake::Micros{in.Byte() % 16} * 120 * kMs;
    const std::string_view bytes = in.Take(in.Byte() % 64);
    device.pieces.push_back({std::string(bytes), pause});
    total += bytes.size();
    pauses += pause;
  }

  fake::Reset();
  ResetConsoleStateForTests();
  ResetKeyboardStateForTests();
  ResetPortTableForTests();
  ConsoleSetup();
  fake::BindSerial("COM3", &device);
  FUZZ_CHECK(OpenPort(kPort, 9600, 'E', 8, 1) == 0);
  // Esc (or a letter, which only goes to the key buffer) at some point.
  if (keys != 0) {
    fake::Key(keys & 1 ? "Esc" : "a", fake::Micros{keys} * 4 * kMs);
  }
  std::uint32_t written = 0;
  plat::WriteFile(PortHandleTable[kPort], "\r", 1, &written);

  std::size_t consumed = 0;  // bytes read by the calls so far
  for (std::size_t calls = 0;; ++calls) {
    // One call per byte at worst, one per idle millisecond in between.
    FUZZ_CHECK(calls <=
               3 * total + static_cast<std::size_t>(pauses / kMs) + 1000);
    const fake::Micros before = fake::Now();
    Str255 dest("untouched");
    const std::int32_t n = ReadPortText(kPort, dest, maximum, end1, end2);
    FUZZ_CHECK(n >= -1 && n <= 255);
    if (n < 0) {
      FUZZ_CHECK(AbortRequested());
      break;
    }
    const std::string received = Received();
    const std::size_t readTotal = received.size() - Queued();
    const std::string_view taken =
        std::string_view(received).substr(consumed, readTotal - consumed);
    if (n == 0) {
      FUZZ_CHECK(taken.empty() && fake::Now() == before);
      FUZZ_CHECK(dest == "untouched");
      if (consumed == total) break;
      fake::AdvanceTo(fake::Now() + kMs);
      continue;
    }
    FUZZ_CHECK(!taken.empty());
    FUZZ_CHECK(static_cast<std::size_t>(n) ==
               std::min<std::size_t>(taken.size(), 255));
    // Nothing is read past an end character.
    const std::size_t end =
        taken.find_first_of(std::string{char(end1), char(end2)});
    FUZZ_CHECK(end == std::string_view::npos || end == taken.size() - 1);
    const std::string whole(end == std::string_view::npos
                                ? std::string_view("auxStrIn Error")
                                : taken.substr(0, 255));
    FUZZ_CHECK(dest.view() ==
               std::string_view(whole).substr(
                   0, static_cast<std::size_t>(std::max(maximum, 0))));
    const fake::Micros last = ArrivalOf(readTotal - 1);
    FUZZ_CHECK(fake::Now() - std::max(before, last) <= kQuietBound);
    consumed = readTotal;
  }
  ResetPortTableForTests();
  return 0;
}
