// SPDX-License-Identifier: MIT
// How long a polling cycle takes in virtual time at 9600 baud against the
// model, next to what the wire itself needs for the cycle's exchanges.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "scenario.h"

namespace {

TEST(Timing, CyclePeriodAgainstWhatTheWireNeeds) {
  zrvsim::Options options;
  options.unit.noise = 0;
  ProgramRun run(options);
  run.TypePort();
  ASSERT_TRUE(run.Start());

  const fake::Micros charTime = fake::CharTime("COM3");  // 11 bits at 9600
  ASSERT_GT(charTime, 0);
  constexpr int kCycles = 20;
  constexpr fake::Micros kTempModePause = 100 * scenario::kMs;

  const std::size_t firstRequest = run.Wire().Requests().size();
  const fake::Micros start = fake::Now();
  for (int i = 0; i < kCycles; ++i) run.Cycle();
  const fake::Micros elapsed = fake::Now() - start;

  const auto& requests = run.Wire().Requests();
  const auto& responses = run.Wire().Responses();
  ASSERT_EQ(requests.size(), responses.size());
  fake::Micros wire = 0;
  int guardedReads = 0;  // every 52nd redraws TempMode, with its pause
  for (std::size_t i = firstRequest; i < requests.size(); ++i) {
    const std::string& text = requests[i].text;
    if (text.rfind("RD DM", 0) == 0 && text != "RD DM87" && text != "RD DM88") {
      ++guardedReads;
    }
    wire += static_cast<fake::Micros>(requests[i].text.size() + 1) * charTime;
    if (responses[i].sent) {
      wire += responses[i].delay +
              static_cast<fake::Micros>(responses[i].bytes.size()) * charTime;
    }
  }
  const fake::Micros need = wire + kCycles * kTempModePause;
  const double ratio = static_cast<double>(elapsed) / static_cast<double>(need);
  std::printf(
      "[ timing   ] %d cycles, %zu requests: %.1f ms per cycle in virtual "
      "time, wire %.1f ms + TempMode pause 100 ms = %.1f ms needed; "
      "ratio %.3f (%d guarded reads: about %d extra TempMode pauses)\n",
      kCycles, requests.size() - firstRequest,
      static_cast<double>(elapsed) / kCycles / 1000.0,
      static_cast<double>(wire) / kCycles / 1000.0,
      static_cast<double>(need) / kCycles / 1000.0, ratio, guardedReads,
      guardedReads / 52);
  RecordProperty("CycleToWireRatio", std::to_string(ratio));
  // A loose bound: the cycle can never beat the wire, and the polling
  // overhead per exchange is a few milliseconds at most.
  EXPECT_GE(ratio, 1.0);
  EXPECT_LT(ratio, 2.0);
}

}  // namespace
