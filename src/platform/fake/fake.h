// SPDX-License-Identifier: MIT
// The test platform: an emulated console, scripted key events due at
// virtual times, a virtual clock that Sleep advances, and virtual serial
// wires that pace bytes at the line speed. Nothing here sleeps for real.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/emu/emu_console.h"
#include "platform/platform.h"

namespace fake {

using Micros = std::int64_t;

struct Options {
  int bufferColumns = 80;
  int bufferRows = 25;
  int windowColumns = 80;
  int windowRows = 25;
  std::uint16_t attribute = 0x07;
  // Whether lines can be shown after the end (a terminal), or not (a
  // Windows console).
  bool showOnExit = true;
};

// Everything back to a fresh machine: console, clock at 0, no script, no
// serial devices, no title, no beeps, no recorded calls.
void Reset(const Options& options = {});

// ---- virtual clock ----------------------------------------------------------
Micros Now();
void AdvanceTo(Micros t);  // delivers due keys and wire bytes on the way

// ---- scripted input ---------------------------------------------------------
// A key by name with optional modifiers: "a", "R", "5", "-", "Esc", "Enter",
// "Backspace", "Tab", "Space", "F1".."F12", "Up", "Down", "Left", "Right",
// "Home", "End", "PageUp", "PageDown", "Insert", "Delete", "Shift+A",
// "Ctrl+M", "Alt+X", "Ctrl+Shift+F5". Due at virtual time `at` (-1: now).
// A key press is queued as a key-down event followed by its key-up event.
void Key(const std::string& name, Micros at = -1);
// Each character as the key that types it (letters keep their case through
// the event character, digits, blank, and the punctuation of the key map),
// `gap` microseconds apart starting at `at`; "\r" types Enter. The key map's
// non-ASCII characters may be given in UTF-8 ("ä") or as their code-page
// byte ("\x84"); characters no key types are skipped.
void Type(const std::string& text, Micros at = -1, Micros gap = 0);
// A raw event (key-ups, modifier keys alone, focus events).
void PushRecord(const plat::INPUT_RECORD& record, Micros at = -1);
// Script entries not yet delivered to the console queue.
std::size_t PendingScript();

// Thrown when a blocking console read finds no event and no script left:
// the test would otherwise hang. A blocking read with script left moves the
// clock on to the next scripted event.
struct InputStarved {};
// Thrown by plat::ExitProcess in the fake so the in-process entry unwinds.
struct ProcessExit {
  std::uint32_t code;
};

// ---- console observers ------------------------------------------------------
plat::emu::EmuConsole& ConsoleBuffer();
std::string Row(int row);                   // 1-based buffer row, full width
std::string RowTrimmed(int row);            // without trailing blanks
char CharAt(int column, int row);           // 1-based
std::uint16_t AttrAt(int column, int row);  // 1-based
plat::COORD Cursor();                       // 0-based buffer coordinates
std::string Title();
// Beep blocks for its duration, as on Windows: the clock moves on by it and
// `at` is when the tone started.
struct BeepRecord {
  std::uint32_t frequency;
  std::uint32_t durationMs;
  Micros at;
};
const std::vector<BeepRecord>& Beeps();
// Cells written by every WriteConsoleOutputA call, in order.
const std::vector<int>& WriteRuns();
std::uint32_t InputMode();
std::uint32_t OutputMode();
bool CtrlHandlerInstalled();
plat::PHANDLER_ROUTINE CtrlHandler();
const std::vector<std::string>& RuntimeErrors();
// The text last given to plat::ShowOnExit.
const std::string& ExitText();

// ---- serial -----------------------------------------------------------------
class SerialEndpoint {
 public:
  struct Emission {
    std::string bytes;     // sent back to the host, one after another
    Micros earliestStart;  // the first byte starts no earlier than this
  };
  virtual ~SerialEndpoint() = default;
  // A byte from the host has fully arrived at the device at `at`. Whatever
  // the device sends back goes into `out`.
  virtual void OnByte(std::uint8_t byte, Micros at,
                      std::vector<Emission>& out) = 0;
};

// Makes a device name ("COM3", "\\.\COM12") openable; bytes cross the wire
// at the pace of the line settings in force (start, data, parity and stop
// bits at the baud rate). The endpoint must outlive its binding.
void BindSerial(const std::string& deviceName, SerialEndpoint* endpoint);
// The device disappears: open handles fail from now on (as a pulled USB
// adapter), new opens get ERROR_FILE_NOT_FOUND.
void UnplugSerial(const std::string& deviceName);
// Its driver refuses any parity (SetCommState fails), as some do.
void RefuseParity(const std::string& deviceName);
// WriteFile returns only once the bytes have left, and `extra` later still
// (a driver that sends before returning, on a busy machine).
void SlowWrites(const std::string& deviceName, Micros extra);

struct WireByte {
  Micros at;      // arrival time at the far end
  bool toDevice;  // host -> device
  std::uint8_t byte;
};
const std::vector<WireByte>& WireLog(const std::string& deviceName);
// Forgets the wire logs, beeps and write runs recorded so far (long runs).
void ClearHistory();
// The host's bytes as text, and the device's, as far as they have crossed
// the wire (arrived at the far end) by now.
std::string SentText(const std::string& deviceName);
std::string ReceivedText(const std::string& deviceName);
// Microseconds per character under the current settings (0 when closed).
Micros CharTime(const std::string& deviceName);

// Every CreateFileA name, in order; the line settings and time-outs last
// applied to a device; purges seen.
const std::vector<std::string>& OpenedNames();
plat::DCB LastDcb(const std::string& deviceName);
plat::COMMTIMEOUTS LastTimeouts(const std::string& deviceName);
int PurgeCount(const std::string& deviceName);
int OpenHandleCount(const std::string& deviceName);

}  // namespace fake
