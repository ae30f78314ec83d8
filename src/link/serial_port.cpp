// SPDX-License-Identifier: MIT
#include "link/serial_port.h"

#include <algorithm>
#include <string>

#include "console/keyboard.h"
#include "console/screen.h"
#include "console/text.h"

plat::Handle PortHandleTable[kPortSlots + 1];

namespace {

// Every slot starts closed. This runs before main; nothing reads the table
// during static initialisation.
const bool kSlotsClosed = [] {
  std::fill(std::begin(PortHandleTable), std::end(PortHandleTable),
            plat::INVALID_HANDLE_VALUE);
  return true;
}();

// A reply read gives up after more than this many empty polls in a row.
constexpr int kIdleLimit = 100;
constexpr std::uint8_t kEscape = 27;
constexpr std::string_view kMissingEndText = "auxStrIn Error";

// Line-settings flag word: fBinary, DTR and RTS raised while open, no flow
// control, no parity checking on reception.
constexpr std::uint32_t kLineFlags = 0x1011;
constexpr std::uint32_t kPurgeBothQueues =
    plat::PURGE_TXCLEAR | plat::PURGE_RXCLEAR;

bool HasSlot(std::int32_t port) { return port >= 1 && port <= kPortSlots; }

bool SlotOpen(std::int32_t port) {
  return HasSlot(port) && PortHandleTable[port] >= 0;
}

}  // namespace

std::uint64_t LineClockMs() {
  // The tick count moves in 15.625 ms steps on Windows: too coarse to tell
  // a reply from what came before its request.
  static const std::int64_t perMs = [] {
    std::int64_t frequency = 0;
    return plat::QueryPerformanceFrequency(&frequency) && frequency >= 1000
               ? frequency / 1000
               : 0;
  }();
  std::int64_t count = 0;
  if (perMs == 0 || !plat::QueryPerformanceCounter(&count)) {
    return plat::GetTickCount64();
  }
  return static_cast<std::uint64_t>(count / perMs);
}

std::int64_t PollsSince(std::uint64_t startMs) {
  const std::uint64_t now = LineClockMs();
  if (now <= startMs) return 0;
  return static_cast<std::int64_t>(now - startMs) * 1000 / kPollTickMicros;
}

Str255 PortDeviceName(std::int32_t port) {
  if (!HasSlot(port)) return {};
  if (port <= 9) return Str255("COM") + FormatInt(port);
  return Str255("\\\\.\\COM") + FormatInt(port);
}

std::uint32_t ReadTimeoutConstant(std::uint16_t baud) {
  // 500000 / baud milliseconds, rounded half to even in exact integer
  // arithmetic (a floating-point quotient can land beside a true tie).
  // No baud rate means no rate to pace by: no total time-out.
  if (baud == 0) return 0;
  const std::uint32_t q = 500000u / baud;
  const std::uint32_t r = 500000u % baud;
  const std::uint32_t twice = 2 * r;
  if (twice > baud || (twice == baud && (q % 2) == 1)) return q + 1;
  return q;
}

std::uint32_t OpenPort(std::uint16_t port, std::uint16_t baud, char parity,
                       std::uint8_t dataBits, std::uint16_t stopBits) {
  if (!HasSlot(port)) return plat::ERROR_INVALID_PARAMETER;

  const std::string name = PortDeviceName(port).str();
  // Each step is judged by the error code it leaves behind; clearing the
  // code first keeps an older failure from being taken for this step's.
  plat::SetLastError(plat::ERROR_SUCCESS);
  const plat::Handle handle =
      plat::CreateFileA(name.c_str(), plat::GENERIC_READ | plat::GENERIC_WRITE,
                        0, plat::OPEN_EXISTING, plat::FILE_ATTRIBUTE_NORMAL);
  PortHandleTable[port] = handle;
  if (const std::uint32_t err = plat::GetLastError()) return err;

  plat::DCB dcb{};
  plat::SetLastError(plat::ERROR_SUCCESS);
  plat::GetCommState(handle, &dcb);
  if (const std::uint32_t err = plat::GetLastError()) return err;

  dcb.DCBlength = 28;
  dcb.BaudRate = baud;
  dcb.Flags = kLineFlags;
  dcb.wReserved = 0;
  dcb.XonLim = 2048;
  dcb.XoffLim = 512;
  dcb.ByteSize = dataBits;
  switch (parity) {
    case 'E':
    case 'e':
      dcb.Parity = plat::EVENPARITY;
      break;
    case 'O':
    case 'o':
      dcb.Parity = plat::ODDPARITY;
      break;
    default:
      dcb.Parity = plat::NOPARITY;
      break;
  }
  dcb.StopBits = stopBits == 2 ? plat::TWOSTOPBITS : plat::ONESTOPBIT;
  dcb.XonChar = 0;
  dcb.XoffChar = 0;
  dcb.ErrorChar = 0;
  dcb.EofChar = 0;
  dcb.EvtChar = 0;
  dcb.wReserved1 = 0;
  plat::SetLastError(plat::ERROR_SUCCESS);
  plat::SetCommState(handle, &dcb);
  if (const std::uint32_t err = plat::GetLastError()) return err;

  // Zeroed first so that a failed query cannot hand back garbage for the
  // write fields, which are otherwise kept as the driver had them.
  plat::COMMTIMEOUTS timeouts{};
  plat::GetCommTimeouts(handle, &timeouts);
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = ReadTimeoutConstant(baud);
  plat::SetCommTimeouts(handle, &timeouts);
  return plat::ERROR_SUCCESS;
}

void PurgePort(std::int32_t port) {
  if (SlotOpen(port)) plat::PurgeComm(PortHandleTable[port], kPurgeBothQueues);
}

bool InputPending(std::int32_t port) {
  if (!SlotOpen(port)) return false;
  std::uint32_t errors = 0;
  plat::COMSTAT status{};
  // A failed query says nothing about the queue: take it as empty.
  if (plat::ClearCommError(PortHandleTable[port], &errors, &status) == 0) {
    return false;
  }
  return status.cbInQue > 0;
}

void ClosePort(std::int32_t port) {
  if (!HasSlot(port)) return;
  if (PortHandleTable[port] >= 0) plat::CloseHandle(PortHandleTable[port]);
  PortHandleTable[port] = plat::INVALID_HANDLE_VALUE;
}

std::int32_t ReadPortByte(std::int32_t port, std::uint8_t& out) {
  if (!SlotOpen(port)) return -1;
  if (AbortRequested()) return -1;
  if (!InputPending(port)) return 0;
  std::uint8_t byte = 0;
  std::uint32_t got = 0;
  plat::ReadFile(PortHandleTable[port], &byte, 1, &got);
  if (got == 0) return 0;
  out = byte;
  return 1;
}

std::int32_t ReadPortText(std::int32_t port, Str255& dest, std::int32_t maximum,
                          std::uint8_t end1, std::uint8_t end2,
                          std::uint64_t untilMs) {
  if (!SlotOpen(port) || AbortRequested()) return -1;
  // Collection starts only when a reply is already arriving, so an idle
  // line costs one status query.
  if (!InputPending(port)) return 0;

  Str255 text;
  // Idle polls since the last byte, in ticks: the pauses end early when a
  // byte comes, so their number says nothing of the time gone.
  const std::uint64_t startMs = LineClockMs();
  std::uint64_t lastByteMs = startMs;
  std::int64_t idle = 0;
  // Set by the last byte received alone: the reply is whole only when it
  // ended on an end character.
  bool endSeen = false;
  std::int32_t result = 0;
  while (!endSeen && idle <= kIdleLimit && result >= 0 &&
         PollKey() != kEscape) {
    std::uint8_t byte = 0;
    result = ReadPortByte(port, byte);
    if (result > 0) {
      text.Append(static_cast<char>(byte));  // dropped beyond 255
      lastByteMs = LineClockMs();
      idle = 0;
      endSeen = byte == end1 || byte == end2;
      // A line that never stops sending holds no reply: cut it.
      if (lastByteMs - startMs > kLongestReadMs || lastByteMs >= untilMs) break;
    } else {
      if (untilMs != kNoDeadline && LineClockMs() >= untilMs) break;
      if (!AbortRequested()) PauseMs(1);
      idle = PollsSince(lastByteMs);
    }
  }

  if (endSeen) {
    dest = text;
  } else {
    dest = kMissingEndText;
  }
  dest.Truncate(static_cast<std::size_t>(std::max<std::int32_t>(maximum, 0)));
  return static_cast<std::int32_t>(text.size());
}

void ResetPortTableForTests() {
  std::fill(std::begin(PortHandleTable), std::end(PortHandleTable),
            plat::INVALID_HANDLE_VALUE);
}
