// SPDX-License-Identifier: MIT
#include "monitor/state.h"

#include <gtest/gtest.h>

#include <type_traits>

// The shared variables keep the widths the registers and counters need.
static_assert(std::is_same_v<decltype(ActivePort), std::int32_t>);
static_assert(std::is_same_v<decltype(SystemNumber), std::uint16_t>);
static_assert(std::is_same_v<decltype(DefrostInterval), std::uint16_t>);
static_assert(std::is_same_v<decltype(VentRelay), std::uint16_t>);
static_assert(std::is_same_v<decltype(SampleCount), std::int64_t>);
static_assert(std::is_same_v<decltype(TempSum), std::int64_t>);
static_assert(std::is_same_v<decltype(IndicatorReadCount), std::int32_t>);
static_assert(std::is_same_v<decltype(SavedCursor.Column), std::uint16_t>);

namespace {

void ExpectProgramStartValues() {
  EXPECT_EQ(ActivePort, 0);
  EXPECT_FALSE(Relay7000Error);
  EXPECT_EQ(ControllerVariant, 0);
  for (const Str255& label : CounterLabels) EXPECT_TRUE(label.empty());
  EXPECT_FALSE(EvaporatorSensor);
  EXPECT_EQ(TempSetPoint, 0);
  EXPECT_EQ(RhSetPoint, 0);
  EXPECT_EQ(Co2SetPoint, 0);
  EXPECT_EQ(DefrostTarget, 0);
  EXPECT_EQ(DefrostInterval, 0);
  EXPECT_FALSE(OffsetScale);
  EXPECT_EQ(ControllerRevision, 0);
  EXPECT_EQ(SystemNumber, 0);
  EXPECT_EQ(MinT106, 0);
  EXPECT_EQ(MinT107, 0);
  EXPECT_EQ(VentRelay, 0);
  EXPECT_EQ(TempCtlRelay, 0);
  EXPECT_EQ(FloorHtrRelay, 0);
  EXPECT_EQ(TempModeRelay, 0);
  EXPECT_EQ(MonitorWidth, 0);
  EXPECT_EQ(CycleCounter, 0);
  EXPECT_EQ(SampleCount, 0);
  EXPECT_EQ(TempSum, 0);
  EXPECT_EQ(RhSum, 0);
  EXPECT_FALSE(ResetRequested);
  EXPECT_EQ(IndicatorReadCount, 0);
  EXPECT_EQ(VentPhase, 0);
  EXPECT_EQ(TempCtlPhase, 0);
  EXPECT_EQ(FloorHtrPhase, 0);
  EXPECT_TRUE(VentState.empty());
  EXPECT_TRUE(TempCtlState.empty());
  EXPECT_TRUE(FloorHtrState.empty());
  EXPECT_TRUE(TempModeState.empty());
  EXPECT_EQ(SavedCursor.Column, 0);
  EXPECT_EQ(SavedCursor.Row, 0);
  EXPECT_EQ(LastRead, ReadOutcome::kSkipped);
  EXPECT_TRUE(CounterResetIncomplete.empty());
  EXPECT_TRUE(LinkStateShown.empty());
  EXPECT_FALSE(LinkStateOnScreen);
  EXPECT_EQ(LinkStateChanged, nullptr);
}

TEST(MonitorState, ResetForTestsPutsEveryVariableBack) {
  ActivePort = 3;
  Relay7000Error = EvaporatorSensor = OffsetScale = ResetRequested = true;
  ControllerVariant = 9;
  for (Str255& label : CounterLabels) label = "_Heater    ";
  TempSetPoint = RhSetPoint = Co2SetPoint = DefrostTarget = -1;
  DefrostInterval = ControllerRevision = SystemNumber = 7;
  MinT106 = MinT107 = MonitorWidth = 49;
  VentRelay = TempCtlRelay = FloorHtrRelay = TempModeRelay = 604;
  CycleCounter = IndicatorReadCount = 51;
  SampleCount = TempSum = RhSum = -5'000'000'000;
  VentPhase = TempCtlPhase = FloorHtrPhase = 4;
  VentState = TempCtlState = FloorHtrState = TempModeState = "1";
  SavedCursor = {30, 5};
  LastRead = ReadOutcome::kFailed;
  CounterResetIncomplete = LinkStateShown = "Counter reset at 10:00:00";
  LinkStateOnScreen = true;
  LinkStateChanged = [] {};

  ResetMonitorStateForTests();
  ExpectProgramStartValues();
}

}  // namespace
