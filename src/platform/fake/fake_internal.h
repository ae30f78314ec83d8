// SPDX-License-Identifier: MIT
// Pieces of the fake platform shared between its files: the one fake
// machine (console, script, clock, serial wires) and what every call into
// it first does.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fake/fake.h"

namespace fake {

inline constexpr plat::Handle kConsoleIn = 0x10;
inline constexpr plat::Handle kConsoleOut = 0x14;
inline constexpr plat::Handle kFirstSerialHandle = 0x100;

struct Scheduled {
  Micros start;    // first bit on the line
  Micros arrival;  // last bit received at the far end
  std::uint8_t byte;
};

struct Device {
  SerialEndpoint* endpoint = nullptr;
  bool plugged = false;
  // Line settings and time-outs last applied; a driver keeps them between
  // opens.
  plat::DCB dcb{};
  plat::COMMTIMEOUTS timeouts{};
  int openHandles = 0;
  int purges = 0;
  bool refusesParity = false;  // a real line whose driver takes no parity
  Micros slowWrites = -1;  // >= 0: WriteFile returns this long after sending
  // Host -> device: bytes on the line, in time order.
  std::deque<Scheduled> toDevice;
  double toDeviceFree = 0;  // when the host's line is next free (exact)
  // Device -> host: bytes on the line, and arrived bytes not yet read.
  std::deque<Scheduled> toHost;
  double toHostFree = 0;
  std::deque<std::uint8_t> received;
  std::vector<WireByte> log;
};

struct Machine {
  plat::emu::EmuConsole console;
  Micros now = 0;
  std::multimap<Micros, plat::INPUT_RECORD> script;  // equal times keep order
  std::map<std::string, Device> devices;
  struct OpenSerial {
    Device* device;     // map nodes stay put, so no lookup by name per call
    bool dead = false;  // its device was unplugged while it was open
  };
  std::map<plat::Handle, OpenSerial> serialHandles;
  plat::Handle nextHandle = kFirstSerialHandle;
  std::uint32_t lastError = 0;
  std::uint32_t inputMode = 0;
  std::uint32_t outputMode = 0;
  plat::PHANDLER_ROUTINE ctrlHandler = nullptr;
  bool ctrlHandlerInstalled = false;
  std::vector<BeepRecord> beeps;
  std::vector<int> writeRuns;
  std::vector<std::string> runtimeErrors;
  std::vector<std::string> openedNames;
  bool showOnExit = true;
  std::string exitText;
};

// The process-wide machine, made on first use and never destroyed.
Machine& TheMachine();

// Schedules bytes on a line that is free at `free`, starting no earlier
// than `earliest`. Times are computed from the first start, not summed, so
// that rounding never drifts (9 characters of 11 bits at 9600 baud end at
// exactly 10312.5 us, rounded up).
void Schedule(std::deque<Scheduled>& line, double& free, const plat::DCB& dcb,
              double earliest, std::string_view bytes);

// Delivers every script entry and wire byte due at or before `t`, in time
// order, then sets the clock to `t` (never backwards).
void Pump(Micros t);
// Delivers what is due by the current time.
void CatchUp();

bool IsConsole(plat::Handle h);
// After catching up: whether `h` is a console handle; else the last error
// says it is none.
bool ConsoleCall(plat::Handle h);
// The device behind an open serial handle, or nullptr with the last error
// set (an unplugged device fails every call as a pulled adapter does).
Device* SerialCall(plat::Handle h);

}  // namespace fake
