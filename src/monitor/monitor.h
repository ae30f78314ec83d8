// Start-up with controller identification, then the polling cycle until
// Esc, then the shutdown. Returns the program's exit code.
#pragma once

#include "console/str255.h"

// What the program entry has done at the edges of polling: once start-up
// is over, and after every cycle (the log, the metrics). Either may be null.
struct MonitorHooks {
  void (*Started)() = nullptr;
  void (*CycleEnded)() = nullptr;
};
int RunMonitor(const MonitorHooks& hooks = {});
// The start-up sequence alone (through the title); false when the port entry
// was not a decimal integer.
bool StartMonitor();
// One polling cycle.
void PollingCycle();
// Disconnect, close the port.
void ShutdownMonitor();
void PrintClearedLine(const Str255& text);
