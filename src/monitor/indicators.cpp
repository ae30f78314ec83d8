// SPDX-License-Identifier: MIT
#include "monitor/indicators.h"

#include <cstdint>
#include <string_view>

#include "console/keyboard.h"
#include "console/screen.h"
#include "console/text.h"
#include "link/host_link.h"
#include "monitor/link_state.h"
#include "monitor/rows.h"
#include "monitor/state.h"

namespace {

// Frame n of an animation is the byte at index n - 1; phase 0 has no frame.
constexpr std::string_view kVentFrames = "\x5C\x7C\x2F\x2D";
constexpr std::string_view kTempCtlFrames =
    "\x20\xB0\xB1\xB2\xDB\xB2\xB1\xB0\x20";
constexpr std::string_view kFloorHtrFrames = "\x20\x2E\x1E\xDB\x1E\x2E";

constexpr char kOffMark = '\x2D';

void SaveCursor() {
  SavedCursor.Column = static_cast<std::uint16_t>(CursorColumn());
  SavedCursor.Row = static_cast<std::uint16_t>(CursorRow());
}

void RestoreCursor() { MoveCursor(SavedCursor.Column, SavedCursor.Row); }

// Label, relay number and the opening of the state field, from column 2.
void WriteIndicatorHead(const IndicatorRow& row, std::uint16_t relay) {
  MoveToLine(row.Line);
  Str255 head(row.Line.Label);
  head += FormatInt(relay).view();
  head += ") ";
  ConsoleWrite(head.view());
}

// Reads the relay when asked to; false when that read was not made (Esc),
// and the indicator then stays as last drawn. A reply other than 1 or 0
// is no reading of the relay.
bool ReadIndicatorRelay(bool reading, std::uint16_t relay, Str255& state,
                        Quantity quantity) {
  if (!reading) return true;
  ReadRelay(ActivePort, relay, state);
  ReadOutcome outcome = LastLinkRead();
  if (outcome == ReadOutcome::kRead && !(state == "1") && !(state == "0")) {
    outcome = ReadOutcome::kFailed;
  }
  CycleReads[quantity] = outcome;
  ShowLinkState();
  return outcome != ReadOutcome::kSkipped;
}

// One drawing of an animated indicator: off resets the animation so that it
// restarts from its first frame; on shows the current frame and advances.
void WriteAnimatedState(const Str255& state, std::string_view frames,
                        std::int32_t& phase) {
  if (!RelayOn(state)) {
    phase = 1;
    ConsoleWrite(kOffMark);
    return;
  }
  const auto last = static_cast<std::int32_t>(frames.size());
  if (phase >= 1 && phase <= last) {
    ConsoleWrite(frames[static_cast<std::size_t>(phase - 1)]);
    if (phase == last) phase = 0;
  }
  ++phase;
}

void ShowAnimated(bool reading, const IndicatorRow& row, std::uint16_t relay,
                  Str255& state, std::string_view frames, std::int32_t& phase,
                  Quantity quantity) {
  SaveCursor();
  WriteIndicatorHead(row, relay);
  if (ReadIndicatorRelay(reading, relay, state, quantity)) {
    WriteAnimatedState(state, frames, phase);
  }
  RestoreCursor();
}

}  // namespace

bool RelayOn(const Str255& reply) { return reply == "1"; }

void ShowVent(bool reading) {
  ShowAnimated(reading, kVentRow, VentRelay, VentState, kVentFrames, VentPhase,
               kVentValue);
}

void ShowTempCtl(bool reading) {
  ShowAnimated(reading, kTempCtlRow, TempCtlRelay, TempCtlState, kTempCtlFrames,
               TempCtlPhase, kTempCtlValue);
}

void ShowFloorHtr(bool reading) {
  ShowAnimated(reading, kFloorHtrRow, FloorHtrRelay, FloorHtrState,
               kFloorHtrFrames, FloorHtrPhase, kFloorHtrValue);
}

void ShowTempMode(bool reading) {
  SaveCursor();
  // Paces the polling cycle; Esc cuts it short.
  WaitTenths(1);
  WriteIndicatorHead(kTempModeRow, TempModeRelay);
  if (ReadIndicatorRelay(reading, TempModeRelay, TempModeState,
                         kTempModeValue)) {
    ConsoleWrite(RelayOn(TempModeState) ? 'C' : 'H');
  }
  RestoreCursor();
}
