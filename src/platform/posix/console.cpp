// SPDX-License-Identifier: MIT
// The console on a terminal: the emulated console buffer holds the screen
// as a Windows console would; this file shows it with ncursesw and feeds it
// the terminal's keys. Output reaches the terminal before every wait (sleep,
// blocking read) and at most every 20 ms from the keyboard polls, which the
// program makes every millisecond and which must stay cheap.
#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/emu/emu_seam.h"
#include "platform/posix/posix_internal.h"
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

// How long an idle poll pause (Sleep(1)) lasts: a 64 Hz scheduler tick.
constexpr std::int64_t kPollPauseNs = 15625000;
constexpr std::int64_t kPollRenderMs = 20;
constexpr std::size_t kMaxReadPerPump = 4096;
constexpr int kMaxConsoleSide = 1024;
// An ordinary exit takes milliseconds; the terminal is given back before
// the exit proper starts.
constexpr long kExitGraceMs = 500;
// xterm's title stack (tmux keeps one too): the title found at the start is
// pushed before the program sets its own and popped on the way out.
constexpr char kPushTitle[] = "\x1B[22;0t";
constexpr char kPopTitle[] = "\x1B[23;0t";

struct Style {
  attr_t attrs = A_NORMAL;
  short pair = 0;
  bool known = false;
};

struct ConsoleState {
  bool tried = false;
  std::atomic<bool> active{false};
  int fd = -1;    // curses' output, and the terminal modes
  int inFd = -1;  // non-blocking reads of the keys
  FILE* out = nullptr;
  FILE* in = nullptr;
  SCREEN* screen = nullptr;
  termios saved{};
  emu::EmuConsole console;
  KeyDecoder keys;
  Charset charset = Charset::kUtf8;
  std::vector<INPUT_RECORD> decoded;
  std::vector<pollfd> waitFds;
  // Set by the benchmark alone: every pause lasts its full time, as a plain
  // sleep does, so the two can be measured side by side.
  bool plainSleep = false;
  std::uint64_t shownVersion = ~std::uint64_t{0};
  std::int64_t lastRenderMs = 0;
  std::int64_t lastPumpMs = -1;  // when the terminal was last asked for keys
  // When the last poll pause ended with nothing come, or -1: the next one
  // right after it belongs to the same idle wait.
  std::int64_t idlePollEndNs = -1;
  int colours = 0;
  int pairs = 0;
  short nextPair = 1;
  short pairOf[16][16] = {};
  Style styles[256];
  bool titleByOsc = false;
  std::string titleStart, titleEnd;  // terminfo status line, when no OSC
  std::vector<cchar_t> line;
};

ConsoleState& S() {
  static ConsoleState* s = new ConsoleState;  // never destroyed: exit paths
  return *s;                                  // from any thread may use it
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
  if (!IsConsoleHandle(h) || !S().active) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}

char* TermCap(const char* cap) {
  char* s = tigetstr(cap);
  // (char*)-1 is how tigetstr says the name is no string capability.
  return s == reinterpret_cast<char*>(-1) ? nullptr : s;  // NOLINT(performance-no-int-to-ptr)
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

void WriteRaw(int fd, const std::string& seq) {
  for (std::size_t done = 0; done < seq.size();) {
    ssize_t n = ::write(fd, seq.data() + done, seq.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
}

// The last buffer row holding text; -1 when there is none.
int LastUsedRow() {
  const emu::EmuConsole& c = S().console;
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
  ConsoleState& s = S();
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
  ConsoleState& s = S();
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
  ConsoleState& s = S();
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
}

void ResizeLocked() {
  ConsoleState& s = S();
  winsize ws{};
  if (::ioctl(s.fd, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) {
    resizeterm(ws.ws_row, ws.ws_col);
  }
  // The buffer keeps its size; only what shows of it changes.
  erase();
  clearok(curscr, TRUE);
  RenderLocked(true);
}

// Brings the terminal up to date with the buffer. `throttled`: from a
// keyboard poll, which may repaint at most every kPollRenderMs.
void FlushScreen(bool throttled) {
  ConsoleState& s = S();
  if (!s.active || s.screen == nullptr) return;
  bool resize = TakeResizeRequest();
  if (!resize && s.console.Version() == s.shownVersion) return;
  if (!resize && throttled && MonotonicMs() - s.lastRenderMs < kPollRenderMs) {
    return;
  }
  std::lock_guard<std::timed_mutex> lock(g_curses);
  if (!s.active) return;
  if (resize) {
    ResizeLocked();
  } else {
    RenderLocked(false);
  }
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

// Reads what the terminal has sent, waiting at most waitNs (-1: until
// something arrives or a signal wakes the wait), and queues the keys. With
// `serial`, the wait also ends when a reply byte reaches an open port;
// true then.
bool PumpInput(std::int64_t waitNs, bool serial = false) {
  ConsoleState& s = S();
  std::vector<pollfd>& fds = s.waitFds;
  fds.assign({{s.inFd, POLLIN, 0}, {WakeFd(), POLLIN, 0}});
  if (serial) AddSerialWaits(fds);
  timespec wait{};
  if (waitNs >= 0) {
    wait = {static_cast<time_t>(waitNs / 1000000000),
            static_cast<long>(waitNs % 1000000000)};
  }
  int n = ::ppoll(fds.data(), fds.size(), waitNs >= 0 ? &wait : nullptr,
                  nullptr);
  s.lastPumpMs = MonotonicMs();
  // In a wait, not in the key poll of a read under way.
  if (waitNs != 0) RunReopenHandler();
  if (TakeStopRequest()) {
    // Esc pressed and released, as a console would queue it.
    INPUT_RECORD esc{};
    esc.EventType = KEY_EVENT;
    esc.KeyEvent.bKeyDown = 1;
    esc.KeyEvent.wRepeatCount = 1;
    esc.KeyEvent.wVirtualKeyCode = 0x1B;
    esc.KeyEvent.AsciiChar = 27;
    s.console.PushInput(esc);
    esc.KeyEvent.bKeyDown = 0;
    s.console.PushInput(esc);
  }
  const bool arrived = n >= 0 && fds.size() > 2 &&
                       NoteSerialWaits(fds.data() + 2, fds.size() - 2);
  bool hangup = false;
  if (n > 0) {
    if (fds[1].revents & POLLIN) {
      char sink[64];
      while (::read(fds[1].fd, sink, sizeof sink) > 0) {
      }
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
      std::uint8_t buf[256];
      // A flood is taken a slice per call; the rest waits in the terminal.
      for (std::size_t taken = 0; taken < kMaxReadPerPump;) {
        ssize_t got = ::read(s.inFd, buf, sizeof buf);
        if (got > 0) {
          s.keys.Feed(buf, static_cast<std::size_t>(got), MonotonicMs());
          taken += static_cast<std::size_t>(got);
          if (static_cast<std::size_t>(got) < sizeof buf) break;
          continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno == EAGAIN) break;
        hangup = true;  // end of file or EIO: the terminal is gone
        break;
      }
    }
  }
  if (!s.keys.Empty()) {
    s.decoded.clear();
    s.keys.Decode(MonotonicMs(), s.decoded);
    bool keep = false;  // a key's release goes where its press went
    for (const INPUT_RECORD& r : s.decoded) {
      if (r.KeyEvent.bKeyDown) {
        keep = s.console.InputCount() + 2 <= kMaxQueuedRecords;
      }
      if (keep) s.console.PushInput(r);
    }
  }
  // Closing the terminal is closing the console window.
  if (hangup) DispatchCtrlEvent(CTRL_CLOSE_EVENT, 128 + SIGHUP);
  return arrived;
}

// A keyboard poll. The program polls several times a millisecond while it
// waits for the controller; the terminal is asked at most once in each, so
// a key waits a millisecond at most.
void PollInput() {
  if (MonotonicMs() != S().lastPumpMs) PumpInput(0);
}

void WriteTitle(const std::string& text) {
  ConsoleState& s = S();
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

}  // namespace

std::int64_t MonotonicNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::int64_t MonotonicMs() { return MonotonicNs() / 1000000; }

bool StartConsole() {
  ConsoleState& s = S();
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
  // Console sizes are 16-bit, and a huge terminal must not make a huge
  // buffer; the part beyond shows nothing.
  const int cols = std::clamp(COLS, 1, kMaxConsoleSide);
  const int rows = std::clamp(LINES, 1, kMaxConsoleSide);
  s.console.Init(cols, rows, cols, rows, 0x07);

  const char* term = std::getenv("TERM");
  s.titleByOsc = TermNameHasTitle(term);
  if (s.titleByOsc) first += kPushTitle;
  if (!s.titleByOsc) {
    std::string tsl = TermString("tsl"), fsl = TermString("fsl");
    if (tigetflag("hs") > 0 && !tsl.empty() && !fsl.empty()) {
      // The status line may take a column; the title starts at the first.
      const char* start = tiparm(tsl.c_str(), 0);
      s.titleStart = start != nullptr ? start : tsl;
      s.titleEnd = fsl;
    }
  }
  // A crash leaves the screen as it was, with the prompt below its last row.
  std::string reset = TermString("sgr0") + TermString("cnorm");
  if (reset.empty()) reset = "\x1B[0m\x1B[?25h";
  const std::string cup = TermString("cup");
  if (!cup.empty()) {
    const char* bottom = tiparm(cup.c_str(), std::max(LINES - 1, 0), 0);
    if (bottom != nullptr) reset += bottom;
  }
  reset += "\r\n";
  if (s.titleByOsc) reset += kPopTitle;
  InstallCrashHandlers(fd, reset, s.saved);
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
  ConsoleState& s = S();
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

namespace plat::emu {

EmuConsole* ConsoleFor(Handle h) {
  return posix::Ready(h) ? &posix::S().console : nullptr;
}

// The terminal shows the buffer by its own changes.
void NoteWritten(const SMALL_RECT&) {}

}  // namespace plat::emu

namespace plat {

using posix::FlushScreen;
using posix::kConsoleInput;
using posix::kConsoleOutput;
using posix::Ready;
using posix::S;

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
  return S().console.GetInfo(info);
}

int GetNumberOfConsoleInputEvents(Handle h, std::uint32_t* count) {
  if (!Ready(h)) return 0;
  if (count == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  FlushScreen(true);
  posix::PollInput();
  *count = S().console.InputCount();
  return 1;
}

int PeekConsoleInputA(Handle h, INPUT_RECORD* buffer, std::uint32_t length,
                      std::uint32_t* read) {
  if (!Ready(h)) return 0;
  if (read == nullptr || (buffer == nullptr && length > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  FlushScreen(true);
  posix::PollInput();
  *read = S().console.PeekInput(buffer, length);
  return 1;
}

int ReadConsoleInputA(Handle h, INPUT_RECORD* buffer, std::uint32_t length,
                      std::uint32_t* read) {
  if (!Ready(h)) return 0;
  if (read == nullptr || buffer == nullptr || length == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  posix::ConsoleState& s = S();
  for (;;) {
    FlushScreen(false);
    if (s.console.InputCount() > 0) break;
    const int ms = s.keys.PendingTimeoutMs(posix::MonotonicMs());
    posix::PumpInput(ms < 0 ? -1 : std::int64_t{ms} * 1000000);
  }
  *read = s.console.ReadInput(buffer, length);
  return 1;
}

int SetConsoleTitleA(const char* title) {
  std::string raw = title != nullptr ? title : "";
  S().console.SetTitle(raw);
  if (S().active) {
    posix::WriteTitle(posix::SanitiseTitle(raw.c_str(), S().charset));
  }
  return 1;
}

int Beep(std::uint32_t, std::uint32_t) {
  // The terminal bell has no pitch or length; nothing waits for it.
  posix::ConsoleState& s = S();
  if (!s.active || s.screen == nullptr) return 0;
  std::lock_guard<std::timed_mutex> lock(posix::g_curses);
  if (s.active) beep();
  return 1;
}

void Sleep(std::uint32_t ms) {
  posix::ConsoleState& s = S();
  if (!s.active) {
    timespec ts{static_cast<time_t>(ms / 1000),
                static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
    return;
  }
  // A pause of a millisecond is a poll's: it ends as soon as a reply byte or
  // a key arrives, so the program sees either at once. Within a run of
  // empty polls (a reply awaited, a dead line) each lasts a scheduler tick
  // as on Windows at its default timer resolution, so such a wait costs 64
  // wake-ups a second, not a thousand; the program's waits are timed, not
  // counted. A lone poll stays a millisecond: one that follows a screen
  // change (a key reset after a prompt) must not hold that change up.
  // Longer pauses are waits of their own and last their whole time.
  const bool poll = ms <= 1 && !s.plainSleep;
  const std::int64_t start = posix::MonotonicNs();
  const bool idleRun = poll && s.idlePollEndNs >= 0 &&
                       start - s.idlePollEndNs < std::int64_t{2} * 1000000;
  // The pause runs from the call: showing what was painted before it is
  // part of it, not added to it. Keys are taken meanwhile so that an Esc is
  // timed from when it came, not from when it was read.
  const std::int64_t deadline =
      start + (idleRun ? posix::kPollPauseNs : std::int64_t{ms} * 1000000);
  FlushScreen(false);
  const std::uint32_t keys = s.console.InputCount();
  for (;;) {
    std::int64_t left = deadline - posix::MonotonicNs();
    if (left <= 0) break;
    const bool arrived = posix::PumpInput(left, poll);
    FlushScreen(false);
    if (poll && (arrived || s.console.InputCount() > keys)) {
      s.idlePollEndNs = -1;
      return;
    }
  }
  s.idlePollEndNs = poll ? posix::MonotonicNs() : -1;
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
  const bool shown = S().active && ::isatty(STDERR_FILENO) == 1;
  posix::RestoreTerminal();
  if (shown) return;
  std::fprintf(stderr, "%s\n", message != nullptr ? message : "");
  std::fflush(stderr);
}

}  // namespace plat
