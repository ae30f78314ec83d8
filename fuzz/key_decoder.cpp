// SPDX-License-Identifier: MIT
// The POSIX terminal-input decoder over arbitrary byte streams, fed in
// chunks as reads deliver them, time running on between them. Every key
// comes as a press and its release, what waits for more input stays short,
// and once the escape time-out passes nothing waits at all.
#include <vector>

#include "fuzz/harness.h"
#include "platform/posix/posix_internal.h"

namespace {

using plat::posix::InputBytes;
using plat::posix::KeyDecoder;

// The longest key sequence the decoder waits for; anything longer is noise
// it drops.
constexpr std::size_t kLongestHeld = 64;

constexpr std::uint32_t kStates = plat::SHIFT_PRESSED | plat::LEFT_ALT_PRESSED |
                                  plat::LEFT_CTRL_PRESSED | plat::ENHANCED_KEY;

void CheckRecords(const std::vector<plat::INPUT_RECORD>& out) {
  FUZZ_CHECK(out.size() % 2 == 0);
  for (std::size_t i = 0; i < out.size(); i += 2) {
    const plat::KEY_EVENT_RECORD& down = out[i].KeyEvent;
    const plat::KEY_EVENT_RECORD& up = out[i + 1].KeyEvent;
    FUZZ_CHECK(out[i].EventType == plat::KEY_EVENT &&
               out[i + 1].EventType == plat::KEY_EVENT);
    FUZZ_CHECK(down.bKeyDown == 1 && up.bKeyDown == 0);
    FUZZ_CHECK(down.wRepeatCount == 1 && up.wRepeatCount == 1);
    FUZZ_CHECK(down.wVirtualKeyCode != 0 && down.wVirtualKeyCode < 0x100);
    FUZZ_CHECK((down.dwControlKeyState & ~kStates) == 0);
    FUZZ_CHECK(up.wVirtualKeyCode == down.wVirtualKeyCode &&
               up.AsciiChar == down.AsciiChar &&
               up.dwControlKeyState == down.dwControlKeyState);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzz::Input in{data, size};
  KeyDecoder decoder;
  static constexpr InputBytes kModes[] = {
      InputBytes::kUtf8, InputBytes::kLatin1, InputBytes::kDrop};
  decoder.SetInputBytes(kModes[in.Byte() % 3]);

  std::int64_t now = 1000;
  std::vector<plat::INPUT_RECORD> out;
  while (!in.Empty()) {
    // Low bits: milliseconds since the last read; top bit: decode now.
    const std::uint8_t how = in.Byte();
    now += how & 0x3F;
    const std::string_view chunk = in.Take(in.Byte() % 32);
    decoder.Feed(reinterpret_cast<const std::uint8_t*>(chunk.data()),
                 chunk.size(), now);
    if (how & 0x80) {
      out.clear();
      decoder.Decode(now, out);
      CheckRecords(out);
      FUZZ_CHECK(decoder.PendingBytes() < kLongestHeld);
    }
    const int wait = decoder.PendingTimeoutMs(now);
    FUZZ_CHECK(decoder.Empty()
                   ? wait == -1
                   : wait >= 0 && wait <= plat::posix::kEscTimeoutMs);
  }
  now += plat::posix::kEscTimeoutMs;
  out.clear();
  decoder.Decode(now, out);
  CheckRecords(out);
  FUZZ_CHECK(decoder.Empty());
  return 0;
}
