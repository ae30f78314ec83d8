// Win32: the seam passes straight through to the real console, serial and
// sleep calls. Only record layouts are translated where the Windows headers
// declare unions or bit fields.
// The seam's header comes first: windows.h turns many of its constant names
// into macros, which must not reach the seam's own declarations.
#include "platform/platform.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace plat {
namespace {

static_assert(sizeof(::DCB) == sizeof(DCB), "DCB layout");
static_assert(sizeof(::COMMTIMEOUTS) == sizeof(COMMTIMEOUTS), "time-outs");

HANDLE H(Handle h) { return reinterpret_cast<HANDLE>(h); }
::COORD C(COORD c) { return ::COORD{c.X, c.Y}; }
::SMALL_RECT R(const SMALL_RECT& r) {
  return ::SMALL_RECT{r.Left, r.Top, r.Right, r.Bottom};
}
SMALL_RECT R(const ::SMALL_RECT& r) {
  return SMALL_RECT{r.Left, r.Top, r.Right, r.Bottom};
}

void FromNative(const ::INPUT_RECORD& in, INPUT_RECORD& out) {
  out = INPUT_RECORD{};
  out.EventType = in.EventType;
  if (in.EventType == KEY_EVENT) {
    const auto& k = in.Event.KeyEvent;
    out.KeyEvent.bKeyDown = k.bKeyDown;
    out.KeyEvent.wRepeatCount = k.wRepeatCount;
    out.KeyEvent.wVirtualKeyCode = k.wVirtualKeyCode;
    out.KeyEvent.wVirtualScanCode = k.wVirtualScanCode;
    out.KeyEvent.AsciiChar = k.uChar.AsciiChar;
    out.KeyEvent.dwControlKeyState = k.dwControlKeyState;
  }
}

PHANDLER_ROUTINE g_handler = nullptr;
BOOL WINAPI HandlerTrampoline(DWORD event) {
  return g_handler ? g_handler(event) : FALSE;
}

}  // namespace

Handle CreateFileA(const char* name, std::uint32_t desiredAccess,
                   std::uint32_t shareMode, std::uint32_t creationDisposition,
                   std::uint32_t flagsAndAttributes) {
  HANDLE h = ::CreateFileA(name, desiredAccess, shareMode, nullptr,
                           creationDisposition, flagsAndAttributes, nullptr);
  // Here INVALID_HANDLE_VALUE is the Windows macro; the seam's value is -1.
  return h == INVALID_HANDLE_VALUE ? Handle{-1} : reinterpret_cast<Handle>(h);
}
int CloseHandle(Handle h) { return ::CloseHandle(H(h)); }
std::uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(std::uint32_t code) { ::SetLastError(code); }

int SetConsoleMode(Handle h, std::uint32_t mode) {
  return ::SetConsoleMode(H(h), mode);
}
int SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, int add) {
  g_handler = handler;
  return ::SetConsoleCtrlHandler(HandlerTrampoline, add);
}
int GetConsoleScreenBufferInfo(Handle h, CONSOLE_SCREEN_BUFFER_INFO* info) {
  ::CONSOLE_SCREEN_BUFFER_INFO n{};
  if (!::GetConsoleScreenBufferInfo(H(h), &n)) return 0;
  info->dwSize = {n.dwSize.X, n.dwSize.Y};
  info->dwCursorPosition = {n.dwCursorPosition.X, n.dwCursorPosition.Y};
  info->wAttributes = n.wAttributes;
  info->srWindow = R(n.srWindow);
  info->dwMaximumWindowSize = {n.dwMaximumWindowSize.X,
                               n.dwMaximumWindowSize.Y};
  return 1;
}
int SetConsoleCursorPosition(Handle h, COORD pos) {
  return ::SetConsoleCursorPosition(H(h), C(pos));
}
int SetConsoleScreenBufferSize(Handle h, COORD size) {
  return ::SetConsoleScreenBufferSize(H(h), C(size));
}
int SetConsoleWindowInfo(Handle h, int absolute, const SMALL_RECT* window) {
  ::SMALL_RECT r = R(*window);
  return ::SetConsoleWindowInfo(H(h), absolute, &r);
}
int WriteConsoleOutputA(Handle h, const CHAR_INFO* buffer, COORD bufferSize,
                        COORD bufferCoord, SMALL_RECT* writeRegion) {
  const std::size_t n = static_cast<std::size_t>(bufferSize.X > 0 ? bufferSize.X : 0) *
                        static_cast<std::size_t>(bufferSize.Y > 0 ? bufferSize.Y : 0);
  std::vector<::CHAR_INFO> cells(n);
  for (std::size_t i = 0; i < n; ++i) {
    cells[i].Char.AsciiChar = buffer[i].AsciiChar;
    cells[i].Attributes = buffer[i].Attributes;
  }
  ::SMALL_RECT r = R(*writeRegion);
  const BOOL ok = ::WriteConsoleOutputA(H(h), cells.data(), C(bufferSize),
                                        C(bufferCoord), &r);
  *writeRegion = R(r);
  return ok;
}
int ScrollConsoleScreenBufferA(Handle h, const SMALL_RECT* scrollRect,
                               const SMALL_RECT* clipRect, COORD destOrigin,
                               const CHAR_INFO* fill) {
  ::SMALL_RECT s = R(*scrollRect);
  ::SMALL_RECT c{};
  if (clipRect) c = R(*clipRect);
  ::CHAR_INFO f{};
  f.Char.AsciiChar = fill->AsciiChar;
  f.Attributes = fill->Attributes;
  return ::ScrollConsoleScreenBufferA(H(h), &s, clipRect ? &c : nullptr,
                                      C(destOrigin), &f);
}
int FillConsoleOutputCharacterA(Handle h, char c, std::uint32_t length,
                                COORD at, std::uint32_t* written) {
  DWORD n = 0;
  const BOOL ok = ::FillConsoleOutputCharacterA(H(h), c, length, C(at), &n);
  if (written) *written = n;
  return ok;
}
int FillConsoleOutputAttribute(Handle h, std::uint16_t attribute,
                               std::uint32_t length, COORD at,
                               std::uint32_t* written) {
  DWORD n = 0;
  const BOOL ok =
      ::FillConsoleOutputAttribute(H(h), attribute, length, C(at), &n);
  if (written) *written = n;
  return ok;
}
int GetNumberOfConsoleInputEvents(Handle h, std::uint32_t* count) {
  DWORD n = 0;
  const BOOL ok = ::GetNumberOfConsoleInputEvents(H(h), &n);
  *count = n;
  return ok;
}
int PeekConsoleInputA(Handle h, INPUT_RECORD* buffer, std::uint32_t length,
                      std::uint32_t* read) {
  std::vector<::INPUT_RECORD> recs(length ? length : 1);
  DWORD n = 0;
  const BOOL ok = ::PeekConsoleInputA(H(h), recs.data(), length, &n);
  for (DWORD i = 0; i < n; ++i) FromNative(recs[i], buffer[i]);
  *read = n;
  return ok;
}
int ReadConsoleInputA(Handle h, INPUT_RECORD* buffer, std::uint32_t length,
                      std::uint32_t* read) {
  std::vector<::INPUT_RECORD> recs(length ? length : 1);
  DWORD n = 0;
  const BOOL ok = ::ReadConsoleInputA(H(h), recs.data(), length, &n);
  for (DWORD i = 0; i < n; ++i) FromNative(recs[i], buffer[i]);
  *read = n;
  return ok;
}
int SetConsoleTitleA(const char* title) { return ::SetConsoleTitleA(title); }
int Beep(std::uint32_t frequency, std::uint32_t durationMs) {
  return ::Beep(frequency, durationMs);
}

int GetCommState(Handle h, DCB* dcb) {
  ::DCB n{};
  n.DCBlength = sizeof n;
  const BOOL ok = ::GetCommState(H(h), &n);
  std::memcpy(dcb, &n, sizeof n);
  return ok;
}
int SetCommState(Handle h, const DCB* dcb) {
  ::DCB n{};
  std::memcpy(&n, dcb, sizeof n);
  return ::SetCommState(H(h), &n);
}
int GetCommTimeouts(Handle h, COMMTIMEOUTS* timeouts) {
  ::COMMTIMEOUTS n{};
  const BOOL ok = ::GetCommTimeouts(H(h), &n);
  std::memcpy(timeouts, &n, sizeof n);
  return ok;
}
int SetCommTimeouts(Handle h, const COMMTIMEOUTS* timeouts) {
  ::COMMTIMEOUTS n{};
  std::memcpy(&n, timeouts, sizeof n);
  return ::SetCommTimeouts(H(h), &n);
}
int PurgeComm(Handle h, std::uint32_t flags) {
  return ::PurgeComm(H(h), flags);
}
int ClearCommError(Handle h, std::uint32_t* errors, COMSTAT* stat) {
  DWORD e = 0;
  ::COMSTAT s{};
  const BOOL ok = ::ClearCommError(H(h), &e, &s);
  if (errors) *errors = e;
  if (stat) {
    stat->cbInQue = s.cbInQue;
    stat->cbOutQue = s.cbOutQue;
  }
  return ok;
}
int ReadFile(Handle h, void* buffer, std::uint32_t toRead,
             std::uint32_t* read) {
  DWORD n = 0;
  const BOOL ok = ::ReadFile(H(h), buffer, toRead, &n, nullptr);
  if (read) *read = n;
  return ok;
}
int WriteFile(Handle h, const void* buffer, std::uint32_t toWrite,
              std::uint32_t* written) {
  DWORD n = 0;
  const BOOL ok = ::WriteFile(H(h), buffer, toWrite, &n, nullptr);
  if (written) *written = n;
  return ok;
}

void Sleep(std::uint32_t ms) { ::Sleep(ms); }

void ExitProcess(std::uint32_t code) {
  std::fflush(nullptr);
  std::exit(static_cast<int>(code));
}

void ReportRuntimeError(const char* message) {
  std::fprintf(stderr, "%s\n", message);
}

bool HandleCommandLine(int argc, char** argv, int* exitCode) {
  if (argc <= 1) return false;
  const char* arg = argv[1];
  if (std::strcmp(arg, "--version") == 0) {
    std::printf("zrvmon %s\n", ZRV_VERSION);
    *exitCode = 0;
  } else if (std::strcmp(arg, "--help") == 0) {
    std::printf(
        "zrvmon - monitor for the controller of a ZRV climate unit\n\n"
        "Start it without arguments and type the COM port number at the\n"
        "prompt. Hot keys while polling: R resets the operating counters,\n"
        "T opens a raw command terminal, Esc quits.\n");
    *exitCode = 0;
  } else {
    std::fprintf(stderr, "zrvmon: unknown option '%s' (try --help)\n", arg);
    *exitCode = 2;
  }
  return true;
}

}  // namespace plat
