// SPDX-License-Identifier: MIT
#include "monitor/guarded_read.h"

#include <cstdint>
#include <string_view>

#include "console/keyboard.h"
#include "console/screen.h"
#include "console/text.h"
#include "link/host_link.h"
#include "monitor/indicators.h"
#include "monitor/link_state.h"
#include "monitor/rows.h"
#include "monitor/state.h"
#include "terminal/terminal.h"

namespace {

// The three slower indicators are redrawn once per this many guarded reads.
constexpr std::int32_t kIndicatorRedrawAfter = 50;

constexpr std::uint16_t kSystemNumberRegister = 109;
constexpr std::string_view kPromptErase = "                       ";  // 23

char UpperCase(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Hot keys count in either case.
bool HasKey(std::string_view keys, char upper) {
  for (char c : keys) {
    if (UpperCase(c) == upper) return true;
  }
  return false;
}

// Data-memory words are 16 bits; kind 'i' reads them as two's complement.
std::int32_t ConvertWord(const Str255& reply, char kind) {
  std::int32_t value = ParseNumber(reply.view());
  if (kind == 'i' && value >= 32768) value -= 65536;
  return value;
}

void RunResetPrompt(PortNumber port) {
  ResetKeyboard();
  SavedCursor.Column = static_cast<std::uint16_t>(CursorColumn());
  SavedCursor.Row = static_cast<std::uint16_t>(CursorRow());
  MoveToLine(kResetPromptLine);
  ConsoleWrite(kResetPromptLine.Label);

  // Polling stands still until the operator answers; anything but Y is no.
  if (UpperCase(static_cast<char>(ReadKeyCode())) == 'Y') {
    ResetRequested = true;
  }

  MoveToLine(kResetPromptLine);
  ConsoleWrite(kPromptErase);
  MoveCursor(SavedCursor.Column, SavedCursor.Row);
  ResetKeyboard();

  // Unguarded on purpose: a Y just answered must not keep this read back.
  Str255 reply;
  ReadDM(port, kSystemNumberRegister, reply);
  SystemNumber = static_cast<std::uint16_t>(ParseNumber(reply.view()));
}

void RedrawIndicators() {
  ShowVent(false);
  if (IndicatorReadCount > kIndicatorRedrawAfter) {
    ShowTempCtl(false);
    ShowFloorHtr(false);
    ShowTempMode(false);
    IndicatorReadCount = 0;
  } else {
    ++IndicatorReadCount;
  }
}

}  // namespace

ReadOutcome Worse(ReadOutcome a, ReadOutcome b) {
  if (a == ReadOutcome::kSkipped || b == ReadOutcome::kSkipped) {
    return ReadOutcome::kSkipped;
  }
  return a == ReadOutcome::kFailed ? a : b;
}

std::int32_t ReadRegister(PortNumber port, std::uint16_t address, char kind) {
  LastRead = ReadOutcome::kSkipped;
  if (ResetRequested || AbortFlag) return 0;

  Str255 reply;
  ReadDM(port, address, reply);
  const std::int32_t value = ConvertWord(reply, kind);
  LastRead = LastLinkRead();

  RedrawIndicators();
  ShowLinkState();
  // Hot keys typed during start-up wait in the buffer for polling: the
  // controller's identification is never cut short by a reset.
  if (!PollingStarted) return value;

  // The keys are judged as they stand now; the Esc check below may take
  // one more into the buffer, and that one waits for the next read.
  const std::size_t judged = KeyBuffer.size();
  const bool reset = HasKey(KeyBuffer.view(), 'R');
  const bool terminal = HasKey(KeyBuffer.view(), 'T');
  if (AbortRequested()) return value;

  if (reset) {
    RunResetPrompt(port);
  } else if (terminal) {
    // The line being painted goes on where it was, on its own row.
    SavedCursor.Column = static_cast<std::uint16_t>(CursorColumn());
    SavedCursor.Row = static_cast<std::uint16_t>(CursorRow());
    RunTerminal(port);
    ForgetLinkState();  // the screen was cleared
    ShowLinkState();
    MoveCursor(SavedCursor.Column, SavedCursor.Row);
  } else {
    // Keys that are no hot key would otherwise pile up until the buffer is
    // full and R and T could no longer get in.
    KeyBuffer.Delete(0, judged);
  }
  // A reset just answered Y goes first; the link stays one request at a
  // time.
  if (BetweenRequests != nullptr && !ResetRequested && !AbortFlag) BetweenRequests();
  return value;
}

SetPointWrite WriteSetPoint(std::uint16_t address, std::int32_t value,
                            std::int32_t& readBack, std::int32_t& before) {
  struct Target {
    std::uint16_t address;
    std::int32_t* setPoint;
    Quantity quantity;
    std::int32_t row;
    double scale;
  };
  const Target targets[] = {{890, &TempSetPoint, kTempSetValue, kTempLine.Row, 10.0},
                            {893, &RhSetPoint, kRhSetValue, kRhLine.Row, 10.0},
                            {894, &Co2SetPoint, kCo2SetValue, kCo2Line.Row, 100.0}};
  const Target* target = nullptr;
  for (const Target& t : targets) {
    if (t.address == address) target = &t;
  }
  if (target == nullptr) return SetPointWrite::kNotTaken;
  before = *target->setPoint;
  Str255 reply;
  // A negative value goes out as its 16-bit complement.
  WriteDM(ActivePort, address, static_cast<std::uint16_t>(value), reply);
  if (!(reply == "OK")) return SetPointWrite::kNotTaken;
  ReadDM(ActivePort, address, reply);
  if (LastLinkRead() != ReadOutcome::kRead) return SetPointWrite::kNoReadBack;
  readBack = ConvertWord(reply, 'i');
  if (readBack != value) return SetPointWrite::kReadBackDiffers;
  *target->setPoint = readBack;
  CycleReads[target->quantity] = ReadOutcome::kRead;
  SetPointReads[target->quantity - kTempSetValue] = ReadOutcome::kRead;
  // The row shows it now, so that what is recorded of this cycle has it.
  const std::int32_t column = CursorColumn();
  const std::int32_t row = CursorRow();
  MoveCursor(kSetPointColumn, target->row);
  ConsoleWrite(FormatFixed(readBack / target->scale, 6, 2).view());
  MoveCursor(column, row);
  return SetPointWrite::kWritten;
}

std::int32_t ReadRegisterStable(PortNumber port, std::uint16_t address,
                                char kind) {
  // Each attempt is two fresh reads; a refused read gives 0 twice and ends
  // the loop.
  for (;;) {
    const std::int32_t first = ReadRegister(port, address, kind);
    const ReadOutcome firstRead = LastRead;
    const std::int32_t second = ReadRegister(port, address, kind);
    LastRead = Worse(firstRead, LastRead);
    if (first == second) return first;
  }
}
