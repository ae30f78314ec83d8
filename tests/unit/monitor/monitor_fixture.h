// SPDX-License-Identifier: MIT
// A fresh machine with the monitor's shared state as a started monitor
// leaves it: COM3 active, relay numbers known, indicators at their first
// frames. Shared by the monitor tests.
#pragma once

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
    VentRelay = 512;
    TempCtlRelay = 513;
    FloorHtrRelay = 514;
    TempModeRelay = 515;
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
