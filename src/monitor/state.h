// SPDX-License-Identifier: MIT
// The monitor's shared variables: what start-up learned about the
// controller, the cycle's counters and sums, the reset request and the
// indicators' last replies, phases and saved cursor.
#pragma once

#include <cstdint>

#include "console/str255.h"
#include "link/serial_port.h"

struct CursorPosition {
  std::uint16_t Column = 0;
  std::uint16_t Row = 0;
};

extern PortNumber ActivePort;
extern bool Relay7000Error;
extern std::int32_t ControllerVariant;
extern Str255 CounterLabels[5];
extern bool EvaporatorSensor;
extern std::int32_t TempSetPoint, RhSetPoint, Co2SetPoint;
extern std::int32_t DefrostTarget;
extern std::uint16_t DefrostInterval;
extern bool OffsetScale;
extern std::uint16_t ControllerRevision;
extern std::uint16_t SystemNumber;
extern std::uint16_t MinT106, MinT107;
extern std::uint16_t VentRelay, TempCtlRelay, FloorHtrRelay, TempModeRelay;
extern std::uint16_t MonitorWidth;
extern std::int32_t CycleCounter;
extern std::int64_t SampleCount;
extern std::int64_t TempSum, RhSum;
extern bool ResetRequested;
extern std::int32_t IndicatorReadCount;
extern std::int32_t VentPhase, TempCtlPhase, FloorHtrPhase;
extern Str255 VentState, TempCtlState, FloorHtrState, TempModeState;
extern CursorPosition SavedCursor;

// What became of a value's read: a usable reply, not made (Esc, a counter
// reset under way, or not due in this cycle), or no usable reply.
enum class ReadOutcome : std::uint8_t { kSkipped, kRead, kFailed };
// The values shown, each with the outcome of its read.
enum Quantity : std::uint8_t {
  kSystemValue, kTempValue, kRhValue, kCo2Value, kEvapValue, kDefrostValue,
  kVentValue, kTempCtlValue, kFloorHtrValue, kTempModeValue, kTotalValue,
  kComponentValue,  // five of them, in row order 15 to 19
  kT106Value = kComponentValue + 5, kT107Value,
  // The set points, read at start-up and every tenth cycle: their last read.
  kTempSetValue, kRhSetValue, kCo2SetValue,
  kQuantities
};
// The reads of the cycle under way or just ended (for the set points: of
// the values the rows show).
extern ReadOutcome CycleReads[kQuantities];
// The set points' last reads, in Quantity order. A set point read at a
// cycle's end is painted only in the next cycle, and counts from then: the
// row it ends shows the value before it.
extern ReadOutcome SetPointReads[kQuantities - kTempSetValue];
// The answered temperature and humidity reads in TempSum and RhSum.
extern std::int64_t TempSamples, RhSamples;
// Start-up is over: the hot keys act from the polling cycle's first read.
extern bool PollingStarted;
// The outcome of the last ReadRegister or ReadRegisterStable.
extern ReadOutcome LastRead;
// A counter reset that was not completed, for row 22 while the link has
// nothing worse to tell; cleared by the next reset that completes.
extern Str255 CounterResetIncomplete;
// Row 22 as last written, and whether it still stands (a cleared screen
// took it away).
extern Str255 LinkStateShown;
extern bool LinkStateOnScreen;
// Called as row 22's text changes, between cycles' ends too (set by the
// program entry through RunMonitor; null: nobody asks).
extern void (*LinkStateChanged)();
// Called between two requests of polling, where the hot keys are acted on
// and never while the reset prompt or the terminal is open: a request of
// the program entry's own may go there (null: none).
extern void (*BetweenRequests)();

// Tests only: every variable back to its program-start (zero or empty) value.
void ResetMonitorStateForTests();
