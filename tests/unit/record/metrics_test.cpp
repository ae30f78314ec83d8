// SPDX-License-Identifier: MIT
// The metrics file's text for known cycles, against the files beside this
// one (ZRV_UPDATE_GOLDEN=1 writes them anew); the version stands there as
// @VERSION@.
#include "record/metrics.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "monitor/state.h"
#include "record/control.h"

namespace {

void ExpectGolden(const std::string& name, const std::string& text) {
  const std::string path = std::string(ZRV_RECORD_GOLDEN) + "/" + name;
  const std::string shown = std::regex_replace(
      text, std::regex("version=\"" ZRV_VERSION "\""), "version=\"@VERSION@\"");
  if (std::getenv("ZRV_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(path, std::ios::binary) << shown;
  }
  std::stringstream expected;
  expected << std::ifstream(path, std::ios::binary).rdbuf();
  EXPECT_EQ(shown, expected.str()) << path;
}

// Every value of the cycle read and shown, in the log's column order.
std::string LiveCycle() {
  const char* const texts[kSnapshotColumns] = {
      "12",   "22.50", "22.50", "22.50", "50.00", "50.00", "50.00",
      "0.40", "0.30",  "20.00", "2.00",  "h",     "10.00", "1",
      "0",    "1",     "1",     "7200",  "3600",  "0",     "0",
      "0",    "1",     "12",    "345"};
  CycleSnapshot shot{};
  for (std::size_t i = 0; i < shot.size(); ++i) {
    shot[i] = {texts[i], ReadOutcome::kRead};
  }
  ResetMetricsForTests();
  ResetMonitorStateForTests();
  ActivePort = 3;
  ControllerVariant = 9;
  ControllerRevision = 7123;
  return MetricsText(shot, true, {120, 1, 0}, 1, 1767225600.25);
}

TEST(MetricsGolden, LiveCycle) { ExpectGolden("live_cycle.prom", LiveCycle()); }

// After a live cycle, one whose requests went unanswered: the readings'
// series go, the counters page (not due this cycle) stays as last read.
TEST(MetricsGolden, DeadLine) {
  LiveCycle();
  CycleSnapshot shot{};
  for (std::size_t i = kTempColumn; i < kCounterColumn; ++i) {
    shot[i].outcome = ReadOutcome::kFailed;
  }
  ExpectGolden("dead_line.prom",
               MetricsText(shot, false, {150, 31, 0}, 2, 1767225603.5));
  ResetMetricsForTests();
  ResetMonitorStateForTests();
}

// With --mqtt-control, the commands by set point and outcome, zeros too.
TEST(MetricsGolden, SetPointWrites) {
  std::string why;
  ASSERT_TRUE(SetPointControlOpen(nullptr, why)) << why;
  CountSetPoint(kTempSetPoint, kWriteOk);
  CountSetPoint(kTempSetPoint, kWriteRefused);
  CountSetPoint(kCo2SetPoint, kWriteFailed);
  std::istringstream text(LiveCycle());
  std::string family;
  for (std::string line; std::getline(text, line);) {
    if (line.find("zrv_setpoint_writes_total") != std::string::npos) family += line + "\n";
  }
  ExpectGolden("setpoint_writes.prom", family);
  ResetSetPointControlForTests();
  ResetMetricsForTests();
  ResetMonitorStateForTests();
}

}  // namespace
