// SPDX-License-Identifier: MIT
// The POSIX console's terminal between its files: the state of the
// terminal taken over, the lock around curses, and the steps every console
// call builds on.
#pragma once

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <poll.h>
#include <termios.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/emu/emu_console.h"
#include "platform/posix/posix_internal.h"

namespace plat::posix {

// How long an idle poll pause (Sleep(1)) lasts: a 64 Hz scheduler tick.
inline constexpr std::int64_t kPollPauseNs = 15625000;
// The least time between two terminal updates: about 30 a second, as often
// as an eye can tell, where each buffer change would otherwise cost one.
inline constexpr std::int64_t kFrameMs = 33;

struct Style {
  attr_t attrs = A_NORMAL;
  short pair = 0;
  bool known = false;
};

struct TerminalState {
  FILE* out = nullptr;
  FILE* in = nullptr;
  SCREEN* screen = nullptr;
  std::uint64_t shownVersion = ~std::uint64_t{0};
  std::int64_t lastRenderMs = 0;
  std::int64_t lastPumpMs = -1;  // when the terminal was last asked for keys
  // When the last poll pause ended with nothing come, or -1: the next one
  // right after it belongs to the same idle wait.
  std::int64_t idlePollEndNs = -1;
  std::vector<INPUT_RECORD> decoded;
  std::vector<pollfd> waitFds;
  std::vector<cchar_t> line;
  std::string titleStart, titleEnd;  // terminfo status line, when no OSC
  KeyDecoder keys;
  emu::EmuConsole console;
  int fd = -1;    // curses' output, and the terminal modes
  int inFd = -1;  // non-blocking reads of the keys
  Charset charset = Charset::kUtf8;
  int colours = 0;
  int pairs = 0;
  termios saved{};
  Style styles[256];
  short nextPair = 1;
  short pairOf[16][16] = {};
  bool tried = false;
  std::atomic<bool> active{false};
  // Set by the benchmark alone: every pause lasts its full time, as a plain
  // sleep does, so the two can be measured side by side.
  bool plainSleep = false;
  bool keyTaken = false;  // a key was read since the last update
  // The last update came from a poll: the next waits for its frame. One
  // from elsewhere (the start, a wait for a key) ends a quiet spell, and
  // the first change after it shows at once.
  bool pollRendered = false;
  bool titleByOsc = false;
};

// The one terminal; never destroyed: exit paths from any thread may use it.
TerminalState& Terminal();

// Held around every use of curses, so that a restore from the signal
// thread never interleaves with a repaint.
extern std::timed_mutex g_curses;
extern std::atomic<PHANDLER_ROUTINE> g_ctrlHandler;
// Set by the first thread to end the process: the main thread's exit and
// the signal thread's must never run side by side.
extern std::atomic<bool> g_exiting;

bool IsConsoleHandle(Handle h);
// The console calls need a started console on a console handle; else the
// last error says the handle is invalid.
bool Ready(Handle h);

void WriteRaw(int fd, const std::string& seq);
// Brings the terminal up to date with the buffer. `throttled`: from a poll,
// which repaints at most once a frame after a poll's update, unless the
// program has taken a key since (what it echoes must show at once).
void FlushScreen(bool throttled);
// Nanoseconds from now until a deferred update falls due; -1 with none.
std::int64_t FrameDueInNs();
void WriteTitle(const std::string& text);

// Another thread is ending the process; this one waits to go with it, for
// a while at most.
[[noreturn]] void WaitForExit(int code);
// Gives the terminal back, tells the end lines and ends the process.
[[noreturn]] void EndProcess(int code);

// Reads what the terminal has sent, waiting at most waitNs (-1: until
// something arrives or a signal wakes the wait), and queues the keys. With
// `serial`, the wait also ends when a reply byte reaches an open port;
// true then.
bool PumpInput(std::int64_t waitNs, bool serial = false);
// A keyboard poll. The program polls several times a millisecond while it
// waits for the controller; the terminal is asked at most once in each, so
// a key waits a millisecond at most.
void PollInput();

}  // namespace plat::posix
