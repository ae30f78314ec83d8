// SPDX-License-Identifier: MIT
// The test platform. One process-wide fake machine: the emulated console,
// the script of key events, the virtual clock and the serial wires. Every
// plat:: call first brings the machine up to the current virtual time, so
// wire bytes and keys appear in the order they would on real hardware.
#include "platform/fake/fake.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <deque>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string_view>

#include "platform/emu/emu_seam.h"
#include "platform/shared/codepage.h"
#include "platform/shared/keymap_table.h"

namespace fake {

namespace {

constexpr plat::Handle kConsoleIn = 0x10;
constexpr plat::Handle kConsoleOut = 0x14;
constexpr plat::Handle kFirstSerialHandle = 0x100;

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
  Micros slowWrites = -1;      // >= 0: WriteFile returns this long after sending
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

Machine& M() {
  static Machine* machine = [] {
    auto* m = new Machine;
    m->console.Init(80, 25, 80, 25, 0x07);
    return m;
  }();
  return *machine;
}

// Bits on the line per character: start, data, parity, stop.
int CharBits(const plat::DCB& dcb) {
  return 1 + dcb.ByteSize + (dcb.Parity != 0 ? 1 : 0) +
         (dcb.StopBits == plat::TWOSTOPBITS ? 2 : 1);
}

// Line time of one character under the device's settings, in microseconds.
double CharTimeExact(const plat::DCB& dcb) {
  if (dcb.BaudRate == 0) return 0;
  return CharBits(dcb) * 1e6 / dcb.BaudRate;
}

plat::DCB DefaultDcb() {
  plat::DCB dcb{};
  dcb.DCBlength = 28;
  dcb.BaudRate = 9600;
  dcb.Flags = 0x1;  // fBinary
  dcb.XonLim = 2048;
  dcb.XoffLim = 512;
  dcb.ByteSize = 8;
  dcb.Parity = plat::NOPARITY;
  dcb.StopBits = plat::ONESTOPBIT;
  return dcb;
}

plat::COMMTIMEOUTS DefaultTimeouts() {
  // Non-zero write fields, so that a caller that must keep them is seen to.
  return plat::COMMTIMEOUTS{0, 0, 0, 10, 1000};
}

// Schedules bytes on a line that is free at `free`, starting no earlier
// than `earliest`. Times are computed from the first start, not summed, so
// that rounding never drifts (9 characters of 11 bits at 9600 baud end at
// exactly 10312.5 us, rounded up).
void Schedule(std::deque<Scheduled>& line, double& free, const plat::DCB& dcb,
              double earliest, std::string_view bytes) {
  const double t0 = std::max(free, earliest);
  const double bits = CharBits(dcb);
  const double baud = dcb.BaudRate;
  auto at = [&](std::size_t k) { return t0 + double(k) * bits * 1e6 / baud; };
  for (std::size_t k = 0; k < bytes.size(); ++k)
    line.push_back({std::llround(at(k)), std::llround(at(k + 1)),
                    static_cast<std::uint8_t>(bytes[k])});
  free = at(bytes.size());
}

// Delivers every script entry and wire byte due at or before `t`, in time
// order, then sets the clock to `t` (never backwards).
void Pump(Micros t) {
  Machine& m = M();
  for (;;) {
    Micros best = t + 1;
    int kind = -1;  // 0 script, 1 to device, 2 to host
    Device* dev = nullptr;
    if (!m.script.empty() && m.script.begin()->first <= t) {
      best = m.script.begin()->first;
      kind = 0;
    }
    for (auto& [name, d] : m.devices) {
      if (!d.toDevice.empty() && d.toDevice.front().arrival < best) {
        best = d.toDevice.front().arrival;
        kind = 1;
        dev = &d;
      }
      if (!d.toHost.empty() && d.toHost.front().arrival < best) {
        best = d.toHost.front().arrival;
        kind = 2;
        dev = &d;
      }
    }
    if (kind < 0) break;
    if (best > m.now) m.now = best;
    if (kind == 0) {
      m.console.PushInput(m.script.begin()->second);
      m.script.erase(m.script.begin());
    } else if (kind == 1) {
      const Scheduled s = dev->toDevice.front();
      dev->toDevice.pop_front();
      dev->log.push_back({s.arrival, true, s.byte});
      if (dev->endpoint != nullptr) {
        std::vector<SerialEndpoint::Emission> out;
        dev->endpoint->OnByte(s.byte, s.arrival, out);
        for (const auto& e : out)
          Schedule(dev->toHost, dev->toHostFree, dev->dcb,
                   static_cast<double>(std::max(e.earliestStart, s.arrival)),
                   e.bytes);
      }
    } else {
      const Scheduled s = dev->toHost.front();
      dev->toHost.pop_front();
      dev->log.push_back({s.arrival, false, s.byte});
      // With no handle open the driver has no queue to put it in.
      if (dev->openHandles > 0) dev->received.push_back(s.byte);
    }
  }
  if (t > m.now) m.now = t;
}

void CatchUp() { Pump(M().now); }

bool IsConsole(plat::Handle h) { return h == kConsoleIn || h == kConsoleOut; }

bool ConsoleCall(plat::Handle h) {
  CatchUp();
  if (IsConsole(h)) return true;
  M().lastError = plat::ERROR_INVALID_HANDLE;
  return false;
}

// The device behind an open serial handle, or nullptr with the last error
// set (an unplugged device fails every call as a pulled adapter does).
Device* SerialCall(plat::Handle h) {
  CatchUp();
  Machine& m = M();
  auto it = m.serialHandles.find(h);
  if (it == m.serialHandles.end()) {
    m.lastError = plat::ERROR_INVALID_HANDLE;
    return nullptr;
  }
  Device* d = it->second.device;
  if (it->second.dead || !d->plugged) {
    m.lastError = plat::ERROR_GEN_FAILURE;
    return nullptr;
  }
  return d;
}

const Device* FindDevice(const std::string& name) {
  auto it = M().devices.find(name);
  return it == M().devices.end() ? nullptr : &it->second;
}

// ---- keys -------------------------------------------------------------------

plat::INPUT_RECORD MakeKey(std::uint16_t vk, char ch, std::uint32_t state) {
  plat::INPUT_RECORD r{};
  r.EventType = plat::KEY_EVENT;
  r.KeyEvent.bKeyDown = 1;
  r.KeyEvent.wRepeatCount = 1;
  r.KeyEvent.wVirtualKeyCode = vk;
  r.KeyEvent.AsciiChar = ch;
  r.KeyEvent.dwControlKeyState = state;
  return r;
}

void ScheduleRecord(const plat::INPUT_RECORD& r, Micros at) {
  M().script.emplace(at < 0 ? M().now : at, r);
}

void SchedulePress(std::uint16_t vk, char ch, std::uint32_t state, Micros at) {
  plat::INPUT_RECORD down = MakeKey(vk, ch, state);
  plat::INPUT_RECORD up = down;
  up.KeyEvent.bKeyDown = 0;
  ScheduleRecord(down, at);
  ScheduleRecord(up, at);
}

struct Stroke {
  std::uint16_t vk;
  char ch;
  std::uint32_t state;
};

bool StrokeFor(unsigned char c, Stroke* out) {
  KeyStroke key{};
  if (!FindKeyStroke(c, &key)) return false;
  *out = {key.VirtualKey, static_cast<char>(c), key.ControlKeyState};
  return true;
}

// Tests may write the key map's non-ASCII characters in UTF-8; they are
// typed as their console code-page byte. Other bytes pass through as they
// are, so code-page bytes can be given directly too.
std::string ToConsoleBytes(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t len = lead >= 0xC2 && lead <= 0xDF   ? 2
                            : lead >= 0xE0 && lead <= 0xEF ? 3
                                                           : 1;
    char32_t cp = len == 2 ? lead & 0x1Fu : lead & 0x0Fu;
    bool valid = len > 1 && i + len <= text.size();
    for (std::size_t k = 1; valid && k < len; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      valid = (c & 0xC0) == 0x80;
      cp = (cp << 6) | (c & 0x3Fu);
    }
    const int byte = valid ? plat::UnicodeToCp850(cp) : -1;
    if (byte >= 0x80) {
      out.push_back(static_cast<char>(byte));
      i += len;
    } else {
      out.push_back(text[i]);
      ++i;
    }
  }
  return out;
}

struct NamedKey {
  const char* name;
  std::uint16_t vk;
};

constexpr NamedKey kNamedKeys[] = {
    {"Esc", 0x1B},   {"Escape", 0x1B}, {"Enter", 0x0D},  {"Backspace", 0x08},
    {"Tab", 0x09},   {"Space", 0x20},  {"PageUp", 0x21}, {"PageDown", 0x22},
    {"End", 0x23},   {"Home", 0x24},   {"Left", 0x25},   {"Up", 0x26},
    {"Right", 0x27}, {"Down", 0x28},   {"Insert", 0x2D}, {"Delete", 0x2E},
    {"Shift", 0x10}, {"Ctrl", 0x11},   {"Alt", 0x12},    {"F1", 0x70},
    {"F2", 0x71},    {"F3", 0x72},     {"F4", 0x73},     {"F5", 0x74},
    {"F6", 0x75},    {"F7", 0x76},     {"F8", 0x77},     {"F9", 0x78},
    {"F10", 0x79},   {"F11", 0x7A},    {"F12", 0x7B},
};

// The event character Windows reports for a key pressed with modifiers:
// the key map's ordinary code, none for extended codes; a letter gives its
// control code with Ctrl, else itself in the case Shift selects.
char EventChar(std::uint16_t vk, std::uint32_t state) {
  if (vk >= 0x41 && vk <= 0x5A) {
    const bool ctrl =
        state & (plat::LEFT_CTRL_PRESSED | plat::RIGHT_CTRL_PRESSED);
    const bool alt = state & (plat::LEFT_ALT_PRESSED | plat::RIGHT_ALT_PRESSED);
    if (ctrl) return alt ? '\0' : static_cast<char>(vk - 0x40);
    if (state & plat::SHIFT_PRESSED) return static_cast<char>(vk);
    return static_cast<char>(vk + 0x20);
  }
  const KeyMapRow* row = FindKeyMapRow(vk);
  if (row == nullptr) return 0;
  const std::uint16_t code = KeyMapCode(*row, state);
  return code < 0x100 ? static_cast<char>(code) : '\0';
}

}  // namespace

// ---- machine ----------------------------------------------------------------

void Reset(const Options& options) {
  Machine& m = M();
  m = Machine{};
  m.console.Init(options.bufferColumns, options.bufferRows,
                 options.windowColumns, options.windowRows, options.attribute);
  m.showOnExit = options.showOnExit;
}

Micros Now() { return M().now; }

void AdvanceTo(Micros t) { Pump(t); }

void Key(const std::string& name, Micros at) {
  std::string rest = name;
  std::uint32_t state = 0;
  for (;;) {
    if (rest.size() > 5 && rest.compare(0, 5, "Ctrl+") == 0) {
      state |= plat::LEFT_CTRL_PRESSED;
      rest.erase(0, 5);
    } else if (rest.size() > 6 && rest.compare(0, 6, "Shift+") == 0) {
      state |= plat::SHIFT_PRESSED;
      rest.erase(0, 6);
    } else if (rest.size() > 4 && rest.compare(0, 4, "Alt+") == 0) {
      state |= plat::LEFT_ALT_PRESSED;
      rest.erase(0, 4);
    } else {
      break;
    }
  }
  std::uint16_t vk = 0;
  char typed = 0;
  for (const auto& k : kNamedKeys)
    if (rest == k.name) vk = k.vk;
  if (vk == 0) rest = ToConsoleBytes(rest);
  if (vk == 0 && rest.size() == 1) {
    Stroke s{};
    const auto c = static_cast<unsigned char>(rest[0]);
    if (!StrokeFor(c, &s)) throw std::invalid_argument("fake::Key: " + name);
    vk = s.vk;
    typed = s.ch;
    if (state == 0) state = s.state;
  }
  if (vk == 0) throw std::invalid_argument("fake::Key: " + name);
  // A modifier key reports itself as held.
  if (vk == 0x10) state |= plat::SHIFT_PRESSED;
  if (vk == 0x11) state |= plat::LEFT_CTRL_PRESSED;
  if (vk == 0x12) state |= plat::LEFT_ALT_PRESSED;
  // Unmodified, a character key gives the character named (a letter in the
  // case written, as with Caps Lock).
  const char ch = state == 0 && typed != 0 ? typed : EventChar(vk, state);
  SchedulePress(vk, ch, state, at);
  CatchUp();
}

void Type(const std::string& text, Micros at, Micros gap) {
  Micros t = at < 0 ? M().now : at;
  for (char c : ToConsoleBytes(text)) {
    Stroke s{};
    if (!StrokeFor(static_cast<unsigned char>(c), &s)) continue;
    SchedulePress(s.vk, s.ch, s.state, t);
    t += gap;
  }
  CatchUp();
}

void PushRecord(const plat::INPUT_RECORD& record, Micros at) {
  ScheduleRecord(record, at);
  CatchUp();
}

std::size_t PendingScript() { return M().script.size(); }

// ---- console observers ------------------------------------------------------

plat::emu::EmuConsole& Console() { return M().console; }

std::string Row(int row) { return M().console.RowText(row - 1); }

std::string RowTrimmed(int row) {
  std::string s = Row(row);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

char CharAt(int column, int row) {
  const auto& c = M().console;
  if (column < 1 || row < 1 || column > c.Width() || row > c.Height()) return 0;
  return c.At(column - 1, row - 1).ch;
}

std::uint16_t AttrAt(int column, int row) {
  const auto& c = M().console;
  if (column < 1 || row < 1 || column > c.Width() || row > c.Height()) return 0;
  return c.At(column - 1, row - 1).attr;
}

plat::COORD Cursor() { return M().console.Cursor(); }
std::string Title() { return M().console.Title(); }
const std::vector<BeepRecord>& Beeps() { return M().beeps; }
const std::vector<int>& WriteRuns() { return M().writeRuns; }
std::uint32_t InputMode() { return M().inputMode; }
std::uint32_t OutputMode() { return M().outputMode; }
bool CtrlHandlerInstalled() { return M().ctrlHandlerInstalled; }
plat::PHANDLER_ROUTINE CtrlHandler() { return M().ctrlHandler; }
const std::vector<std::string>& RuntimeErrors() { return M().runtimeErrors; }
const std::string& ExitText() { return M().exitText; }

// ---- serial observers -------------------------------------------------------

void BindSerial(const std::string& deviceName, SerialEndpoint* endpoint) {
  Machine& m = M();
  auto [it, fresh] = m.devices.try_emplace(deviceName);
  Device& d = it->second;
  if (fresh) {
    d.dcb = DefaultDcb();
    d.timeouts = DefaultTimeouts();
  }
  d.endpoint = endpoint;
  d.plugged = true;
}

void RefuseParity(const std::string& deviceName) {
  M().devices[deviceName].refusesParity = true;
}

void SlowWrites(const std::string& deviceName, Micros extra) {
  M().devices[deviceName].slowWrites = extra;
}

void UnplugSerial(const std::string& deviceName) {
  CatchUp();
  auto it = M().devices.find(deviceName);
  if (it == M().devices.end()) return;
  Device& d = it->second;
  d.plugged = false;
  for (auto& [handle, open] : M().serialHandles)
    if (open.device == &d) open.dead = true;
  d.toDevice.clear();
  d.toHost.clear();
  d.received.clear();
}

const std::vector<WireByte>& WireLog(const std::string& deviceName) {
  static const std::vector<WireByte> kNone;
  CatchUp();
  const Device* d = FindDevice(deviceName);
  return d != nullptr ? d->log : kNone;
}

void ClearHistory() {
  CatchUp();
  for (auto& [name, device] : M().devices) device.log.clear();
  M().beeps.clear();
  M().writeRuns.clear();
}

namespace {
std::string LogText(const std::string& deviceName, bool toDevice) {
  std::string s;
  for (const auto& w : WireLog(deviceName))
    if (w.toDevice == toDevice) s.push_back(static_cast<char>(w.byte));
  return s;
}
}  // namespace

std::string SentText(const std::string& deviceName) {
  return LogText(deviceName, true);
}

std::string ReceivedText(const std::string& deviceName) {
  return LogText(deviceName, false);
}

Micros CharTime(const std::string& deviceName) {
  const Device* d = FindDevice(deviceName);
  if (d == nullptr || d->openHandles == 0) return 0;
  return std::llround(CharTimeExact(d->dcb));
}

const std::vector<std::string>& OpenedNames() { return M().openedNames; }

plat::DCB LastDcb(const std::string& deviceName) {
  const Device* d = FindDevice(deviceName);
  return d != nullptr ? d->dcb : DefaultDcb();
}

plat::COMMTIMEOUTS LastTimeouts(const std::string& deviceName) {
  const Device* d = FindDevice(deviceName);
  return d != nullptr ? d->timeouts : DefaultTimeouts();
}

int PurgeCount(const std::string& deviceName) {
  const Device* d = FindDevice(deviceName);
  return d != nullptr ? d->purges : 0;
}

int OpenHandleCount(const std::string& deviceName) {
  const Device* d = FindDevice(deviceName);
  return d != nullptr ? d->openHandles : 0;
}

}  // namespace fake

// ---- the seam ---------------------------------------------------------------

namespace plat::emu {

EmuConsole* ConsoleFor(Handle h) {
  return fake::ConsoleCall(h) ? &fake::M().console : nullptr;
}

void NoteWritten(const SMALL_RECT& r) {
  const int cells = r.Right < r.Left || r.Bottom < r.Top
                        ? 0
                        : (r.Right - r.Left + 1) * (r.Bottom - r.Top + 1);
  fake::M().writeRuns.push_back(cells);
}

}  // namespace plat::emu

namespace plat {

using fake::M;

Handle CreateFileA(const char* name, std::uint32_t, std::uint32_t,
                   std::uint32_t, std::uint32_t) {
  fake::CatchUp();
  auto& m = M();
  const std::string n = name != nullptr ? name : "";
  m.openedNames.push_back(n);
  if (n == "CONIN$" || n == "CONOUT$") {
    m.lastError = ERROR_SUCCESS;
    return n == "CONIN$" ? fake::kConsoleIn : fake::kConsoleOut;
  }
  auto it = m.devices.find(n);
  if (it == m.devices.end() || !it->second.plugged) {
    m.lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  fake::Device& d = it->second;
  if (d.openHandles > 0) {  // serial devices are never shared
    m.lastError = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  ++d.openHandles;
  d.received.clear();
  const Handle h = m.nextHandle;
  m.nextHandle += 4;
  m.serialHandles[h] = {&d, false};
  m.lastError = ERROR_SUCCESS;
  return h;
}

int CloseHandle(Handle h) {
  fake::CatchUp();
  auto& m = M();
  if (fake::IsConsole(h)) return 1;
  auto it = m.serialHandles.find(h);
  if (it == m.serialHandles.end()) {
    m.lastError = ERROR_INVALID_HANDLE;
    return 0;
  }
  fake::Device& d = *it->second.device;
  --d.openHandles;
  d.received.clear();
  m.serialHandles.erase(it);
  return 1;
}

std::uint32_t GetLastError() { return M().lastError; }
void SetLastError(std::uint32_t code) { M().lastError = code; }

// ---- console ----------------------------------------------------------------

int SetConsoleMode(Handle h, std::uint32_t mode) {
  if (!fake::ConsoleCall(h)) return 0;
  (h == fake::kConsoleIn ? M().inputMode : M().outputMode) = mode;
  return 1;
}

int SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, int add) {
  auto& m = M();
  if (add) {
    m.ctrlHandler = handler;
    m.ctrlHandlerInstalled = handler != nullptr;
  } else if (m.ctrlHandlerInstalled && handler == m.ctrlHandler) {
    m.ctrlHandler = nullptr;
    m.ctrlHandlerInstalled = false;
  } else {
    m.lastError = ERROR_INVALID_PARAMETER;  // not registered
    return 0;
  }
  return 1;
}

int GetConsoleScreenBufferInfo(Handle h, CONSOLE_SCREEN_BUFFER_INFO* info) {
  if (!fake::ConsoleCall(h)) return 0;
  return M().console.GetInfo(info);
}

int GetNumberOfConsoleInputEvents(Handle h, std::uint32_t* count) {
  if (!fake::ConsoleCall(h) || count == nullptr) return 0;
  *count = M().console.InputCount();
  return 1;
}

int PeekConsoleInputA(Handle h, INPUT_RECORD* buffer, std::uint32_t length,
                      std::uint32_t* read) {
  if (!fake::ConsoleCall(h) || read == nullptr) return 0;
  *read = buffer != nullptr ? M().console.PeekInput(buffer, length) : 0;
  return 1;
}

int ReadConsoleInputA(Handle h, INPUT_RECORD* buffer, std::uint32_t length,
                      std::uint32_t* read) {
  if (!fake::ConsoleCall(h) || read == nullptr || buffer == nullptr) return 0;
  auto& m = M();
  // Blocks as the console does: time passes until the next scripted event.
  while (length > 0 && m.console.InputCount() == 0) {
    if (m.script.empty()) throw fake::InputStarved{};
    fake::Pump(m.script.begin()->first);
  }
  *read = m.console.ReadInput(buffer, length);
  return 1;
}

int SetConsoleTitleA(const char* title) {
  fake::CatchUp();
  M().console.SetTitle(title != nullptr ? title : "");
  return 1;
}

// Beep blocks for its duration on Windows, so the virtual clock moves on by
// it; the record carries the time the tone started.
int Beep(std::uint32_t frequency, std::uint32_t durationMs) {
  fake::CatchUp();
  M().beeps.push_back({frequency, durationMs, M().now});
  fake::Pump(M().now + fake::Micros{durationMs} * 1000);
  return 1;
}

// ---- serial -----------------------------------------------------------------

int GetCommState(Handle h, DCB* dcb) {
  fake::Device* d = fake::SerialCall(h);
  if (d == nullptr || dcb == nullptr) return 0;
  *dcb = d->dcb;
  return 1;
}

int SetCommState(Handle h, const DCB* dcb) {
  fake::Device* d = fake::SerialCall(h);
  if (d == nullptr || dcb == nullptr) return 0;
  if (dcb->BaudRate == 0 || dcb->ByteSize < 5 || dcb->ByteSize > 8 ||
      dcb->Parity > 4 || dcb->StopBits > 2 ||
      (d->refusesParity && dcb->Parity != NOPARITY)) {
    M().lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  d->dcb = *dcb;
  return 1;
}

int GetCommTimeouts(Handle h, COMMTIMEOUTS* timeouts) {
  fake::Device* d = fake::SerialCall(h);
  if (d == nullptr || timeouts == nullptr) return 0;
  *timeouts = d->timeouts;
  return 1;
}

int SetCommTimeouts(Handle h, const COMMTIMEOUTS* timeouts) {
  fake::Device* d = fake::SerialCall(h);
  if (d == nullptr || timeouts == nullptr) return 0;
  d->timeouts = *timeouts;
  return 1;
}

int PurgeComm(Handle h, std::uint32_t flags) {
  fake::Device* d = fake::SerialCall(h);
  if (d == nullptr) return 0;
  ++d->purges;
  if (flags & PURGE_RXCLEAR) d->received.clear();
  if (flags & PURGE_TXCLEAR) {
    // A byte already in the shift register goes out whole; the rest of the
    // transmit queue is dropped.
    const fake::Micros now = M().now;
    while (!d->toDevice.empty() && d->toDevice.back().start > now)
      d->toDevice.pop_back();
    d->toDeviceFree = d->toDevice.empty()
                          ? static_cast<double>(now)
                          : static_cast<double>(d->toDevice.back().arrival);
  }
  return 1;
}

std::uint32_t GetCommPathDelay(Handle) { return 0; }

int ClearCommError(Handle h, std::uint32_t* errors, COMSTAT* stat) {
  fake::Device* d = fake::SerialCall(h);
  if (d == nullptr) return 0;
  if (errors != nullptr) *errors = 0;
  if (stat != nullptr) {
    stat->cbInQue = static_cast<std::uint32_t>(d->received.size());
    stat->cbOutQue = static_cast<std::uint32_t>(d->toDevice.size());
  }
  return 1;
}

int ReadFile(Handle h, void* buffer, std::uint32_t toRead,
             std::uint32_t* read) {
  if (read != nullptr) *read = 0;
  fake::Device* d = fake::SerialCall(h);
  if (d == nullptr) return 0;
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::uint32_t n = 0;
  while (n < toRead && !d->received.empty()) {
    out[n++] = d->received.front();
    d->received.pop_front();
  }
  if (read != nullptr) *read = n;
  return 1;
}

int WriteFile(Handle h, const void* buffer, std::uint32_t toWrite,
              std::uint32_t* written) {
  if (written != nullptr) *written = 0;
  fake::Device* d = fake::SerialCall(h);
  if (d == nullptr) return 0;
  fake::Schedule(d->toDevice, d->toDeviceFree, d->dcb,
                 static_cast<double>(M().now),
                 std::string_view(static_cast<const char*>(buffer), toWrite));
  if (written != nullptr) *written = toWrite;
  if (d->slowWrites >= 0) {
    fake::Pump(static_cast<fake::Micros>(d->toDeviceFree) + d->slowWrites);
  }
  return 1;
}

// ---- time and process -------------------------------------------------------

void Sleep(std::uint32_t ms) { fake::Pump(M().now + fake::Micros{ms} * 1000); }

std::uint64_t GetTickCount64() {
  return static_cast<std::uint64_t>(M().now / 1000);
}

bool QueryPerformanceCounter(std::int64_t* count) {
  *count = M().now;
  return true;
}

bool QueryPerformanceFrequency(std::int64_t* frequency) {
  *frequency = 1000000;
  return true;
}

bool ShowOnExit(const char* text) {
  if (!M().showOnExit) return false;
  M().exitText = text != nullptr ? text : "";
  return true;
}

void ExitProcess(std::uint32_t code) { throw fake::ProcessExit{code}; }

void ReportRuntimeError(const char* message) {
  M().runtimeErrors.emplace_back(message != nullptr ? message : "");
}

bool HandleCommandLine(int, char**, int*) { return false; }

// The plugged devices bound under COM names, as "COM3" with the target
// "\Device\Serial2" (numbered from 0, as Windows' serial driver does).
std::uint32_t QueryDosDeviceA(const char* deviceName, char* targetPath,
                              std::uint32_t max) {
  fake::CatchUp();
  auto comNumber = [](std::string_view name) {
    if (name.substr(0, 4) == "\\\\.\\") name.remove_prefix(4);
    if (name.size() < 4 || name.size() > 6 || name.substr(0, 3) != "COM") {
      return 0;
    }
    for (const char c : name.substr(3)) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    }
    return std::stoi(std::string(name.substr(3)));
  };
  std::string out;
  for (const auto& [name, device] : M().devices) {
    const int port = comNumber(name);
    if (!device.plugged || port == 0) continue;
    if (deviceName == nullptr) {
      out += "COM" + std::to_string(port) + '\0';
    } else if (comNumber(deviceName) == port) {
      out = "\\Device\\Serial" + std::to_string(port - 1) + '\0';
      break;
    }
  }
  if (deviceName != nullptr && out.empty()) {
    M().lastError = ERROR_FILE_NOT_FOUND;
    return 0;
  }
  out += '\0';
  if (out.size() > max) {
    M().lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  std::copy(out.begin(), out.end(), targetPath);
  return static_cast<std::uint32_t>(out.size());
}

const char* SerialPortHint() { return "bind one with fake::BindSerial"; }

// Nothing asks the fake machine to reopen files: tests call the handler.
void SetReopenHandler(void (*)()) {}

// The machine has no file identities: a file is taken to be the one open
// while something is at its path.
bool PathNamesFile(const char* path, std::FILE*) {
  std::error_code ec;
  return std::filesystem::exists(path, ec) || ec;
}

}  // namespace plat
