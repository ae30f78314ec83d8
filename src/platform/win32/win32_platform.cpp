// SPDX-License-Identifier: MIT
// Win32: the seam passes straight through to the real console, serial and
// sleep calls. Record layouts are translated where the Windows headers
// declare unions or bit fields, and the console is spoken to through its
// wide calls so that it shows and types code page 850 on any code page.
// A COM port that ZRVMON_COM<n> names by a socket:// or rfc2217:// address
// is the shared NetPort instead of a device.
// The seam's header comes first: windows.h turns many of its constant names
// into macros, which must not reach the seam's own declarations.
#include "platform/platform.h"
#include "platform/shared/netport.h"

#include <windows.h>
#include <timeapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/shared/com_names.h"
#include "platform/shared/end_notes.h"
#include "platform/shared/options.h"
#include "platform/win32/win32_translate.h"

namespace plat {
namespace {

using win32::FillSpans;
using win32::FromNative;
using win32::TypedByte;
using win32::WideGlyph;

static_assert(sizeof(::DCB) == sizeof(DCB), "DCB layout");
static_assert(sizeof(::COMMTIMEOUTS) == sizeof(COMMTIMEOUTS), "time-outs");

HANDLE AsNative(Handle h) { return reinterpret_cast<HANDLE>(h); }
::COORD NativeCoord(COORD c) { return ::COORD{c.X, c.Y}; }
::SMALL_RECT NativeRect(const SMALL_RECT& r) {
  return ::SMALL_RECT{r.Left, r.Top, r.Right, r.Bottom};
}
SMALL_RECT SeamRect(const ::SMALL_RECT& r) {
  return SMALL_RECT{r.Left, r.Top, r.Right, r.Bottom};
}

PHANDLER_ROUTINE g_handler = nullptr;
BOOL WINAPI HandlerTrampoline(DWORD event) {
  return g_handler ? g_handler(event) : FALSE;
}

// The screen the program paints, once it could be read: from then on the
// console shows whatever the program reports.
bool g_screenOpen = false;

// A 1 ms Sleep lasts a whole scheduler tick (about 15.6 ms) unless the
// process asks for the finer timer; every empty poll of the link would
// cost that. Asked for before main, given back on every way out.
bool g_finerTimer = false;
void EndFinerTimer() {
  if (g_finerTimer) ::timeEndPeriod(1);
  g_finerTimer = false;
}
[[maybe_unused]] const bool g_timerAsked = [] {
  g_finerTimer = ::timeBeginPeriod(1) == TIMERR_NOERROR;
  std::atexit(EndFinerTimer);
  return g_finerTimer;
}();

// Fills cut where a row is left in the middle (see FillSpans).
template <typename Fill>
int FillBySpans(Handle h, std::uint32_t length, COORD at,
                std::uint32_t* written, Fill fill) {
  // Only a fill from mid-row can need cutting: the others skip the query.
  ::CONSOLE_SCREEN_BUFFER_INFO info{};
  const SHORT width =
      at.X > 0 && ::GetConsoleScreenBufferInfo(AsNative(h), &info) ? info.dwSize.X : 0;
  BOOL ok = TRUE;
  std::uint32_t total = 0;
  for (const auto& span : FillSpans(NativeCoord(at), length, width)) {
    DWORD n = 0;
    ok = fill(span.at, span.length, &n) && ok;
    total += n;
  }
  if (written) *written = total;
  return ok;
}

// The address ZRVMON_COM<port> names, when it is a network one; a device
// path there means nothing on Windows, whose device namespace is its own.
std::string NetUrlFor(int port) {
  if (port < 1 || port > kMaxComPort) return {};
  const std::string var = "ZRVMON_COM" + std::to_string(port);
  const char* env = std::getenv(var.c_str());
  return env != nullptr && net::IsNetUrl(env) ? std::string(env)
                                              : std::string();
}

std::vector<int> NetPorts() {
  std::vector<int> ports;
  for (int port = 1; port <= kMaxComPort; ++port) {
    if (!NetUrlFor(port).empty()) ports.push_back(port);
  }
  return ports;
}

// The end lines are told at exit, and from ExitProcess, whichever ends the
// process.
[[maybe_unused]] const bool g_endLinesAtExit = std::atexit(PrintEndLines) == 0;

void PrintPorts() {
  // The whole device namespace; the COM ports among it are listed with the
  // device behind each.
  std::vector<char> names(1 << 16);
  DWORD size = 0;
  while ((size = plat::QueryDosDeviceA(nullptr, names.data(),
                                       static_cast<DWORD>(names.size()))) == 0 &&
         ::GetLastError() == ERROR_INSUFFICIENT_BUFFER &&
         names.size() < (1u << 22)) {
    names.resize(names.size() * 2);
  }
  std::printf("\nCOM ports on this PC (type the number at the prompt):\n");
  const std::vector<int> ports = win32::ComPortsIn(names.data(), size);
  for (const int port : ports) {
    char name[16];
    char target[512];
    std::snprintf(name, sizeof name, "COM%d", port);
    if (plat::QueryDosDeviceA(name, target, sizeof target) == 0) {
      target[0] = '\0';
    }
    std::printf("  %-8s %s\n", name, target);
  }
  if (ports.empty()) std::printf("  (no serial ports found)\n");
  std::printf(
      "A port of a serial device server is named by its address in the\n"
      "environment: ZRVMON_COM7=rfc2217://HOST:PORT (Telnet, RFC 2217: the\n"
      "monitor sets the line) or ZRVMON_COM7=socket://HOST:PORT (raw TCP:\n"
      "the server's line settings). HOST is a name, an IPv4 address or\n"
      "[an IPv6 one].\n");
}

// A serial port as the program holds it: its handle stays the same while
// the device goes and comes back (a USB adapter pulled and plugged in
// again), and the native handle changes with each reopen.
struct Port {
  std::string name;
  DWORD access = 0, share = 0, disposition = 0, flags = 0;
  HANDLE native = INVALID_HANDLE_VALUE;  // while gone: none
  ::DCB dcb{};
  bool dcbSet = false;  // the program set these: a reopen sets them again
  ::COMMTIMEOUTS timeouts{};
  bool timeoutsSet = false;
  DWORD lastLook = 0;
  std::unique_ptr<net::NetPort> net{};  // a network port: no native handle
  int held = -1;  // the byte that ended a pause, not yet read; -1: none
  // The device is opened for overlapped I/O, so that a pause can wait for
  // a byte and a key at once; every other read and write waits for its own
  // end on this event, as on a plain handle.
  HANDLE ioEvent = nullptr;
};

// The console's input as the program opened it: a pause ends at a key.
HANDLE g_conin = INVALID_HANDLE_VALUE;

// When the last poll pause ended with nothing come: the next one right
// after it belongs to the same idle wait.
LONGLONG g_idlePollEnd = -1;

std::map<Handle, Port> g_ports;
// Kernel handles are multiples of 4 and console ones end in 3: the
// program's port handles end in 1, and meet neither.
Handle g_nextPort = 0x40000001;

Port* FindPort(Handle h) {
  auto it = g_ports.find(h);
  return it == g_ports.end() ? nullptr : &it->second;
}

// An overlapped call awaited to its end, as a plain handle's would be.
BOOL Finish(HANDLE h, BOOL started, ::OVERLAPPED& ov, DWORD* n) {
  if (!started && ::GetLastError() != ERROR_IO_PENDING) return FALSE;
  return ::GetOverlappedResult(h, &ov, n, TRUE);
}

::OVERLAPPED IoFor(Port& p) {
  if (p.ioEvent == nullptr) p.ioEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::OVERLAPPED ov{};
  ov.hEvent = p.ioEvent;
  return ov;
}

void MarkGone(Port& p) {
  p.held = -1;  // the device's queue went with it
  if (p.native == INVALID_HANDLE_VALUE) return;
  ::CloseHandle(p.native);
  p.native = INVALID_HANDLE_VALUE;
  p.lastLook = ::GetTickCount();
}

// A gone device is looked for from the calls the program polls with, at
// most every kReopenEveryMs; once it opens again (as exclusively as
// before) it gets the program's line settings and time-outs back.
bool Present(Port& p) {
  if (p.native != INVALID_HANDLE_VALUE) return true;
  const DWORD now = ::GetTickCount();
  if (!win32::TimeToLook(now, p.lastLook)) return false;
  p.lastLook = now;
  HANDLE h = ::CreateFileA(p.name.c_str(), p.access, p.share, nullptr,
                           p.disposition, p.flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  if ((p.dcbSet && !::SetCommState(h, &p.dcb)) ||
      (p.timeoutsSet && !::SetCommTimeouts(h, &p.timeouts))) {
    ::CloseHandle(h);
    return false;
  }
  p.native = h;
  return true;
}

// After a failed call on a port: true (with no error left) when the
// device turned out gone, so the call reports as if nothing were there.
bool WentAway(Port* p) {
  if (p == nullptr || !win32::DeviceGone(::GetLastError())) return false;
  MarkGone(*p);
  ::SetLastError(ERROR_SUCCESS);
  return true;
}

// The native handle for a call: a port's current one, else the handle
// itself (the console's).
HANDLE NativeFor(Handle h) {
  const Port* p = FindPort(h);
  return p != nullptr ? p->native : AsNative(h);
}

net::NetPort* NetOf(Port* p) { return p != nullptr ? p->net.get() : nullptr; }

// A failed open leaves no handle and the error, as a device that is not
// there does.
Handle OpenNetPort(const char* name, int port, const std::string& url) {
  std::uint32_t error = ERROR_SUCCESS;
  auto netPort = net::OpenNetPort(port, url, net::MakeSocket(), &error);
  if (netPort == nullptr) {
    ::SetLastError(error);
    return Handle{-1};
  }
  const DCB line = net::NetOpenLine();
  const Handle h = g_nextPort;
  g_nextPort += 4;
  Port& p = g_ports[h];
  p.name = name;
  std::memcpy(&p.dcb, &line, sizeof line);
  p.dcbSet = true;
  p.net = std::move(netPort);
  ::SetLastError(ERROR_SUCCESS);
  return h;
}

}  // namespace

Handle CreateFileA(const char* name, std::uint32_t desiredAccess,
                   std::uint32_t shareMode, std::uint32_t creationDisposition,
                   std::uint32_t flagsAndAttributes) {
  if (const int port = ParseComName(name); port > 0) {
    if (const std::string url = NetUrlFor(port); !url.empty()) {
      return OpenNetPort(name, port, url);
    }
  }
  if (ParseComName(name) > 0) flagsAndAttributes |= FILE_FLAG_OVERLAPPED;
  HANDLE h = ::CreateFileA(name, desiredAccess, shareMode, nullptr,
                           creationDisposition, flagsAndAttributes, nullptr);
  if (h != INVALID_HANDLE_VALUE && std::strcmp(name, "CONIN$") == 0) {
    g_conin = h;
    // Some consoles (wine's) deliver no key until the input queue was first
    // peeked or read; a peek changes nothing on the others.
    const DWORD error = ::GetLastError();
    ::INPUT_RECORD record;
    DWORD n = 0;
    ::PeekConsoleInputW(h, &record, 1, &n);
    ::SetLastError(error);
  }
  // Here INVALID_HANDLE_VALUE is the Windows macro; the seam's value is -1.
  if (h == INVALID_HANDLE_VALUE) return Handle{-1};
  if (ParseComName(name) == 0) return reinterpret_cast<Handle>(h);
  const Handle port = g_nextPort;
  g_nextPort += 4;
  g_ports[port] = Port{name, desiredAccess, shareMode, creationDisposition,
                       flagsAndAttributes, h};
  return port;
}
int CloseHandle(Handle h) {
  if (Port* p = FindPort(h)) {
    if (p->net) {
      p->net->Close();
      g_ports.erase(h);
      ::SetLastError(ERROR_SUCCESS);
      return 1;
    }
    const HANDLE native = p->native;
    if (p->ioEvent != nullptr) ::CloseHandle(p->ioEvent);
    g_ports.erase(h);
    return native == INVALID_HANDLE_VALUE || ::CloseHandle(native);
  }
  if (AsNative(h) == g_conin) g_conin = INVALID_HANDLE_VALUE;
  return ::CloseHandle(AsNative(h));
}
std::uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(std::uint32_t code) { ::SetLastError(code); }

int SetConsoleMode(Handle h, std::uint32_t mode) {
  return ::SetConsoleMode(AsNative(h), mode);
}
int SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, int add) {
  g_handler = handler;
  return ::SetConsoleCtrlHandler(HandlerTrampoline, add);
}
int GetConsoleScreenBufferInfo(Handle h, CONSOLE_SCREEN_BUFFER_INFO* info) {
  ::CONSOLE_SCREEN_BUFFER_INFO n{};
  if (!::GetConsoleScreenBufferInfo(AsNative(h), &n)) return 0;
  g_screenOpen = true;
  info->dwSize = {n.dwSize.X, n.dwSize.Y};
  info->dwCursorPosition = {n.dwCursorPosition.X, n.dwCursorPosition.Y};
  info->wAttributes = n.wAttributes;
  info->srWindow = SeamRect(n.srWindow);
  info->dwMaximumWindowSize = {n.dwMaximumWindowSize.X,
                               n.dwMaximumWindowSize.Y};
  return 1;
}
int SetConsoleCursorPosition(Handle h, COORD pos) {
  return ::SetConsoleCursorPosition(AsNative(h), NativeCoord(pos));
}
int SetConsoleScreenBufferSize(Handle h, COORD size) {
  return ::SetConsoleScreenBufferSize(AsNative(h), NativeCoord(size));
}
int SetConsoleWindowInfo(Handle h, int absolute, const SMALL_RECT* window) {
  ::SMALL_RECT r = NativeRect(*window);
  return ::SetConsoleWindowInfo(AsNative(h), absolute, &r);
}
int WriteConsoleOutputA(Handle h, const CHAR_INFO* buffer, COORD bufferSize,
                        COORD bufferCoord, SMALL_RECT* writeRegion) {
  const std::size_t n = static_cast<std::size_t>(bufferSize.X > 0 ? bufferSize.X : 0) *
                        static_cast<std::size_t>(bufferSize.Y > 0 ? bufferSize.Y : 0);
  std::vector<::CHAR_INFO> cells(n);
  for (std::size_t i = 0; i < n; ++i) {
    cells[i].Char.UnicodeChar = WideGlyph(buffer[i].AsciiChar);
    cells[i].Attributes = buffer[i].Attributes;
  }
  ::SMALL_RECT r = NativeRect(*writeRegion);
  const BOOL ok = ::WriteConsoleOutputW(AsNative(h), cells.data(), NativeCoord(bufferSize),
                                        NativeCoord(bufferCoord), &r);
  *writeRegion = SeamRect(r);
  return ok;
}
int ScrollConsoleScreenBufferA(Handle h, const SMALL_RECT* scrollRect,
                               const SMALL_RECT* clipRect, COORD destOrigin,
                               const CHAR_INFO* fill) {
  ::SMALL_RECT s = NativeRect(*scrollRect);
  ::SMALL_RECT c{};
  if (clipRect) c = NativeRect(*clipRect);
  ::CHAR_INFO f{};
  f.Char.UnicodeChar = WideGlyph(fill->AsciiChar);
  f.Attributes = fill->Attributes;
  return ::ScrollConsoleScreenBufferW(AsNative(h), &s, clipRect ? &c : nullptr,
                                      NativeCoord(destOrigin), &f);
}
int FillConsoleOutputCharacterA(Handle h, char c, std::uint32_t length,
                                COORD at, std::uint32_t* written) {
  const wchar_t glyph = WideGlyph(c);
  return FillBySpans(h, length, at, written,
                     [&](::COORD from, DWORD n, DWORD* done) {
                       return ::FillConsoleOutputCharacterW(AsNative(h), glyph, n,
                                                            from, done);
                     });
}
int FillConsoleOutputAttribute(Handle h, std::uint16_t attribute,
                               std::uint32_t length, COORD at,
                               std::uint32_t* written) {
  return FillBySpans(h, length, at, written,
                     [&](::COORD from, DWORD n, DWORD* done) {
                       return ::FillConsoleOutputAttribute(AsNative(h), attribute, n,
                                                           from, done);
                     });
}
int ReadConsoleOutputCharacterA(Handle h, char* chars, std::uint32_t length,
                                COORD at, std::uint32_t* read) {
  std::vector<wchar_t> wide(length ? length : 1);
  DWORD n = 0;
  const BOOL ok =
      ::ReadConsoleOutputCharacterW(AsNative(h), wide.data(), length, NativeCoord(at), &n);
  for (DWORD i = 0; i < n; ++i) chars[i] = TypedByte(wide[i]);
  if (read != nullptr) *read = n;
  return ok;
}
int GetNumberOfConsoleInputEvents(Handle h, std::uint32_t* count) {
  DWORD n = 0;
  const BOOL ok = ::GetNumberOfConsoleInputEvents(AsNative(h), &n);
  *count = n;
  return ok;
}
int PeekConsoleInputA(Handle h, INPUT_RECORD* buffer, std::uint32_t length,
                      std::uint32_t* read) {
  std::vector<::INPUT_RECORD> recs(length ? length : 1);
  DWORD n = 0;
  const BOOL ok = ::PeekConsoleInputW(AsNative(h), recs.data(), length, &n);
  for (DWORD i = 0; i < n; ++i) FromNative(recs[i], buffer[i]);
  *read = n;
  return ok;
}
int ReadConsoleInputA(Handle h, INPUT_RECORD* buffer, std::uint32_t length,
                      std::uint32_t* read) {
  std::vector<::INPUT_RECORD> recs(length ? length : 1);
  DWORD n = 0;
  const BOOL ok = ::ReadConsoleInputW(AsNative(h), recs.data(), length, &n);
  for (DWORD i = 0; i < n; ++i) FromNative(recs[i], buffer[i]);
  *read = n;
  return ok;
}
int SetConsoleTitleA(const char* title) {
  return ::SetConsoleTitleW(win32::WideText(title).c_str());
}
int Beep(std::uint32_t frequency, std::uint32_t durationMs) {
  return ::Beep(frequency, durationMs);
}

// While a port's device is gone, its settings are the last ones set, a
// setting waits for the device to come back, nothing is waiting to be read
// and writes go nowhere.
int GetCommState(Handle h, DCB* dcb) {
  Port* p = FindPort(h);
  if (NetOf(p) != nullptr) {
    std::memcpy(dcb, &p->dcb, sizeof p->dcb);
    ::SetLastError(ERROR_SUCCESS);
    return 1;
  }
  ::DCB n{};
  n.DCBlength = sizeof n;
  BOOL ok = TRUE;
  if (p == nullptr || Present(*p)) ok = ::GetCommState(NativeFor(h), &n);
  if (p != nullptr && ok && p->native != INVALID_HANDLE_VALUE) p->dcb = n;
  if (!ok && WentAway(p)) ok = TRUE;
  if (p != nullptr && p->native == INVALID_HANDLE_VALUE) n = p->dcb;
  std::memcpy(dcb, &n, sizeof n);
  return ok;
}
int SetCommState(Handle h, const DCB* dcb) {
  Port* p = FindPort(h);
  ::DCB n{};
  std::memcpy(&n, dcb, sizeof n);
  if (net::NetPort* port = NetOf(p)) {
    // What a serial driver refuses, a network port refuses too.
    if (n.BaudRate == 0 || n.ByteSize < 5 || n.ByteSize > 8 || n.Parity > 4 ||
        n.StopBits > 2) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    if (const std::uint32_t err = port->SetLine(*dcb); err != ERROR_SUCCESS) {
      ::SetLastError(err);
      return 0;
    }
    p->dcb = n;
    ::SetLastError(ERROR_SUCCESS);
    return 1;
  }
  if (p != nullptr && !Present(*p)) {
    p->dcb = n;
    p->dcbSet = true;
    return 1;
  }
  if (!::SetCommState(NativeFor(h), &n) && !WentAway(p)) return 0;
  if (p != nullptr) {
    p->dcb = n;
    p->dcbSet = true;
  }
  return 1;
}
int GetCommTimeouts(Handle h, COMMTIMEOUTS* timeouts) {
  Port* p = FindPort(h);
  if (NetOf(p) != nullptr) {
    // The port never blocks: the time-outs are kept for the program only.
    std::memcpy(timeouts, &p->timeouts, sizeof p->timeouts);
    ::SetLastError(ERROR_SUCCESS);
    return 1;
  }
  ::COMMTIMEOUTS n{};
  BOOL ok = TRUE;
  if (p == nullptr || Present(*p)) ok = ::GetCommTimeouts(NativeFor(h), &n);
  if (p != nullptr && ok && p->native != INVALID_HANDLE_VALUE) p->timeouts = n;
  if (!ok && WentAway(p)) ok = TRUE;
  if (p != nullptr && p->native == INVALID_HANDLE_VALUE) n = p->timeouts;
  std::memcpy(timeouts, &n, sizeof n);
  return ok;
}
int SetCommTimeouts(Handle h, const COMMTIMEOUTS* timeouts) {
  Port* p = FindPort(h);
  ::COMMTIMEOUTS n{};
  std::memcpy(&n, timeouts, sizeof n);
  if (NetOf(p) != nullptr) {
    p->timeouts = n;
    p->timeoutsSet = true;
    ::SetLastError(ERROR_SUCCESS);
    return 1;
  }
  if ((p == nullptr || Present(*p)) && !::SetCommTimeouts(NativeFor(h), &n) &&
      !WentAway(p)) {
    return 0;
  }
  if (p != nullptr) {
    p->timeouts = n;
    p->timeoutsSet = true;
  }
  return 1;
}
int PurgeComm(Handle h, std::uint32_t flags) {
  Port* p = FindPort(h);
  if (net::NetPort* port = NetOf(p)) {
    port->Purge(flags);
    ::SetLastError(ERROR_SUCCESS);
    return 1;
  }
  if (p != nullptr && !Present(*p)) return 1;
  if (p != nullptr && (flags & PURGE_RXCLEAR) != 0) p->held = -1;
  return ::PurgeComm(NativeFor(h), flags) || WentAway(p);
}
std::uint32_t GetCommPathDelay(Handle h) {
  net::NetPort* port = NetOf(FindPort(h));
  return port != nullptr ? port->PathDelayMs() : 0;
}
int ClearCommError(Handle h, std::uint32_t* errors, COMSTAT* stat) {
  Port* p = FindPort(h);
  if (net::NetPort* port = NetOf(p)) {
    // Also where a lost connection is tried again, when due.
    const std::uint32_t held = port->Pending();
    if (errors) *errors = 0;
    if (stat) *stat = COMSTAT{held, 0};
    ::SetLastError(ERROR_SUCCESS);
    return 1;
  }
  DWORD e = 0;
  ::COMSTAT s{};
  BOOL ok = TRUE;
  if (p == nullptr || Present(*p)) {
    ok = ::ClearCommError(NativeFor(h), &e, &s) || WentAway(p);
  }
  if (errors) *errors = e;
  if (stat) {
    stat->cbInQue = s.cbInQue + (p != nullptr && p->held >= 0 ? 1 : 0);
    stat->cbOutQue = s.cbOutQue;
  }
  return ok;
}
int ReadFile(Handle h, void* buffer, std::uint32_t toRead,
             std::uint32_t* read) {
  Port* p = FindPort(h);
  if (net::NetPort* port = NetOf(p)) {
    const std::uint32_t got = toRead == 0 ? 0 : port->Read(buffer, toRead);
    if (read) *read = got;
    ::SetLastError(ERROR_SUCCESS);
    return 1;
  }
  if (p != nullptr && p->held >= 0 && toRead > 0) {
    *static_cast<std::uint8_t*>(buffer) = static_cast<std::uint8_t>(p->held);
    p->held = -1;
    if (read) *read = 1;
    return 1;
  }
  DWORD n = 0;
  BOOL ok = TRUE;
  if (p == nullptr) {
    ok = ::ReadFile(AsNative(h), buffer, toRead, &n, nullptr);
  } else if (Present(*p)) {
    ::OVERLAPPED ov = IoFor(*p);
    ok = Finish(p->native, ::ReadFile(p->native, buffer, toRead, nullptr, &ov), ov, &n) ||
         WentAway(p);
  }
  if (read) *read = n;
  return ok;
}
int WriteFile(Handle h, const void* buffer, std::uint32_t toWrite,
              std::uint32_t* written) {
  Port* p = FindPort(h);
  if (net::NetPort* port = NetOf(p)) {
    if (port->Write(buffer, toWrite, written)) {
      ::SetLastError(ERROR_SUCCESS);
      return 1;
    }
    ::SetLastError(ERROR_GEN_FAILURE);
    return 0;
  }
  DWORD n = toWrite;  // a gone device's bytes go down a pulled cable
  BOOL ok = TRUE;
  if (p == nullptr || p->native != INVALID_HANDLE_VALUE) {
    n = 0;
    if (p == nullptr) {
      ok = ::WriteFile(AsNative(h), buffer, toWrite, &n, nullptr);
    } else {
      ::OVERLAPPED ov = IoFor(*p);
      ok = Finish(p->native, ::WriteFile(p->native, buffer, toWrite, nullptr, &ov), ov, &n);
    }
    if (!ok && WentAway(p)) {
      ok = TRUE;
      n = toWrite;
    }
  }
  if (written) *written = n;
  return ok;
}

// Network ports are COM names too, their address the target.
std::uint32_t QueryDosDeviceA(const char* deviceName, char* targetPath,
                              std::uint32_t max) {
  const std::vector<int> netPorts = NetPorts();
  std::string out;
  if (deviceName != nullptr) {
    out = NetUrlFor(ParseComName(deviceName));
    if (out.empty()) return ::QueryDosDeviceA(deviceName, targetPath, max);
    out += '\0';
    out += '\0';
  } else if (netPorts.empty()) {
    return ::QueryDosDeviceA(nullptr, targetPath, max);
  } else {
    std::vector<char> names(1 << 16);
    DWORD size = 0;
    while ((size = ::QueryDosDeviceA(nullptr, names.data(),
                                     static_cast<DWORD>(names.size()))) == 0 &&
           ::GetLastError() == ERROR_INSUFFICIENT_BUFFER &&
           names.size() < (1u << 22)) {
      names.resize(names.size() * 2);
    }
    out = win32::WithPorts(names.data(), size, netPorts);
  }
  if (out.size() > max) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(targetPath, out.data(), out.size());
  ::SetLastError(ERROR_SUCCESS);
  return static_cast<std::uint32_t>(out.size());
}

namespace {

LONGLONG NowMicros() {
  static const LONGLONG perSecond = [] {
    LARGE_INTEGER f{};
    return ::QueryPerformanceFrequency(&f) ? f.QuadPart : 0;
  }();
  LARGE_INTEGER c{};
  if (perSecond == 0 || !::QueryPerformanceCounter(&c)) {
    return static_cast<LONGLONG>(::GetTickCount64()) * 1000;
  }
  return c.QuadPart / perSecond * 1000000 +
         c.QuadPart % perSecond * 1000000 / perSecond;
}

// A pause that waits for a byte on the one open device, or a key: a read
// whose comm time-outs end it at the first byte, or after `ms` with none,
// awaited beside the console's input. The byte is held for the program's
// next read. False when it cannot wait so (no such port, or more than one,
// or a byte already held).
bool WaitForByte(DWORD ms, bool& came) {
  Port* only = nullptr;
  for (auto& [handle, port] : g_ports) {
    if (port.net || port.native == INVALID_HANDLE_VALUE) continue;
    if (only != nullptr) return false;
    only = &port;
  }
  if (only == nullptr || only->held >= 0 || !only->timeoutsSet) return false;
  ::COMMTIMEOUTS wait = only->timeouts;
  wait.ReadIntervalTimeout = MAXDWORD;
  wait.ReadTotalTimeoutMultiplier = MAXDWORD;
  wait.ReadTotalTimeoutConstant = ms;
  if (!::SetCommTimeouts(only->native, &wait)) return false;
  std::uint8_t byte = 0;
  DWORD n = 0;
  ::OVERLAPPED ov = IoFor(*only);
  const BOOL started = ::ReadFile(only->native, &byte, 1, nullptr, &ov);
  const bool pending = !started && ::GetLastError() == ERROR_IO_PENDING;
  if (!started && !pending) {
    // It did not wait: the caller's plain pause must, or the polls spin.
    ::SetCommTimeouts(only->native, &only->timeouts);
    return false;
  }
  if (pending) {
    // Input the program left queued (no key) would end every pause at once.
    DWORD queued = 0;
    const bool keys = g_conin != INVALID_HANDLE_VALUE &&
                      ::GetNumberOfConsoleInputEvents(g_conin, &queued) && queued == 0;
    const HANDLE waits[2] = {ov.hEvent, g_conin};
    if (::WaitForMultipleObjects(keys ? 2 : 1, waits, FALSE, ms + 1) != WAIT_OBJECT_0) {
      ::CancelIo(only->native);
    }
  }
  // After a cancel the read may still have taken its byte.
  const BOOL ok = ::GetOverlappedResult(only->native, &ov, &n, TRUE);
  ::SetCommTimeouts(only->native, &only->timeouts);
  came = ok && n == 1;
  if (came) only->held = byte;
  return true;
}

}  // namespace

// A pause of a millisecond is a poll's. Within a run of empty polls (a
// reply awaited) each waits up to a scheduler tick for a byte, so that such
// a wait costs 64 wake-ups a second, not a thousand, and ends as soon as
// the byte comes; the program's waits are timed, not counted. A lone poll
// stays a millisecond.
void Sleep(std::uint32_t ms) {
  if (ms != 1) return ::Sleep(ms);
  const bool idleRun = g_idlePollEnd >= 0 && NowMicros() - g_idlePollEnd < 2000;
  bool came = false;
  if (!idleRun || !WaitForByte(16, came)) ::Sleep(ms);
  g_idlePollEnd = came ? -1 : NowMicros();
}

std::uint64_t GetTickCount64() { return ::GetTickCount64(); }

bool QueryPerformanceCounter(std::int64_t* count) {
  LARGE_INTEGER value{};
  if (::QueryPerformanceCounter(&value) == 0) return false;
  *count = value.QuadPart;
  return true;
}

bool QueryPerformanceFrequency(std::int64_t* frequency) {
  LARGE_INTEGER value{};
  if (::QueryPerformanceFrequency(&value) == 0) return false;
  *frequency = value.QuadPart;
  return true;
}

bool ShowOnExit(const char* text) {
  // The console keeps the program's last screen: only a redirected
  // standard error can take the lines.
  DWORD mode = 0;
  if (::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode)) return false;
  SetExitText(text);
  return true;
}

void ExitProcess(std::uint32_t code) {
  EndFinerTimer();
  PrintEndLines();
  std::fflush(nullptr);
  std::exit(static_cast<int>(code));
}

void ReportRuntimeError(const char* message) {
  // Once the program paints the console, it has shown the message there
  // itself; standard error on that same console would show it twice.
  DWORD mode = 0;
  if (g_screenOpen && ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode)) {
    return;
  }
  std::fprintf(stderr, "%s\n", message != nullptr ? message : "");
  std::fflush(stderr);
}

bool HandleCommandLine(int argc, char** argv, int* exitCode) {
  return HandleOptions(argc, argv, exitCode, PrintPorts, false);
}

// The device namespace is Windows' own: there is nothing to set up.
const char* SerialPortHint() { return ""; }

}  // namespace plat
