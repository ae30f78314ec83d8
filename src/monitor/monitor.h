// SPDX-License-Identifier: MIT
// Start-up with controller identification, then the polling cycle until
// Esc, then the shutdown. Returns the program's exit code.
#pragma once

#include <cstdint>

// What the program entry asks of a run: the port when it was given on the
// command line (0: the prompt asks), and what it does at the edges of
// polling, once start-up is over and after every cycle (the log, the
// metrics). Either call may be null.
struct MonitorRun {
  std::int32_t Port = 0;
  void (*Started)() = nullptr;
  void (*CycleEnded)() = nullptr;
  // When row 22's text changes (readings stop or come again).
  void (*LinkStateChanged)() = nullptr;
  // Between two requests of polling (see BetweenRequests).
  void (*BetweenRequests)() = nullptr;
};
int RunMonitor(const MonitorRun& run = {});
// The start-up sequence alone (through the title); false when the port entry
// was not a decimal integer. A port above 0 is taken without the prompt.
bool StartMonitor(std::int32_t port = 0);
// One polling cycle.
void PollingCycle();
// Disconnect, close the port.
void ShutdownMonitor();
