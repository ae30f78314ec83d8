// SPDX-License-Identifier: MIT
// The console on a terminal: the emulated console buffer holds the screen
// as a Windows console would; this file takes the terminal over, shows the
// buffer on it with ncursesw and gives it back. Output reaches the terminal
// at once before a wait for a key, and at most once a frame from the pauses
// and polls, which the program makes every millisecond and which must stay
// cheap.
#include <fcntl.h>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/terminal.h"
#include "platform/shared/end_notes.h"

namespace plat {

namespace {
thread_local std::uint32_t t_lastError = 0;
}  // namespace

std::uint32_t GetLastError() { return t_lastError; }
void SetLastError(std::uint32_t code) { t_lastError = code; }

}  // namespace plat

namespace plat::posix {

namespace {

constexpr int kMaxConsoleSide = 1024;
// An ordinary exit takes milliseconds; the terminal is given back before
// the exit proper starts.
constexpr long kExitGraceMs = 500;
// xterm's title stack (tmux keeps one too): the title found at the start is
// pushed before the program sets its own and popped on the way out.
constexpr char kPushTitle[] = "\x1B[22;0t";
constexpr char kPopTitle[] = "\x1B[23;0t";

}  // namespace

TerminalState& Terminal() {
  static TerminalState* s = new TerminalState;
  return *s;
}

// Held around every use of curses, so that a restore from the signal
// thread never interleaves with a repaint.
std::timed_mutex g_curses;
std::atomic<PHANDLER_ROUTINE> g_ctrlHandler{nullptr};
// Set by the first thread to end the process: the main thread's exit and
// the signal thread's must never run side by side.
std::atomic<bool> g_exiting{false};

bool IsConsoleHandle(Handle h) {
  return h == kConsoleInput || h == kConsoleOutput;
}

// The console calls need a started console on a console handle.
bool Ready(Handle h) {
  if (!IsConsoleHandle(h) || !Terminal().active) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}

namespace {

char* TermCap(const char* cap) {
  char* s = tigetstr(cap);
  // (char*)-1 is how tigetstr says the name is no string capability.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  return s == reinterpret_cast<char*>(-1) ? nullptr : s;
}

std::string TermString(const char* cap) {
  const char* s = TermCap(cap);
  return s != nullptr ? s : "";
}

// The screen is drawn on the terminal's normal screen, so that the last one
// stays there for the operator after the exit. newterm has already queued
// the switch to the alternate screen: that goes out first, then the way
// back; the two capabilities are emptied in place so that curses never
// switches again (endwin included). Returns what to write after curses'
// output. Caller holds g_curses.
std::string StayOnNormalScreen() {
  char* enter = TermCap("smcup");
  char* leave = TermCap("rmcup");
  std::string back;
  if (enter != nullptr && *enter != '\0' && leave != nullptr) back = leave;
  for (char* cap : {enter, leave}) {
    if (cap != nullptr) *cap = '\0';
  }
  return back;
}

}  // namespace

void WriteRaw(int fd, const std::string& seq) {
  for (std::size_t done = 0; done < seq.size();) {
    ssize_t n = ::write(fd, seq.data() + done, seq.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
}

namespace {

// The last buffer row holding text; -1 when there is none.
int LastUsedRow() {
  const emu::EmuConsole& c = Terminal().console;
  const int rows = std::min(c.Height(), LINES);
  const int cols = std::min(c.Width(), COLS);
  for (int y = rows - 1; y >= 0; --y) {
    for (int x = 0; x < cols; ++x) {
      const emu::Cell& cell = c.At(x, y);
      if (cell.ch != ' ' && cell.ch != '\0') return y;
    }
  }
  return -1;
}

// The user's locale tells what the terminal takes; it is read before it is
// changed. Only the character type is taken from the environment: numbers
// keep being written and read the C way.
void ChooseEncoding() {
  TerminalState& s = Terminal();
  std::setlocale(LC_CTYPE, "");
  const char* found = nl_langinfo(CODESET);
  const std::string codeset = found != nullptr ? found : "";
  s.charset =
      ChooseCharset(codeset.c_str(), std::getenv("TERM"), std::getenv("TMUX"));
  s.keys.SetInputBytes(ChooseInputBytes(s.charset, codeset.c_str()));
  // ASCII needs nothing of the locale. UTF-8 glyphs need a UTF-8 locale
  // for curses; multiplexer panes often come without LANG.
  if (s.charset == Charset::kAscii || CodesetIsUtf8(codeset.c_str())) return;
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
    std::setlocale(LC_CTYPE, "C.utf8");
  }
}

Style StyleFor(std::uint16_t attribute) {
  TerminalState& s = Terminal();
  Style& st = s.styles[attribute & 0xFF];
  if (st.known) return st;
  st.known = true;
  TermColours c = MapAttribute(attribute, s.colours);
  if (s.colours == 0) {  // monochrome: keep at least light-on-dark apart
    st.attrs = (c.fg >= 8 || c.bold ? A_BOLD : A_NORMAL) |
               ((c.bg & 7) != 0 ? A_REVERSE : A_NORMAL);
    return st;
  }
  st.attrs = c.bold ? A_BOLD : A_NORMAL;
  short& pair = s.pairOf[c.fg & 15][c.bg & 15];
  if (pair == 0 && s.nextPair < s.pairs && s.nextPair < 32767) {
    if (init_pair(s.nextPair, c.fg, c.bg) == OK) pair = s.nextPair++;
  }
  st.pair = pair;  // out of pairs: the terminal's default colours
  return st;
}

// Caller holds g_curses.
void RenderLocked(bool all) {
  TerminalState& s = Terminal();
  emu::EmuConsole& c = s.console;
  int rows = std::min(c.Height(), LINES);
  int cols = std::min(c.Width(), COLS);
  const bool ascii = s.charset == Charset::kAscii;
  if (cols > 0) s.line.resize(static_cast<std::size_t>(cols));
  for (int y = 0; y < rows && cols > 0; ++y) {
    if (!all && !c.RowDirty(y)) continue;
    for (int x = 0; x < cols; ++x) {
      const emu::Cell& cell = c.At(x, y);
      const auto byte = static_cast<std::uint8_t>(cell.ch);
      wchar_t glyph[2] = {ascii ? static_cast<wchar_t>(AsciiGlyph(byte))
                                : static_cast<wchar_t>(Cp850Glyph(byte)),
                          0};
      Style st = StyleFor(cell.attr);
      setcchar(&s.line[static_cast<std::size_t>(x)], glyph, st.attrs, st.pair,
               nullptr);
    }
    mvadd_wchnstr(y, 0, s.line.data(), cols);
  }
  c.ClearDirty();
  COORD cur = c.Cursor();
  move(std::clamp<int>(cur.Y, 0, std::max(LINES - 1, 0)),
       std::clamp<int>(cur.X, 0, std::max(COLS - 1, 0)));
  wnoutrefresh(stdscr);
  doupdate();
  s.shownVersion = c.Version();
  s.lastRenderMs = MonotonicMs();
  s.keyTaken = false;
  s.pollRendered = false;
}

void ResizeLocked() {
  TerminalState& s = Terminal();
  winsize ws{};
  if (::ioctl(s.fd, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) {
    resizeterm(ws.ws_row, ws.ws_col);
  }
  // The buffer keeps its size; only what shows of it changes.
  erase();
  clearok(curscr, TRUE);
  RenderLocked(true);
}

}  // namespace

void FlushScreen(bool throttled) {
  TerminalState& s = Terminal();
  if (!s.active || s.screen == nullptr) return;
  bool resize = TakeResizeRequest();
  if (!resize && s.console.Version() == s.shownVersion) return;
  if (!resize && throttled && !s.keyTaken && s.pollRendered &&
      MonotonicMs() - s.lastRenderMs < kFrameMs) {
    return;
  }
  std::lock_guard<std::timed_mutex> lock(g_curses);
  if (!s.active) return;
  if (resize) {
    ResizeLocked();
  } else {
    RenderLocked(false);
  }
  s.pollRendered = throttled;
}

std::int64_t FrameDueInNs() {
  const TerminalState& s = Terminal();
  if (!s.active || s.screen == nullptr ||
      s.console.Version() == s.shownVersion) {
    return -1;
  }
  if (!s.pollRendered) return 0;
  const std::int64_t due = (s.lastRenderMs + kFrameMs) * 1000000;
  return std::max<std::int64_t>(due - MonotonicNs(), 0);
}

// Another thread is ending the process; this one waits to go with it. An
// exit that stalls (a blocked flush, a hang-up racing the exit) is cut
// short after a while, so that a signal still ends the process.
[[noreturn]] void WaitForExit(int code) {
  timespec left{kExitGraceMs / 1000, (kExitGraceMs % 1000) * 1000000L};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
  ::_exit(code);
}

[[noreturn]] void EndProcess(int code) {
  if (g_exiting.exchange(true)) WaitForExit(code);
  RestoreTerminal();
  PrintEndLines();
  std::fflush(stdout);
  std::fflush(stderr);
  // Another thread may be anywhere in the program: leave without running
  // its destructors under it.
  if (OnSignalThread()) ::_exit(code);
  std::exit(code);
}

void WriteTitle(const std::string& text) {
  TerminalState& s = Terminal();
  std::string seq;
  if (s.titleByOsc) {
    seq = "\x1B]0;" + text + "\x07";
  } else if (!s.titleStart.empty()) {
    seq = s.titleStart + text + s.titleEnd;
  } else {
    return;
  }
  std::lock_guard<std::timed_mutex> lock(g_curses);
  if (!s.active) return;
  // Curses has flushed its own output by now; the sequence moves nothing.
  WriteRaw(s.fd, seq);
}

std::int64_t MonotonicNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::int64_t MonotonicMs() { return MonotonicNs() / 1000000; }

namespace {

// Caller holds g_curses.
void SetCursesModes(TerminalState& s) {
  raw();  // no signals from the keyboard: Ctrl+C is a key
  noecho();
  nonl();
  intrflush(stdscr, FALSE);
  // Keys are read apart from curses: it need not look for them before
  // every update (a poll per repaint).
  typeahead(-1);
  keypad(stdscr, FALSE);
  scrollok(stdscr, FALSE);
  leaveok(stdscr, FALSE);
  curs_set(1);
  if (has_colors() && start_color() == OK) {
    s.colours = COLORS;
    s.pairs = COLOR_PAIRS;
  }
}

// How the title reaches the terminal: OSC 0, else the terminfo status line
// where there is one, else not at all.
void ChooseTitleWay(TerminalState& s) {
  s.titleByOsc = TermNameHasTitle(std::getenv("TERM"));
  if (s.titleByOsc) return;
  std::string tsl = TermString("tsl"), fsl = TermString("fsl");
  if (tigetflag("hs") > 0 && !tsl.empty() && !fsl.empty()) {
    // The status line may take a column; the title starts at the first.
    const char* start = tiparm(tsl.c_str(), 0);
    s.titleStart = start != nullptr ? start : tsl;
    s.titleEnd = fsl;
  }
}

// A crash leaves the screen as it was, with the prompt below its last row.
std::string CrashResetSequence(bool titleByOsc) {
  std::string reset = TermString("sgr0") + TermString("cnorm");
  if (reset.empty()) reset = "\x1B[0m\x1B[?25h";
  const std::string cup = TermString("cup");
  if (!cup.empty()) {
    const char* bottom = tiparm(cup.c_str(), std::max(LINES - 1, 0), 0);
    if (bottom != nullptr) reset += bottom;
  }
  reset += "\r\n";
  if (titleByOsc) reset += kPopTitle;
  return reset;
}

}  // namespace

bool StartConsole() {
  TerminalState& s = Terminal();
  if (s.tried) return s.active;
  s.tried = true;
  const char* plain = std::getenv("ZRVMON_BENCH_PLAIN_SLEEP");
  s.plainSleep = plain != nullptr && plain[0] == '1';
  if (Headless()) {
    // No terminal at all: the screen is kept in memory, where the log and
    // the metrics read it, and nothing is drawn.
    s.console.Init(80, 25, 80, 25, 0x07);
    StartSignalThread();
    s.active = true;
    return true;
  }
  // The terminal itself, as the console is opened by name: redirected
  // standard streams do not matter, and no terminal means no console.
  int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  int inFd = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  int inDup = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (inFd < 0 || inDup < 0 || ::tcgetattr(fd, &s.saved) != 0) {
    for (int f : {fd, inFd, inDup}) {
      if (f >= 0) ::close(f);
    }
    return false;
  }
  ChooseEncoding();
  StartSignalThread();

  // Curses leaves a stop signal that is not at its default alone; else it
  // swaps its action out and back around every update, two system calls
  // each. In raw mode the keyboard sends no stop anyway.
  ::signal(SIGTSTP, SIG_IGN);
  std::lock_guard<std::timed_mutex> lock(g_curses);
  s.out = ::fdopen(fd, "w");
  s.in = ::fdopen(inDup, "r");
  s.screen = s.out && s.in ? newterm(nullptr, s.out, s.in) : nullptr;
  if (s.screen == nullptr) {
    if (s.out)
      std::fclose(s.out);
    else
      ::close(fd);
    if (s.in)
      std::fclose(s.in);
    else
      ::close(inDup);
    ::close(inFd);
    return false;
  }
  s.fd = fd;
  s.inFd = inFd;
  set_term(s.screen);
  std::string first = StayOnNormalScreen();
  // Until it has once come back from an endwin, curses writes out after
  // every cursor move, several writes an update; one round trip at the
  // start, before any colour is set, leaves it writing each update whole.
  endwin();
  refresh();
  SetCursesModes(s);
  // Console sizes are 16-bit, and a huge terminal must not make a huge
  // buffer; the part beyond shows nothing.
  const int cols = std::clamp(COLS, 1, kMaxConsoleSide);
  const int rows = std::clamp(LINES, 1, kMaxConsoleSide);
  s.console.Init(cols, rows, cols, rows, 0x07);

  ChooseTitleWay(s);
  if (s.titleByOsc) first += kPushTitle;
  InstallCrashHandlers(fd, CrashResetSequence(s.titleByOsc), s.saved);
  std::atexit(RestoreTerminal);

  s.active = true;
  refresh();  // sends what newterm queued
  WriteRaw(fd, first);
  erase();
  clearok(curscr, TRUE);
  RenderLocked(true);
  return true;
}

void RestoreTerminal() {
  TerminalState& s = Terminal();
  // A repaint stuck on a dead terminal must not keep us from leaving.
  std::unique_lock<std::timed_mutex> lock(g_curses, std::defer_lock);
  bool locked = lock.try_lock_for(std::chrono::seconds(1));
  (void)locked;
  if (!s.active.exchange(false)) return;
  if (s.screen == nullptr) return;  // headless: no terminal was taken
  DisarmCrashHandlers();
  // What the program painted last is shown before the terminal is given
  // back, and the shell's prompt comes on the row below it.
  int below = LINES;
  if (locked) {
    if (s.console.Version() != s.shownVersion) RenderLocked(false);
    below = LastUsedRow() + 1;
  }
  endwin();  // leaves the cursor on the bottom row
  const std::string cup = TermString("cup");
  const char* to = below < LINES && !cup.empty()
                       ? tiparm(cup.c_str(), std::max(below, 0), 0)
                       : nullptr;
  // Blank rows below the text go, colours and all: the prompt and what the
  // shell writes next start on a clean part of the screen.
  std::string tail = to != nullptr ? to + TermString("sgr0") + TermString("ed")
                                   : std::string("\r\n");
  if (s.titleByOsc) tail += kPopTitle;
  WriteRaw(s.fd, tail);
  ::tcsetattr(s.fd, TCSANOW, &s.saved);
}

void DispatchCtrlEvent(std::uint32_t event, int exitCode) {
  // The handler would run under an exit already in progress.
  if (g_exiting) WaitForExit(exitCode);
  PHANDLER_ROUTINE handler = g_ctrlHandler.load();
  // A handled break lets the program go on; a close ends it regardless, as
  // the system ends a process whose console window was closed.
  if (handler != nullptr && handler(event) && event == CTRL_BREAK_EVENT) {
    return;
  }
  EndProcess(exitCode);
}

}  // namespace plat::posix
