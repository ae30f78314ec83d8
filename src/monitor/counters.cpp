// SPDX-License-Identifier: MIT
#include "monitor/counters.h"

#include <ctime>
#include <string_view>

#include "console/screen.h"
#include "console/text.h"
#include "link/host_link.h"
#include "monitor/guarded_read.h"
#include "monitor/link_state.h"
#include "monitor/rows.h"
#include "monitor/state.h"

using namespace std::string_view_literals;

namespace {

// The rows of the component counters: the low and high register of each, in
// row order 15 to 19. The labels come from CounterLabels in the same order.
struct CounterRow {
  std::uint16_t LowRegister;
  std::uint16_t HighRegister;
};
constexpr CounterRow kComponentRows[kComponentCount] = {
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
  // A reset is done or not claimed: a write refused for stale input (read
  // away by then) goes out once more, and one that still gets no good reply
  // leaves the averages as they were, the failure told on row 22.
  std::uint16_t failed = 0;
  for (std::uint16_t reg : kResetRegisters) {
    Str255 reply;
    WriteDM(ActivePort, reg, 0, reply);
    if (reply == kStaleInputReply) WriteDM(ActivePort, reg, 0, reply);
    const bool done = LastReplyOutcome == ReplyOutcome::kAnswered &&
                      !reply.empty() && reply[0] != 'E';
    if (!done && failed == 0) failed = reg;
  }
  ResetRequested = false;
  if (failed != 0) {
    CounterResetIncomplete = Str255("Counter reset at ") +
                             std::string_view(ClockTime(std::time(nullptr))) +
                             " not completed (DM"sv + FormatInt(failed) +
                             " not written)"sv;
    return;
  }
  CounterResetIncomplete.Clear();
  SampleCount = 0;
  TempSum = 0;
  RhSum = 0;
  TempSamples = 0;
  RhSamples = 0;
  CycleCounter = 0;
}

void PaintCounters() {
  // A row whose reads were not made (Esc, a reset under way) stays as the
  // last block painted it; one that got no reply shows the fall-back.
  MoveToLine(kSystemLine);
  const std::int32_t system = ReadRegister(ActivePort, kSystemNumberRegister, 'w');
  CycleReads[kSystemValue] = LastRead;
  if (LastRead != ReadOutcome::kSkipped) {
    SystemNumber = Word(system);
    ConsoleWrite((Str255(kSystemLine.Label) + FormatInt(SystemNumber, 4) +
                  kComPortLabel + FormatInt(ActivePort))
                     .view());
  }

  // The total is running while we read it: only agreeing pairs count.
  const std::uint16_t totalLow =
      Word(ReadRegisterStable(ActivePort, kTotalLow, 'w'));
  ReadOutcome total = LastRead;
  const std::uint16_t totalHigh =
      Word(ReadRegisterStable(ActivePort, kTotalHigh, 'w'));
  total = Worse(total, LastRead);
  CycleReads[kTotalValue] = total;

  // Component words by register number, from DM117 on, with their reads.
  std::uint16_t words[16] = {};
  ReadOutcome reads[16] = {};
  for (std::uint16_t reg : kComponentReadOrder) {
    words[reg - kTotalLow] = Word(ReadRegister(ActivePort, reg, 'w'));
    reads[reg - kTotalLow] = LastRead;
  }

  const std::uint16_t t106 = ReadTimerValue(106);
  CycleReads[kT106Value] = LastLinkRead();
  const std::uint16_t t107 = ReadTimerValue(107);
  CycleReads[kT107Value] = LastLinkRead();
  if (t106 < MinT106) MinT106 = t106;
  if (t107 < MinT107) MinT107 = t107;

  const std::int64_t totalSeconds = CounterValue(totalLow, totalHigh);
  if (total != ReadOutcome::kSkipped) {
    MoveToLine(kTotalLine);
    PrintClearedLine(
        Str255(kTotalLine.Label) + FormatInt(totalSeconds, 7) + " s  /  "sv +
        FormatFixed(static_cast<double>(totalSeconds) / 3600.0, 6, 1) + " h"sv);
  }

  for (int r = 0; r < kComponentCount; ++r) {
    const CounterRow& rowRegisters = kComponentRows[r];
    const ReadOutcome read = Worse(reads[rowRegisters.LowRegister - kTotalLow],
                                   reads[rowRegisters.HighRegister - kTotalLow]);
    CycleReads[kComponentValue + r] = read;
    if (Worse(read, total) == ReadOutcome::kSkipped) continue;
    const std::int64_t v =
        CounterValue(words[rowRegisters.LowRegister - kTotalLow],
                     words[rowRegisters.HighRegister - kTotalLow]);
    MoveCursor(kComponentLine.Column, kComponentLine.Row + r);
    Str255 line = ComponentLabel(r) + FormatInt(v, 7);
    if (totalSeconds >= 1) {
      const double share =
          static_cast<double>(v) * 100.0 / static_cast<double>(totalSeconds);
      line = line + " s  / "sv + FormatFixed(share, 7, 1) + " % "sv;
    } else {
      line = line + " s  /     0.0 % "sv;
    }
    PrintClearedLine(line);
  }

  if (ResetRequested) CounterReset();

  if (CycleReads[kT106Value] == ReadOutcome::kSkipped ||
      CycleReads[kT107Value] == ReadOutcome::kSkipped) {
    return;
  }
  MoveToLine(kT106Field);
  PrintClearedLine(Str255(kT106Field.Label) + FormatInt(MinT106, 5));
  MoveCursor(kT107Field.Column, CursorRow());
  ConsoleWrite((Str255(kT107Field.Label) + FormatInt(MinT107, 5)).view());
}
