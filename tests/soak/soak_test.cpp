// SPDX-License-Identifier: MIT
// A day of polling in virtual time against the controller model, with line
// faults at random and an operator pressing R, Y, N and T now and then: every
// cycle completes, nothing shown is ever NaN or infinite, memory stays flat,
// and Esc still ends the program with CQ. ZRV_SOAK_HOURS shortens the day.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "monitor/monitor.h"
#include "monitor/state.h"
#include "support/program_runner.h"

namespace {

constexpr fake::Micros kMs = zrvsim::kMillisecond;

long ResidentKb() {
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * 4;
}

bool ShowsNonNumber(const std::string& row) {
  for (const char* bad : {"nan", "NAN", "inf", "INF"}) {
    if (row.find(bad) != std::string::npos) return true;
  }
  return false;
}

TEST(Soak, ADayOfFaultsAndKeys) {
  const char* hours = std::getenv("ZRV_SOAK_HOURS");
  const fake::Micros day = (hours ? std::atol(hours) : 24) * zrvsim::kHour;
  zrvsim::Options model;
  model.unit.seed = 20261209;
  model.faults.rate = 0.03;
  model.faults.randomKinds = {
      zrvsim::FaultKind::kSilence, zrvsim::FaultKind::kLost,
      zrvsim::FaultKind::kLatency, zrvsim::FaultKind::kLate,
      zrvsim::FaultKind::kNoEnd,   zrvsim::FaultKind::kGarbage,
      zrvsim::FaultKind::kError};
  model.jitter = 3 * kMs;
  ProgramRun run(model);
  run.TypePort();
  ASSERT_TRUE(run.Start());

  std::mt19937 rng(7);
  long cycles = 0, baseline = 0;
  fake::Micros silentUntil = -1;
  while (fake::Now() < day) {
    const fake::Micros at = fake::Now();
    switch (rng() % 400) {  // about one action every few minutes
      // The keys after R or T come once the read under way has ended: a
      // silent line holds each read for its whole 0.8 s wait.
      case 0:  // R, then Y or N while the prompt waits
        fake::Type("r", at + kMs);
        fake::Type(rng() % 2 ? "y" : "n", at + 2000 * kMs);
        break;
      case 1:  // the terminal: a command, its reply, back with Esc
        fake::Type("t", at + kMs);
        fake::Type(rng() % 2 ? "RD DM890\r" : "WR DM100 -5\r", at + 2000 * kMs, 2 * kMs);
        fake::Key("Esc", at + 4000 * kMs);
        break;
      case 2:  // the controller goes quiet for up to a minute
        run.Wire().SetSilent(true);
        silentUntil = at + static_cast<fake::Micros>(rng() % 60) * zrvsim::kSecond;
        break;
      default:
        break;
    }
    if (silentUntil >= 0 && at >= silentUntil) {
      run.Wire().SetSilent(false);
      silentUntil = -1;
    }
    const long before = CycleCounter;
    run.Cycle();
    ++cycles;
    ASSERT_NE(CycleCounter, before) << "cycle " << cycles << " did not complete";
    ASSERT_LT(fake::Now() - at, 120 * zrvsim::kSecond) << "cycle " << cycles;
    for (int row = 1; row <= 21; ++row) {
      ASSERT_FALSE(ShowsNonNumber(fake::Row(row)))
          << "cycle " << cycles << " row " << row << ": " << fake::Row(row);
    }
    // What the test itself keeps of the line would grow for ever.
    run.Wire().ClearRequests();
    fake::ClearHistory();
    if (cycles == 2000) baseline = ResidentKb();
    if (std::getenv("ZRV_SOAK_TRACE") && cycles % 20000 == 0) std::printf("%ld %ld\n", cycles, ResidentKb());
  }
  EXPECT_GT(cycles, day / zrvsim::kSecond);  // at least a cycle a second
  if (baseline > 0) {
    EXPECT_LT(ResidentKb() - baseline, 1024) << "resident memory grew";
  }

  run.Wire().SetSilent(false);
  fake::Key("Esc", fake::Now() + kMs);
  run.Cycle();
  ShutdownMonitor();
  ASSERT_FALSE(run.Wire().RequestTexts().empty());
  EXPECT_EQ(run.Wire().RequestTexts().back(), "CQ");
  std::printf("soak: %ld cycles in %.1f virtual hours\n", cycles,
              double(fake::Now()) / double(zrvsim::kHour));
}

}  // namespace
