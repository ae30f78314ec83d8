// SPDX-License-Identifier: MIT
// A fresh machine with the monitor's shared state as a started monitor
// leaves it: COM3 active, relay numbers known, indicators at their first
// frames. Shared by the monitor tests.
#pragma once

#include "monitor/rows.h"
#include "monitor/state.h"
#include "support/scripted_wire.h"

namespace monitor_fixture {

class MonitorTest : public scripted_wire::MachineTest {
 protected:
  void SetUp() override {
    StartMachine();
    ResetMonitorStateForTests();
    ActivePort = kPort;
    PollingStarted = true;
    VentRelay = kVentRow.Relay;
    TempCtlRelay = kTempCtlRow.Relay;
    FloorHtrRelay = kFloorHtrRow.Relay;
    TempModeRelay = kTempModeRow.Relay;
    VentPhase = 1;
    TempCtlPhase = 0;
    FloorHtrPhase = 1;
  }

  void TearDown() override {
    ResetMonitorStateForTests();
    MachineTest::TearDown();
  }
};

}  // namespace monitor_fixture
