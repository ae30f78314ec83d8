// SPDX-License-Identifier: MIT
// The POSIX console's seam calls that neither draw nor read keys: handles,
// modes, title, bell, clocks and the end of the process.
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/emu/emu_seam.h"
#include "platform/posix/terminal.h"
#include "platform/shared/end_notes.h"

namespace plat::emu {

EmuConsole* ConsoleFor(Handle h) {
  return posix::Ready(h) ? &posix::Terminal().console : nullptr;
}

// The terminal shows the buffer by its own changes.
void NoteWritten(const SMALL_RECT&) {}

}  // namespace plat::emu

namespace plat {

using posix::FlushScreen;
using posix::kConsoleInput;
using posix::kConsoleOutput;
using posix::Ready;
using posix::Terminal;

Handle CreateFileA(const char* name, std::uint32_t, std::uint32_t,
                   std::uint32_t, std::uint32_t) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (std::strcmp(name, "CONIN$") == 0) {
    SetLastError(ERROR_SUCCESS);
    return kConsoleInput;
  }
  if (std::strcmp(name, "CONOUT$") == 0) {
    // Whether a terminal is there shows in GetConsoleScreenBufferInfo.
    posix::StartConsole();
    SetLastError(ERROR_SUCCESS);
    return kConsoleOutput;
  }
  return posix::OpenSerial(name);
}

int CloseHandle(Handle h) {
  if (posix::IsConsoleHandle(h)) return 1;
  if (posix::IsSerialHandle(h)) return posix::CloseSerial(h);
  SetLastError(ERROR_INVALID_HANDLE);
  return 0;
}

int SetConsoleMode(Handle h, std::uint32_t) {
  // The terminal is always raw: no line input, echo or processed keys.
  if (!posix::IsConsoleHandle(h)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return 1;
}

int SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, int add) {
  if (handler == nullptr) return 1;
  if (add) {
    posix::g_ctrlHandler = handler;
    posix::StartSignalThread();
  } else {
    PHANDLER_ROUTINE expected = handler;
    posix::g_ctrlHandler.compare_exchange_strong(expected, nullptr);
  }
  return 1;
}

int GetConsoleScreenBufferInfo(Handle h, CONSOLE_SCREEN_BUFFER_INFO* info) {
  if (posix::IsConsoleHandle(h)) posix::StartConsole();
  if (!Ready(h)) return 0;
  return Terminal().console.GetInfo(info);
}

int SetConsoleTitleA(const char* title) {
  std::string raw = title != nullptr ? title : "";
  Terminal().console.SetTitle(raw);
  if (Terminal().active) {
    posix::WriteTitle(posix::SanitiseTitle(raw.c_str(), Terminal().charset));
  }
  return 1;
}

int Beep(std::uint32_t, std::uint32_t) {
  // The terminal bell has no pitch or length; nothing waits for it.
  posix::TerminalState& s = Terminal();
  if (!s.active || s.screen == nullptr) return 0;
  std::lock_guard<std::timed_mutex> lock(posix::g_curses);
  if (s.active) beep();
  return 1;
}

void ExitProcess(std::uint32_t code) {
  posix::EndProcess(static_cast<int>(code));
}

std::uint64_t GetTickCount64() {
  return static_cast<std::uint64_t>(posix::MonotonicMs());
}

bool QueryPerformanceCounter(std::int64_t* count) {
  timespec ts{};
  if (::clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return false;
  *count = static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  return true;
}

bool QueryPerformanceFrequency(std::int64_t* frequency) {
  *frequency = 1000000000;
  return true;
}

bool ShowOnExit(const char* text) {
  SetExitText(text);
  return true;
}

void ReportRuntimeError(const char* message) {
  // A console failing under an exit in progress is no error to report.
  if (posix::g_exiting) return;
  // The program has shown it on its screen, which stays after the restore;
  // standard error on that same terminal would show it twice.
  const bool shown = Terminal().active && ::isatty(STDERR_FILENO) == 1;
  posix::RestoreTerminal();
  if (shown) return;
  std::fprintf(stderr, "%s\n", message != nullptr ? message : "");
  std::fflush(stderr);
}

}  // namespace plat
