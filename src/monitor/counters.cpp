#include "monitor/counters.h"

#include <string_view>

#include "console/screen.h"
#include "console/text.h"
#include "link/host_link.h"
#include "monitor/guarded_read.h"
#include "monitor/state.h"

using namespace std::string_view_literals;

namespace {

// The rows of the component counters: the low and high register of each, in
// row order 15 to 19. The labels come from CounterLabels in the same order.
struct CounterRow {
  std::uint16_t LowRegister;
  std::uint16_t HighRegister;
};
constexpr CounterRow kComponentRows[5] = {
    {125, 126}, {119, 120}, {127, 128}, {121, 122}, {131, 132}};

// The order in which the component words are requested.
constexpr std::uint16_t kComponentReadOrder[10] = {119, 120, 121, 122, 125,
                                                   126, 127, 128, 131, 132};

// Cleared by a reset, in this order.
constexpr std::uint16_t kResetRegisters[12] = {117, 118, 119, 120, 121, 122,
                                               125, 126, 127, 128, 131, 132};

constexpr std::uint16_t kSystemNumberRegister = 109;
constexpr std::uint16_t kTotalLow = 117;
constexpr std::uint16_t kTotalHigh = 118;

std::uint16_t Word(std::int32_t value) {
  return static_cast<std::uint16_t>(value);
}

// A 32-bit count from its two words; formed in 64 bits so that the largest,
// 4294967295, needs no care.
std::int64_t CounterValue(std::uint16_t low, std::uint16_t high) {
  return static_cast<std::int64_t>(high) * 65536 + low;
}

}  // namespace

std::uint16_t ReadTimerValue(std::uint16_t timer) {
  Str255 reply;
  ReadTimer(ActivePort, timer, reply);
  bool whole = false;
  const std::int32_t value = ParseNumber(reply.view(), &whole);
  // A failed read must never lower a minimum: it gives the largest value.
  if (!whole) return 65535;
  return Word(value);
}

void CounterReset() {
  Str255 reply;
  for (std::uint16_t reg : kResetRegisters) WriteDM(ActivePort, reg, 0, reply);
  SampleCount = 0;
  TempSum = 0;
  RhSum = 0;
  ResetRequested = false;
  CycleCounter = 0;
}

void PaintCounters() {
  MoveCursor(2, 1);
  SystemNumber = Word(ReadRegister(ActivePort, kSystemNumberRegister, 'w'));
  ConsoleWrite((Str255("System        #") + FormatInt(SystemNumber, 4) +
                "    ComPort "sv + FormatInt(ActivePort))
                   .view());

  // The total is running while we read it: only agreeing pairs count.
  const std::uint16_t totalLow =
      Word(ReadRegisterStable(ActivePort, kTotalLow, 'w'));
  const std::uint16_t totalHigh =
      Word(ReadRegisterStable(ActivePort, kTotalHigh, 'w'));

  // Component words by register number, from DM117 on.
  std::uint16_t words[16] = {};
  for (std::uint16_t reg : kComponentReadOrder) {
    words[reg - kTotalLow] = Word(ReadRegister(ActivePort, reg, 'w'));
  }

  const std::uint16_t t106 = ReadTimerValue(106);
  const std::uint16_t t107 = ReadTimerValue(107);
  if (t106 < MinT106) MinT106 = t106;
  if (t107 < MinT107) MinT107 = t107;

  const std::int64_t totalSeconds = CounterValue(totalLow, totalHigh);
  MoveCursor(2, 14);
  ConsoleWrite(
      (Str255("tTotal      ") + FormatInt(totalSeconds, 7) + " s  /  "sv +
       FormatFixed(static_cast<double>(totalSeconds) / 3600.0, 6, 1) + " h"sv)
          .view());

  for (int r = 0; r < 5; ++r) {
    const std::int64_t v =
        CounterValue(words[kComponentRows[r].LowRegister - kTotalLow],
                     words[kComponentRows[r].HighRegister - kTotalLow]);
    MoveCursor(2, 15 + r);
    Str255 line = Str255("t") + CounterLabels[r] + FormatInt(v, 7);
    if (totalSeconds >= 1) {
      const double share =
          static_cast<double>(v) * 100.0 / static_cast<double>(totalSeconds);
      line = line + " s  / "sv + FormatFixed(share, 7, 1) + " % "sv;
    } else {
      line = line + " s  /     0.0 % "sv;
    }
    ConsoleWrite(line.view());
  }

  if (ResetRequested) CounterReset();

  MoveCursor(2, 20);
  ConsoleWrite((Str255("t106          ") + FormatInt(MinT106, 5)).view());
  MoveCursor(23, CursorRow());
  ConsoleWrite((Str255("t107 ") + FormatInt(MinT107, 5)).view());
}
