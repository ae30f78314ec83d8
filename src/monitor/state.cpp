// SPDX-License-Identifier: MIT
#include "monitor/state.h"

// Every variable starts zero or empty; start-up gives them their working
// values before the first polling cycle.
PortNumber ActivePort = 0;
bool Relay7000Error = false;
std::int32_t ControllerVariant = 0;
Str255 CounterLabels[5];
bool EvaporatorSensor = false;
std::int32_t TempSetPoint = 0, RhSetPoint = 0, Co2SetPoint = 0;
std::int32_t DefrostTarget = 0;
std::uint16_t DefrostInterval = 0;
bool OffsetScale = false;
std::uint16_t ControllerRevision = 0;
std::uint16_t SystemNumber = 0;
std::uint16_t MinT106 = 0, MinT107 = 0;
std::uint16_t VentRelay = 0, TempCtlRelay = 0, FloorHtrRelay = 0,
              TempModeRelay = 0;
std::uint16_t MonitorWidth = 0;
std::int32_t CycleCounter = 0;
std::int64_t SampleCount = 0;
std::int64_t TempSum = 0, RhSum = 0;
bool ResetRequested = false;
std::int32_t IndicatorReadCount = 0;
std::int32_t VentPhase = 0, TempCtlPhase = 0, FloorHtrPhase = 0;
Str255 VentState, TempCtlState, FloorHtrState, TempModeState;
CursorPosition SavedCursor;
ReadOutcome CycleReads[kQuantities] = {};
ReadOutcome SetPointReads[kQuantities - kTempSetValue] = {};
std::int64_t TempSamples = 0, RhSamples = 0;
bool PollingStarted = false;
ReadOutcome LastRead = ReadOutcome::kSkipped;
Str255 CounterResetIncomplete;
Str255 LinkStateShown;
bool LinkStateOnScreen = false;
void (*LinkStateChanged)() = nullptr;
void (*BetweenRequests)() = nullptr;

void ResetMonitorStateForTests() {
  ActivePort = 0;
  Relay7000Error = false;
  ControllerVariant = 0;
  for (Str255& label : CounterLabels) label.Clear();
  EvaporatorSensor = false;
  TempSetPoint = RhSetPoint = Co2SetPoint = 0;
  DefrostTarget = 0;
  DefrostInterval = 0;
  OffsetScale = false;
  ControllerRevision = 0;
  SystemNumber = 0;
  MinT106 = MinT107 = 0;
  VentRelay = TempCtlRelay = FloorHtrRelay = TempModeRelay = 0;
  MonitorWidth = 0;
  CycleCounter = 0;
  SampleCount = 0;
  TempSum = RhSum = 0;
  ResetRequested = false;
  IndicatorReadCount = 0;
  VentPhase = TempCtlPhase = FloorHtrPhase = 0;
  VentState.Clear();
  TempCtlState.Clear();
  FloorHtrState.Clear();
  TempModeState.Clear();
  SavedCursor = CursorPosition{};
  for (ReadOutcome& outcome : CycleReads) outcome = ReadOutcome::kSkipped;
  for (ReadOutcome& outcome : SetPointReads) outcome = ReadOutcome::kSkipped;
  TempSamples = RhSamples = 0;
  PollingStarted = false;
  LastRead = ReadOutcome::kSkipped;
  CounterResetIncomplete.Clear();
  LinkStateShown.Clear();
  LinkStateOnScreen = false;
  LinkStateChanged = nullptr;
  BetweenRequests = nullptr;
}
