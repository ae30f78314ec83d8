// SPDX-License-Identifier: MIT
// The metrics file's text for known cycles, against the files beside this
// one. ZRV_UPDATE_GOLDEN=1 writes them anew from what the code gives.
#include "record/metrics.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "monitor/state.h"
#include "record/record.h"

namespace {

// A cycle whose values were all read and shown, in the log's column order.
CycleSnapshot LiveCycle() {
  const std::vector<std::string> texts = {
      "12",   "22.50", "22.50", "22.50", "50.00", "50.00", "50.00",
      "0.40", "0.30",  "20.00", "2.00",  "h",     "10.00", "1",
      "0",    "1",     "1",     "7200",  "3600",  "0",     "0",
      "0",    "1",     "12",    "345"};
  CycleSnapshot shot{};
  for (std::size_t i = 0; i < shot.size(); ++i) {
    shot[i] = {texts[i], ReadOutcome::kRead};
  }
  return shot;
}

// The version in zrv_info stands as @VERSION@ in the files.
std::string Versionless(std::string text) {
  const std::string version = ZRV_VERSION;
  for (std::size_t at = 0;
       (at = text.find(version, at)) != std::string::npos;) {
    text.replace(at, version.size(), "@VERSION@");
  }
  return text;
}

void ExpectGolden(const std::string& name, const std::string& text) {
  const std::string path = std::string(ZRV_RECORD_GOLDEN) + "/" + name;
  if (std::getenv("ZRV_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(path, std::ios::binary) << Versionless(text);
  }
  std::ifstream in(path, std::ios::binary);
  std::stringstream expected;
  expected << in.rdbuf();
  EXPECT_EQ(Versionless(text), expected.str()) << path;
}

class MetricsGolden : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetMonitorStateForTests();
    ResetMetricsForTests();
    ActivePort = 3;
    ControllerVariant = 9;
    ControllerRevision = 7123;
  }
  void TearDown() override {
    ResetMetricsForTests();
    ResetMonitorStateForTests();
  }
};

TEST_F(MetricsGolden, LiveCycle) {
  ExpectGolden("live_cycle.prom",
               MetricsText(LiveCycle(), true, {120, 1, 0}, 1, 1767225600.25));
}

// After a live cycle, one whose requests went unanswered: the readings'
// series go, the counters page (not due this cycle) stays as last read.
TEST_F(MetricsGolden, DeadLine) {
  MetricsText(LiveCycle(), true, {120, 1, 0}, 1, 1767225600.25);
  CycleSnapshot shot{};
  for (std::size_t i = kTempColumn; i < kCounterColumn; ++i) {
    shot[i].outcome = ReadOutcome::kFailed;
  }
  ExpectGolden("dead_line.prom",
               MetricsText(shot, false, {150, 31, 0}, 2, 1767225603.5));
}

}  // namespace
