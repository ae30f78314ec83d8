// SPDX-License-Identifier: MIT
#include "monitor/monitor.h"

#include <algorithm>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "console/editor.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "console/text.h"
#include "link/host_link.h"
#include "link/serial_port.h"
#include "monitor/counters.h"
#include "monitor/guarded_read.h"
#include "monitor/indicators.h"
#include "monitor/link_state.h"
#include "monitor/rows.h"
#include "monitor/state.h"
#include "platform/platform.h"

using namespace std::string_view_literals;

namespace {

constexpr char kInvalidNumericInput[] = "Invalid numeric input";
// Exit code of a run that stopped on a bad port entry.
constexpr int kInputErrorExitCode = 1;

// Temperature and humidity registers come either as raw/320 (temperature
// offset by 50 degrees) or as raw/40, depending on the controller's age.
constexpr std::int64_t kOffsetScale = 320;
constexpr std::int64_t kPlainScale = 40;
constexpr double kTemperatureOffset = 50.0;

// Controllers before this revision keep the defrost interval fixed.
constexpr std::uint16_t kLastFixedIntervalRevision = 7122;
constexpr std::uint16_t kFixedDefrostInterval = 4320;  // minutes, 72 hours
constexpr std::uint16_t kOffsetScaleRevision = 7000;
constexpr std::int32_t kOffsetScaleRawThreshold = 7500;

bool HasEvaporator() {
  return ControllerVariant == 1 || ControllerVariant == 9;
}

bool RelayReads(std::int32_t relay, const char* expected) {
  Str255 reply;
  ReadRelay(ActivePort, relay, reply);
  return reply == expected;
}

std::int32_t DetectVariant() {
  const bool evaporatorUnit = RelayReads(3000, "1") || RelayReads(3004, "1");
  if (evaporatorUnit) return RelayReads(3003, "0") ? 1 : 9;
  return RelayReads(3001, "1") ? 2 : 3;
}

// Reads a register directly (no guard) and converts its reply; `read`
// takes the worse of its outcome and what it held.
std::int32_t ReadDMNumber(std::uint16_t address, ReadOutcome* read = nullptr) {
  Str255 reply;
  ReadDM(ActivePort, address, reply);
  if (read != nullptr) *read = Worse(*read, LastLinkRead());
  return ParseNumber(reply.view());
}

// Row 7; left as it was when its reads were not made.
void WriteDefrostLine() {
  const double target = DefrostTarget / 10.0;
  ReadOutcome read = ReadOutcome::kRead;
  if (Relay7000Error) {
    const std::int32_t minutes = ReadDMNumber(87, &read);
    CycleReads[kDefrostValue] = read;
    if (read == ReadOutcome::kSkipped) return;
    PrintClearedLine(Str255(kNextDefrostLine.Label) + FormatInt(minutes, 6) +
                     " min to"sv + FormatFixed(target, 6, 2) + " C"sv);
    return;
  }
  // Minutes left in the interval, wrapping as 16-bit words do.
  const std::uint16_t remaining = static_cast<std::uint16_t>(
      static_cast<std::uint16_t>(ReadDMNumber(88, &read)) - DefrostInterval);
  const std::int32_t seconds = ReadDMNumber(87, &read);
  CycleReads[kDefrostValue] = read;
  if (read == ReadOutcome::kSkipped) return;
  double hours = remaining / 60.0;
  if (TempCtlState == "1" && static_cast<std::int64_t>(seconds) <
                                 static_cast<std::int64_t>(remaining) * 60) {
    hours = seconds / 3600.0;
  }
  PrintClearedLine(Str255(kDefrostLine.Label) + FormatFixed(hours, 6, 2) +
                   " hrs to"sv + FormatFixed(target, 6, 2) + " C"sv);
}

// A set point's read: kept as it was when the read was not made.
void ReadSetPoint(std::uint16_t address, std::int32_t& setPoint,
                  Quantity quantity) {
  const std::int32_t held = setPoint;
  const std::int32_t value = ReadRegister(ActivePort, address, 'i');
  if (LastRead == ReadOutcome::kSkipped) return;
  // A remote write just after this read has read its own value back; the
  // value read before it is the old one.
  if (setPoint != held) return;
  setPoint = value;
  SetPointReads[quantity - kTempSetValue] = LastRead;
}

// A signed reading that enters its running sum only when the controller
// answered it.
std::int32_t ReadAveraged(std::uint16_t address, Quantity quantity,
                          std::int64_t& sum, std::int64_t& samples) {
  const std::int32_t value = ReadRegister(ActivePort, address, 'i');
  CycleReads[quantity] = LastRead;
  if (LastRead == ReadOutcome::kRead) {
    sum += value;
    ++samples;
  }
  return value;
}

// An average over the answered reads; with none yet, that of raw 0.
double Average(std::int64_t sum, std::int64_t samples, std::int64_t scale) {
  if (samples <= 0) return 0.0;
  // The divisor is a 64-bit product, divided in floating point.
  return static_cast<double>(sum) / static_cast<double>(samples * scale);
}

// The COM port numbers among the device names, ascending, each once.
std::vector<std::int32_t> ComPorts(const std::vector<char>& names,
                                   std::uint32_t size) {
  std::vector<std::int32_t> ports;
  for (std::size_t i = 0; i < size && names[i] != '\0';) {
    const std::string_view name(names.data() + i);
    bool whole = false;
    const std::int32_t port =
        name.substr(0, 3) == "COM" ? ParseNumber(name.substr(3), &whole) : 0;
    if (whole && port > 0 && name[3] >= '0' && name[3] <= '9') {
      ports.push_back(port);
    }
    i += name.size() + 1;
  }
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return ports;
}

// Under the prompt, the ports there are and the device behind each, so
// that the operator need not look the number up.
std::vector<Str255> PortLines() {
  std::vector<char> names(1 << 16);
  std::uint32_t size = 0;
  while ((size = plat::QueryDosDeviceA(
              nullptr, names.data(),
              static_cast<std::uint32_t>(names.size()))) == 0 &&
         plat::GetLastError() == plat::ERROR_INSUFFICIENT_BUFFER &&
         names.size() < (1u << 22)) {
    names.resize(names.size() * 2);
  }
  names.push_back('\0');  // a list cut short still ends
  std::vector<Str255> lines;
  for (const std::int32_t port : ComPorts(names, size)) {
    const Str255 name = Str255("COM") + FormatInt(port);
    char target[Str255::kMax + 1] = {};
    if (plat::QueryDosDeviceA(name.str().c_str(), target, Str255::kMax) == 0) {
      target[0] = '\0';
    }
    Str255 text = name;
    while (text.size() < 6) text += ' ';
    lines.push_back(text + std::string_view(target));
  }
  if (lines.empty()) {
    Str255 text("No serial port found");
    const std::string_view hint = plat::SerialPortHint();
    if (!hint.empty()) {
      text += "; ";
      text += hint;
    }
    lines.push_back(text);
  }
  return lines;
}

// The list from row 3 (or blanks where it was), none past the window's
// foot nor its right edge: nothing may scroll the prompt away. The cursor
// stays where it was.
void WritePortRows(const std::vector<Str255>& lines, bool blank) {
  const std::int32_t column = CursorColumn();
  const std::int32_t row = CursorRow();
  const std::size_t width = static_cast<std::size_t>(
      std::max<std::int32_t>(Console.WindowRight - Console.WindowLeft, 0));
  const std::int32_t rows = Console.WindowBottom - Console.WindowTop + 1;
  std::int32_t line = kPortListRow;
  for (const Str255& text : lines) {
    if (line > rows) break;
    MoveCursor(1, line++);
    const std::string_view shown = text.view().substr(0, width);
    ConsoleWrite(blank ? std::string(shown.size(), ' ') : std::string(shown));
  }
  MoveCursor(column, row);
}

void ReportInvalidPortEntry() {
  ConsoleWriteLn(kInvalidNumericInput);
  plat::ReportRuntimeError(kInvalidNumericInput);
}

}  // namespace

bool StartMonitor(std::int32_t presetPort) {
  SetBackground(7);
  SetForeground(1);
  IndicatorReadCount = 0;
  ResizeScreen(49, 24);
  ClearWindow();
  ResetRequested = false;
  MonitorWidth = static_cast<std::uint16_t>(ScreenColumns());

  std::int32_t port = presetPort;
  if (port <= 0) {
    ConsoleWrite("Enter Comport ");
    // The window's clearing after the entry takes the list away with the
    // prompt; a bad entry's report shows with nothing else under it.
    const std::vector<Str255> portLines = PortLines();
    WritePortRows(portLines, false);
    if (!ConsoleReadInteger(&port)) {
      WritePortRows(portLines, true);
      return false;
    }
  }
  ActivePort = port;

  Str255 reply;
  LinkOpen(ActivePort);
  ForgetLinkState();
  ShowLinkState();
  LinkConnect(ActivePort, reply);
  WriteDM(ActivePort, 901, 0, reply);
  PauseMs(5);
  Transact(ActivePort, "RD 7000", reply);
  Relay7000Error = !reply.empty() && reply[0] == 'E';

  ControllerVariant = DetectVariant();
  for (int i = 0; i < kComponentCount; ++i) {
    CounterLabels[i] = HasEvaporator() ? kEvaporatorLabels[i] : kPlainLabels[i];
  }

  ClearWindow();
  ForgetLinkState();
  ShowLinkState();
  VentPhase = 1;
  FloorHtrPhase = 1;
  TempCtlPhase = 0;
  CycleCounter = 2;

  ReadSetPoint(890, TempSetPoint, kTempSetValue);
  ReadSetPoint(893, RhSetPoint, kRhSetValue);
  ReadSetPoint(894, Co2SetPoint, kCo2SetValue);

  EvaporatorSensor =
      RelayReads(3000, "1") || RelayReads(3003, "1") || RelayReads(3004, "1");
  if (EvaporatorSensor) DefrostTarget = ReadRegister(ActivePort, 891, 'i');

  MinT106 = ReadTimerValue(106);
  MinT107 = ReadTimerValue(107);

  VentRelay = Relay7000Error ? kVentRow.ErrorRelay : kVentRow.Relay;
  TempCtlRelay = Relay7000Error ? kTempCtlRow.ErrorRelay : kTempCtlRow.Relay;
  FloorHtrRelay = Relay7000Error ? kFloorHtrRow.ErrorRelay : kFloorHtrRow.Relay;
  TempModeRelay = Relay7000Error ? kTempModeRow.ErrorRelay : kTempModeRow.Relay;

  MoveToLine(kSystemLine);
  SystemNumber = static_cast<std::uint16_t>(ReadRegister(ActivePort, 109, 'w'));
  ControllerRevision =
      static_cast<std::uint16_t>(ReadRegister(ActivePort, 108, 'w'));
  const std::int32_t raw = ReadRegister(ActivePort, 992, 'i');

  DefrostInterval = ControllerRevision > kLastFixedIntervalRevision
                        ? static_cast<std::uint16_t>(ReadDMNumber(89))
                        : kFixedDefrostInterval;
  OffsetScale = ControllerRevision >= kOffsetScaleRevision ||
                raw > kOffsetScaleRawThreshold;

  SetConsoleCaption(Str255("Pav (#") + FormatInt(SystemNumber) + ", C"sv +
                    FormatInt(ActivePort) + ")"sv);
  SampleCount = 0;
  return true;
}

void PollingCycle() {
  // Each value is read afresh in this cycle, or not at all.
  for (int q = 0; q < kTempSetValue; ++q) {
    CycleReads[q] = ReadOutcome::kSkipped;
  }
  for (int q = kTempSetValue; q < kQuantities; ++q) {
    CycleReads[q] = SetPointReads[q - kTempSetValue];
  }
  ShowVent(true);
  ++SampleCount;

  const std::int64_t scaleFactor = OffsetScale ? kOffsetScale : kPlainScale;
  const double scale = static_cast<double>(scaleFactor);
  const double offset = OffsetScale ? kTemperatureOffset : 0.0;

  // A row whose read was not made (Esc, a reset under way) keeps what the
  // last cycle showed.
  MoveToLine(kTempLine);
  const std::int32_t t = ReadAveraged(992, kTempValue, TempSum, TempSamples);
  if (LastRead != ReadOutcome::kSkipped) {
    PrintClearedLine(
        Str255(kTempLine.Label) + FormatFixed(t / scale - offset, 6, 2) +
        " C  /  "sv + FormatFixed(TempSetPoint / 10.0, 6, 2) + " C  /  "sv +
        FormatFixed(Average(TempSum, TempSamples, scaleFactor) - offset, 6, 2) +
        " C"sv);
  }

  ShowTempCtl(true);

  MoveToLine(kRhLine);
  const std::int32_t h = ReadAveraged(993, kRhValue, RhSum, RhSamples);
  if (LastRead != ReadOutcome::kSkipped) {
    PrintClearedLine(
        Str255(kRhLine.Label) + FormatFixed(h / scale, 6, 2) + " %  /  "sv +
        FormatFixed(RhSetPoint / 10.0, 6, 2) + " %  /  "sv +
        FormatFixed(Average(RhSum, RhSamples, scaleFactor), 6, 2) + " %"sv);
  }

  ShowFloorHtr(true);

  MoveToLine(kCo2Line);
  const std::int32_t c = ReadRegister(ActivePort, 984, 'i');
  CycleReads[kCo2Value] = LastRead;
  if (LastRead != ReadOutcome::kSkipped) {
    PrintClearedLine(Str255(kCo2Line.Label) + FormatFixed(c / 100.0, 6, 2) +
                     " %  /  "sv + FormatFixed(Co2SetPoint / 100.0, 6, 2) +
                     " %"sv);
  }

  ShowTempMode(true);

  if (HasEvaporator()) {
    if (EvaporatorSensor) {
      MoveToLine(kEvapLine);
      const std::int32_t e = ReadRegister(ActivePort, 991, 'i');
      CycleReads[kEvapValue] = LastRead;
      if (LastRead != ReadOutcome::kSkipped) {
        PrintClearedLine(Str255(kEvapLine.Label) +
                         FormatFixed(e / 20.0 - kTemperatureOffset, 6, 2) +
                         " C"sv);
      }
    }
    MoveToLine(kDefrostLine);
    WriteDefrostLine();
  }

  if (CycleCounter % 2 == 0 && !AbortFlag) PaintCounters();
  if (CycleCounter % 10 == 0 && !AbortFlag) {
    ReadSetPoint(890, TempSetPoint, kTempSetValue);
    ReadSetPoint(893, RhSetPoint, kRhSetValue);
    ReadSetPoint(894, Co2SetPoint, kCo2SetValue);
  }
  // After years of polling the count wraps round as a 32-bit word would,
  // and even and odd cycles keep alternating.
  CycleCounter = CycleCounter == std::numeric_limits<std::int32_t>::max()
                     ? std::numeric_limits<std::int32_t>::min()
                     : CycleCounter + 1;
}

void ShutdownMonitor() {
  WaitTenths(1);
  // The loop ends only with the abort latch set, which the link obeys:
  // clear it so that the disconnect goes out.
  ResetKeyboard();
  Str255 reply;
  LinkDisconnect(ActivePort, reply);
  // Esc usually comes while a reply is on its way; that reply, left unread,
  // makes the first attempt read it away instead of sending.
  if (reply == kStaleInputReply) LinkDisconnect(ActivePort, reply);
  ClosePort(ActivePort);
}

int RunMonitor(const MonitorRun& run) {
  LinkStateChanged = run.LinkStateChanged;
  BetweenRequests = run.BetweenRequests;
  if (!StartMonitor(run.Port)) {
    ReportInvalidPortEntry();
    return kInputErrorExitCode;
  }
  PollingStarted = true;
  if (run.Started != nullptr) run.Started();
  do {
    PollingCycle();
    if (run.CycleEnded != nullptr) run.CycleEnded();
  } while (!AbortFlag);
  ShutdownMonitor();
  return 0;
}
