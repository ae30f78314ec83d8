// Start-up with controller identification, then the polling cycle until
// Esc, then the shutdown. Returns the program's exit code.
#pragma once

#include "console/str255.h"

int RunMonitor();
// The start-up sequence alone (through the title); false when the port entry
// was not a decimal integer.
bool StartMonitor();
// One polling cycle.
void PollingCycle();
// Disconnect, close the port.
void ShutdownMonitor();
void PrintClearedLine(const Str255& text);
