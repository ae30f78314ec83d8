// SPDX-License-Identifier: MIT
// The operating-system seam. Everything the program asks of the OS goes
// through these calls, which mirror the Win32 console, serial and sleep calls
// one for one (same names, same argument order, same result conventions), so
// that the program reads the same on every target. One implementation per
// target is linked in: win32 (pass-through), posix (emulated console over
// ncursesw, termios serial) and fake (tests, virtual time).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace plat {

using Handle = std::intptr_t;
inline constexpr Handle INVALID_HANDLE_VALUE = -1;

// ---- error codes (GetLastError) --------------------------------------------
inline constexpr std::uint32_t ERROR_SUCCESS = 0;
inline constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr std::uint32_t ERROR_GEN_FAILURE = 31;
inline constexpr std::uint32_t ERROR_SHARING_VIOLATION = 32;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER = 122;

// ---- CreateFileA flags -----------------------------------------------------
inline constexpr std::uint32_t GENERIC_READ = 0x80000000u;
inline constexpr std::uint32_t GENERIC_WRITE = 0x40000000u;
inline constexpr std::uint32_t FILE_SHARE_READ = 0x1;
inline constexpr std::uint32_t FILE_SHARE_WRITE = 0x2;
inline constexpr std::uint32_t OPEN_EXISTING = 3;
inline constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

// ---- console structures ----------------------------------------------------
struct COORD {
  std::int16_t X;
  std::int16_t Y;
};

struct SMALL_RECT {
  std::int16_t Left;
  std::int16_t Top;
  std::int16_t Right;
  std::int16_t Bottom;
};

struct CHAR_INFO {
  char AsciiChar;  // a byte of the console code page
  std::uint16_t Attributes;
};

struct CONSOLE_SCREEN_BUFFER_INFO {
  COORD dwSize;
  COORD dwCursorPosition;
  std::uint16_t wAttributes;
  SMALL_RECT srWindow;
  COORD dwMaximumWindowSize;
};

inline constexpr std::uint16_t KEY_EVENT = 0x0001;
inline constexpr std::uint16_t MOUSE_EVENT = 0x0002;
inline constexpr std::uint16_t WINDOW_BUFFER_SIZE_EVENT = 0x0004;
inline constexpr std::uint16_t MENU_EVENT = 0x0008;
inline constexpr std::uint16_t FOCUS_EVENT = 0x0010;

inline constexpr std::uint32_t RIGHT_ALT_PRESSED = 0x0001;
inline constexpr std::uint32_t LEFT_ALT_PRESSED = 0x0002;
inline constexpr std::uint32_t RIGHT_CTRL_PRESSED = 0x0004;
inline constexpr std::uint32_t LEFT_CTRL_PRESSED = 0x0008;
inline constexpr std::uint32_t SHIFT_PRESSED = 0x0010;
inline constexpr std::uint32_t NUMLOCK_ON = 0x0020;
inline constexpr std::uint32_t SCROLLLOCK_ON = 0x0040;
inline constexpr std::uint32_t CAPSLOCK_ON = 0x0080;
inline constexpr std::uint32_t ENHANCED_KEY = 0x0100;

struct KEY_EVENT_RECORD {
  std::int32_t bKeyDown;
  std::uint16_t wRepeatCount;
  std::uint16_t wVirtualKeyCode;
  std::uint16_t wVirtualScanCode;
  char AsciiChar;  // a byte of the console code page, 0 when none
  std::uint32_t dwControlKeyState;
};

struct INPUT_RECORD {
  std::uint16_t EventType;
  KEY_EVENT_RECORD KeyEvent;  // meaningful when EventType is KEY_EVENT
};

inline constexpr std::uint32_t CTRL_C_EVENT = 0;
inline constexpr std::uint32_t CTRL_BREAK_EVENT = 1;
inline constexpr std::uint32_t CTRL_CLOSE_EVENT = 2;
inline constexpr std::uint32_t CTRL_LOGOFF_EVENT = 5;
inline constexpr std::uint32_t CTRL_SHUTDOWN_EVENT = 6;

using PHANDLER_ROUTINE = int (*)(std::uint32_t ctrlType);

// ---- serial structures -----------------------------------------------------
// The device-control block with its bit fields folded into one flag word
// (bit 0 fBinary, 1 fParity, 2 fOutxCtsFlow, 3 fOutxDsrFlow, 4-5 fDtrControl,
// 6 fDsrSensitivity, 7 fTXContinueOnXoff, 8 fOutX, 9 fInX, 10 fErrorChar,
// 11 fNull, 12-13 fRtsControl, 14 fAbortOnError), as laid out in memory.
struct DCB {
  std::uint32_t DCBlength;
  std::uint32_t BaudRate;
  std::uint32_t Flags;
  std::uint16_t wReserved;
  std::uint16_t XonLim;
  std::uint16_t XoffLim;
  std::uint8_t ByteSize;
  std::uint8_t Parity;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t StopBits;  // 0 one, 1 one and a half, 2 two
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  std::uint16_t wReserved1;
};

inline constexpr std::uint8_t NOPARITY = 0;
inline constexpr std::uint8_t ODDPARITY = 1;
inline constexpr std::uint8_t EVENPARITY = 2;
inline constexpr std::uint8_t ONESTOPBIT = 0;
inline constexpr std::uint8_t TWOSTOPBITS = 2;

struct COMMTIMEOUTS {
  std::uint32_t ReadIntervalTimeout;
  std::uint32_t ReadTotalTimeoutMultiplier;
  std::uint32_t ReadTotalTimeoutConstant;
  std::uint32_t WriteTotalTimeoutMultiplier;
  std::uint32_t WriteTotalTimeoutConstant;
};

struct COMSTAT {
  std::uint32_t cbInQue;
  std::uint32_t cbOutQue;
};

inline constexpr std::uint32_t PURGE_TXABORT = 0x0001;
inline constexpr std::uint32_t PURGE_RXABORT = 0x0002;
inline constexpr std::uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr std::uint32_t PURGE_RXCLEAR = 0x0008;

// ---- files, console and serial devices ------------------------------------
// Opens "CONIN$", "CONOUT$" or a serial device ("COM3", "\\.\COM12").
// On failure returns INVALID_HANDLE_VALUE; GetLastError tells why.
Handle CreateFileA(const char* name, std::uint32_t desiredAccess,
                   std::uint32_t shareMode, std::uint32_t creationDisposition,
                   std::uint32_t flagsAndAttributes);
int CloseHandle(Handle h);
std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

// ---- console ---------------------------------------------------------------
int SetConsoleMode(Handle h, std::uint32_t mode);
int SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, int add);
int GetConsoleScreenBufferInfo(Handle h, CONSOLE_SCREEN_BUFFER_INFO* info);
int SetConsoleCursorPosition(Handle h, COORD pos);
int SetConsoleScreenBufferSize(Handle h, COORD size);
int SetConsoleWindowInfo(Handle h, int absolute, const SMALL_RECT* window);
int WriteConsoleOutputA(Handle h, const CHAR_INFO* buffer, COORD bufferSize,
                        COORD bufferCoord, SMALL_RECT* writeRegion);
int ScrollConsoleScreenBufferA(Handle h, const SMALL_RECT* scrollRect,
                               const SMALL_RECT* clipRect, COORD destOrigin,
                               const CHAR_INFO* fill);
int FillConsoleOutputCharacterA(Handle h, char c, std::uint32_t length,
                                COORD at, std::uint32_t* written);
int FillConsoleOutputAttribute(Handle h, std::uint16_t attribute,
                               std::uint32_t length, COORD at,
                               std::uint32_t* written);
// Characters from `at` on, row after row, up to the buffer's end.
int ReadConsoleOutputCharacterA(Handle h, char* chars, std::uint32_t length,
                                COORD at, std::uint32_t* read);
int GetNumberOfConsoleInputEvents(Handle h, std::uint32_t* count);
int PeekConsoleInputA(Handle h, INPUT_RECORD* buffer, std::uint32_t length,
                      std::uint32_t* read);
// Blocks until at least one event is there (length >= 1).
int ReadConsoleInputA(Handle h, INPUT_RECORD* buffer, std::uint32_t length,
                      std::uint32_t* read);
int SetConsoleTitleA(const char* title);
int Beep(std::uint32_t frequency, std::uint32_t durationMs);

// ---- serial ----------------------------------------------------------------
int GetCommState(Handle h, DCB* dcb);
int SetCommState(Handle h, const DCB* dcb);
int GetCommTimeouts(Handle h, COMMTIMEOUTS* timeouts);
int SetCommTimeouts(Handle h, const COMMTIMEOUTS* timeouts);
int PurgeComm(Handle h, std::uint32_t flags);
int ClearCommError(Handle h, std::uint32_t* errors, COMSTAT* stat);
int ReadFile(Handle h, void* buffer, std::uint32_t toRead,
             std::uint32_t* read);
int WriteFile(Handle h, const void* buffer, std::uint32_t toWrite,
              std::uint32_t* written);
// Not a Win32 call: the time in milliseconds that the path to a port adds
// to every reply's round trip (a network port's connection: its smoothed
// round-trip time and four times its variation); 0 for a local line, or
// when the system does not say.
std::uint32_t GetCommPathDelay(Handle h);
// The device namespace: with deviceName null the names of all devices
// ("COM3\0COM4\0\0"), else the target of one ("\Device\Serial2",
// "/dev/ttyUSB0"), each ended by NUL and the list by another. Returns the
// characters stored including the NULs; 0 on failure, with
// ERROR_INSUFFICIENT_BUFFER when `max` is too small.
std::uint32_t QueryDosDeviceA(const char* deviceName, char* targetPath,
                              std::uint32_t max);

// ---- time and process ------------------------------------------------------
void Sleep(std::uint32_t ms);
// Milliseconds since some fixed moment, never going back. On Windows it
// moves in whole scheduler ticks (15.625 ms).
std::uint64_t GetTickCount64();
// A finer clock for timing the line: counts since some fixed moment, and
// counts per second.
bool QueryPerformanceCounter(std::int64_t* count);
bool QueryPerformanceFrequency(std::int64_t* frequency);

// Ends the process with the code, as the run-time library's normal
// termination does (the platform restores what it changed first). The test
// fake unwinds to the in-process entry instead of ending the process.
[[noreturn]] void ExitProcess(std::uint32_t code);

// The run-time library's error report for a fatal input/output or input
// error: shown to the user where a console user sees it (after the platform's
// screen is restored where that matters).
void ReportRuntimeError(const char* message);

// Not a Win32 call: what the command line asks of a run, the same on every
// target; the last of each option counts.
struct RunOptions {
  const char* Log = nullptr;      // --log FILE
  const char* Metrics = nullptr;  // --metrics FILE
  const char* Unit = nullptr;     // --unit NAME
  int Port = 0;                   // --port N, 1 to 128; 0: the prompt
  int LogInterval = 0;            // --log-interval SECONDS; 0: every cycle
  bool Headless = false;          // --headless (needs --port)
  // MQTT: the broker of --mqtt URL, taken apart, and what goes with it.
  const char* Mqtt = nullptr;
  std::string MqttHost;
  int MqttPort = 0;
  bool MqttTls = false;                     // mqtts://
  const char* MqttUser = nullptr;           // --mqtt-user NAME
  const char* MqttPasswordFile = nullptr;   // --mqtt-password-file FILE
  const char* MqttCa = nullptr;             // --mqtt-ca FILE
  int MqttInterval = 10;                    // --mqtt-interval SECONDS
  const char* MqttPrefix = "zrvmon";        // --mqtt-prefix P
  const char* HaPrefix = "homeassistant";   // --ha-prefix P
  bool HaDiscovery = true;                  // --no-ha-discovery
  bool MqttControl = false;                 // --mqtt-control
  const char* SetPointLimits = nullptr;     // --setpoint-limits LIMITS
};

// The options of the command line (--help and --version aside); false,
// with the reason, for anything else or a bad value.
bool ParseRunOptions(int argc, char** argv, RunOptions* out, std::string* why);

// Command-line options handled by the platform before the program starts
// (--help, --version on POSIX). Returns true when the process should end
// with *exitCode without running the program.
bool HandleCommandLine(int argc, char** argv, int* exitCode);

// Lines (each ended by a newline) for the user once the program has ended
// and the platform's screen is given back; each call replaces the last
// text. False where nothing can be shown then without writing over the
// program's screen (a Windows console).
bool ShowOnExit(const char* text);

// Not a Win32 call: `handler` runs on the program's own thread, within its
// next wait (a pause, a look at the console input), each time an unattended
// run is asked to reopen its files: SIGHUP, as daemons take it, on POSIX;
// never on Windows. Null removes it.
void SetReopenHandler(void (*handler)());

// Not a Win32 call: whether `path` still names the file open as `file`
// (the same volume and file index), so that a log renamed, removed or
// replaced under the program is noticed. False when nothing is at the path;
// true when the system cannot tell.
bool PathNamesFile(const char* path, std::FILE* file);

// How the user names a serial port the platform does not find by itself,
// for the port list at the prompt; empty where there is no such way.
const char* SerialPortHint();

}  // namespace plat
