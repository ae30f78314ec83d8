// SPDX-License-Identifier: MIT
// The console on a pseudo-terminal: a child process takes it over, paints,
// reads a key and is ended by SIGTERM through its control handler; the
// test reads what reached the terminal and how the terminal was left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

using namespace plat;

namespace {

int Handler(std::uint32_t event) {
  ExitProcess(event == CTRL_CLOSE_EVENT ? 7 : 8);
}

[[noreturn]] void PaintAndReadAKey() {
  ::setenv("LC_ALL", "C.UTF-8", 1);  // a UTF-8 terminal: the real glyphs
  ::unsetenv("TMUX");
  Handle in =
      CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
  Handle out =
      CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(out, &info)) ::_exit(10);
  if (info.dwSize.X != 80 || info.dwSize.Y != 25) ::_exit(11);
  SetConsoleCtrlHandler(Handler, 1);
  // Bytes that would be controls to a terminal, as a reply could bring.
  CHAR_INFO cells[5] = {{'\x1B', 0x71},
                        {'\x07', 0x71},
                        {'\x9B', 0x71},
                        {'\x0E', 0x71},
                        {'Z', 0x1E}};
  SMALL_RECT region{0, 0, 4, 0};
  WriteConsoleOutputA(out, cells, {5, 1}, {0, 0}, &region);
  SetConsoleTitleA("T\x1B]2;x\x07");
  Sleep(1);
  INPUT_RECORD r{};
  std::uint32_t n = 0;
  if (!ReadConsoleInputA(in, &r, 1, &n)) ::_exit(12);
  if (r.KeyEvent.wVirtualKeyCode != 'Q' || r.KeyEvent.AsciiChar != 'q') {
    ::_exit(13);
  }
  for (;;) ReadConsoleInputA(in, &r, 1, &n);
}

bool Contains(const std::string& hay, const std::string& needle) {
  return hay.find(needle) != std::string::npos;
}

struct PtyRun {
  std::string output;  // everything the child sent to the terminal
  int status = 0;
  termios before{}, after{};
};

// What the test does while the child runs: called after each read with
// the child and everything it has shown so far.
using PtyStep =
    std::function<void(int master, pid_t child, const std::string& output)>;

// Runs `child` as a process whose terminal is a fresh pty of rows x cols,
// reading what it shows until it ends (killed after five seconds).
PtyRun RunOnPty(unsigned short rows, unsigned short cols,
                const std::function<void()>& child,
                const PtyStep& step = nullptr) {
  PtyRun run;
  int master = -1, slave = -1;
  winsize ws{};
  ws.ws_row = rows;
  ws.ws_col = cols;
  if (::openpty(&master, &slave, nullptr, nullptr, &ws) != 0) {
    ADD_FAILURE() << "openpty";
    return run;
  }
  if (::tcgetattr(slave, &run.before) != 0) ADD_FAILURE() << "tcgetattr";
  pid_t pid = ::fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork";
    ::close(master);
    ::close(slave);
    return run;
  }
  if (pid == 0) {
    ::close(master);
    ::setsid();
    ::ioctl(slave, TIOCSCTTY, 0);
    ::setenv("TERM", "xterm-256color", 1);
    child();
    ::_exit(99);
  }
  ::close(slave);
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  pid_t done = 0;
  while (done == 0 && Clock::now() < deadline) {
    pollfd pfd{master, POLLIN, 0};
    if (::poll(&pfd, 1, 10) > 0 && (pfd.revents & POLLIN)) {
      char buf[4096];
      ssize_t got = ::read(master, buf, sizeof buf);
      if (got > 0) run.output.append(buf, static_cast<std::size_t>(got));
    }
    if (step) step(master, pid, run.output);
    done = ::waitpid(pid, &run.status, WNOHANG);
  }
  if (done == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &run.status, 0);
    ADD_FAILURE() << "the child did not end; output so far:\n" << run.output;
  }
  // What the child wrote just before it ended may still be in the pty.
  for (pollfd pfd{master, POLLIN, 0}; ::poll(&pfd, 1, 0) > 0;) {
    char buf[4096];
    ssize_t got = ::read(master, buf, sizeof buf);
    if (got <= 0) break;
    run.output.append(buf, static_cast<std::size_t>(got));
  }
  if (::tcgetattr(master, &run.after) != 0) ADD_FAILURE() << "tcgetattr";
  ::close(master);
  return run;
}

}  // namespace

struct SignalCase {
  int signal;
  int exitCode;  // what the handler makes of the event it gets
};

class ConsoleOnPty : public testing::TestWithParam<SignalCase> {};

// The signal comes while the child sits in a blocking read: hang-up and
// termination arrive as a close, an interrupt as a break.
INSTANTIATE_TEST_SUITE_P(Signals, ConsoleOnPty,
                         testing::Values(SignalCase{SIGTERM, 7},
                                         SignalCase{SIGHUP, 7},
                                         SignalCase{SIGINT, 8}),
                         [](const testing::TestParamInfo<SignalCase>& info) {
                           return std::string(sigabbrev_np(info.param.signal));
                         });

TEST_P(ConsoleOnPty, PaintsGlyphsOnlyAndGivesTheTerminalBack) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point keySentAt{};
  bool keySent = false, termSent = false;
  PtyRun run = RunOnPty(
      25, 80, PaintAndReadAKey,
      [&](int master, pid_t pid, const std::string& seen) {
        if (!keySent && Contains(seen, "Z")) {
          ASSERT_EQ(::write(master, "q", 1), 1);
          keySent = true;
          keySentAt = Clock::now();
        } else if (keySent && !termSent &&
                   Clock::now() - keySentAt > std::chrono::milliseconds(200)) {
          // By now the child sits in a blocking read.
          ::kill(pid, GetParam().signal);
          termSent = true;
        }
      });
  const std::string& seen = run.output;
  ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
  EXPECT_EQ(WEXITSTATUS(run.status), GetParam().exitCode);

  // Each byte arrived as its glyph; none went out raw.
  EXPECT_TRUE(Contains(seen, "\u2190\u2022\u00F8\u266B")) << seen;
  EXPECT_EQ(seen.find('\x07'), seen.rfind('\x07'));  // the title's BEL only
  EXPECT_TRUE(Contains(seen, "\x1B]0;T]2;x\x07"));
  EXPECT_FALSE(Contains(seen, "\x0E"));
  // On the normal screen throughout, so the last screen stays; the title
  // found at the start is pushed before the program's and popped at the end.
  EXPECT_FALSE(Contains(seen.substr(seen.find('Z')), "\x1B[?1049"));
  EXPECT_LT(seen.find("\x1B[22;0t"), seen.find("\x1B]0;"));
  EXPECT_TRUE(Contains(seen.substr(seen.find('Z')), "\x1B[23;0t"));
  EXPECT_EQ(run.after.c_lflag & (ICANON | ECHO | ISIG),
            run.before.c_lflag & (ICANON | ECHO | ISIG));
}

namespace {

int g_exitPipe = -1;

int EndWithSeven(std::uint32_t) { ExitProcess(7); }

// Runs inside the main thread's exit: a termination signal comes now, and
// the exit goes on for a while after it.
void SignalDuringExit() {
  ::kill(::getpid(), SIGTERM);
  ::usleep(150 * 1000);
  ssize_t ignored = ::write(g_exitPipe, "done", 4);
  (void)ignored;
}

// An exit handler that never returns.
void StallExit() { ::pause(); }

}  // namespace

TEST(ProcessExit, AnExitThatStallsIsEndedByTheNextSignal) {
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    SetConsoleCtrlHandler(EndWithSeven, 1);
    std::atexit(StallExit);
    std::thread([] {
      ::usleep(100 * 1000);
      ::kill(::getpid(), SIGTERM);
    }).detach();
    ExitProcess(9);
  }
  int status = 0;
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start)
                .count();
  // The handler is not run under an exit in progress; the signal's own
  // code ends the process once the exit has had its time.
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
  EXPECT_LT(ms, 2000);
}

TEST(ProcessExit, ASignalDuringAnExitDoesNotEndItASecondTime) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(fds[0]);
    g_exitPipe = fds[1];
    SetConsoleCtrlHandler(EndWithSeven, 1);
    std::atexit(SignalDuringExit);
    ExitProcess(9);
  }
  ::close(fds[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  char buf[8] = {};
  ssize_t got = ::read(fds[0], buf, sizeof buf);
  ::close(fds[0]);
  // The first exit ran to its end with its own code; the handler's exit
  // waited instead of cutting it short.
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 9);
  EXPECT_EQ(std::string(buf, got > 0 ? static_cast<std::size_t>(got) : 0),
            "done");
}

namespace {

Handle StartAndPaintZ() {
  Handle out = CreateFileA("CONOUT$", GENERIC_WRITE, 0, OPEN_EXISTING, 0);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(out, &info)) ::_exit(10);
  CHAR_INFO z{'Z', 0x1E};
  SMALL_RECT region{0, 0, 0, 0};
  WriteConsoleOutputA(out, &z, {1, 1}, {0, 0}, &region);
  Sleep(1);  // shown before any wait
  return out;
}

}  // namespace

class ConsoleCrash : public testing::TestWithParam<int> {};

INSTANTIATE_TEST_SUITE_P(Signals, ConsoleCrash,
                         testing::Values(SIGSEGV, SIGABRT, SIGQUIT),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::string(sigabbrev_np(info.param));
                         });

// A crash, or a signal whose default is a core dump, gives the terminal
// back and then ends the process as that signal would have.
TEST_P(ConsoleCrash, GivesTheTerminalBackAndDiesOfTheSignal) {
  const int sig = GetParam();
  PtyRun run = RunOnPty(25, 80, [sig] {
    rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    StartAndPaintZ();
    ::raise(sig);
  });
  ASSERT_TRUE(WIFSIGNALED(run.status)) << run.status;
  EXPECT_EQ(WTERMSIG(run.status), sig);
  std::size_t z = run.output.find('Z');
  ASSERT_NE(z, std::string::npos) << run.output;
  EXPECT_FALSE(Contains(run.output.substr(z), "\x1B[?1049")) << run.output;
  EXPECT_TRUE(Contains(run.output.substr(z), "\x1B[23;0t")) << run.output;
  EXPECT_EQ(run.after.c_lflag & (ICANON | ECHO | ISIG),
            run.before.c_lflag & (ICANON | ECHO | ISIG));
}

TEST(ConsoleSize, AHugeTerminalGivesABoundedConsole) {
  PtyRun run = RunOnPty(30, 3000, [] {
    Handle out = CreateFileA("CONOUT$", GENERIC_WRITE, 0, OPEN_EXISTING, 0);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(out, &info)) ::_exit(10);
    if (info.dwSize.Y != 30) ::_exit(11);
    if (info.dwSize.X <= 0 || info.dwSize.X > 1024) ::_exit(12);
    ExitProcess(0);
  });
  ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
}

// Descriptors a child process would inherit.
std::set<int> InheritableFds() {
  std::set<int> fds;
  for (int fd = 0; fd < 1024; ++fd) {
    int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0 && !(flags & FD_CLOEXEC)) fds.insert(fd);
  }
  return fds;
}

TEST(ConsoleCalls, BadHandlesAndArgumentsAreRefused) {
  PtyRun run = RunOnPty(25, 80, [] {
    const std::set<int> inherited = InheritableFds();
    Handle in = CreateFileA("CONIN$", GENERIC_READ, 0, OPEN_EXISTING, 0);
    Handle out = StartAndPaintZ();
    // Nothing the console opened would leak into a child process.
    if (InheritableFds() != inherited) ::_exit(19);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    std::uint32_t n = 0;
    INPUT_RECORD r{};
    int step = 20;
    auto refused = [&](int ok, std::uint32_t error) {
      ++step;
      if (ok || GetLastError() != error) ::_exit(step);
    };
    refused(GetConsoleScreenBufferInfo(0x1234, &info), ERROR_INVALID_HANDLE);
    refused(GetConsoleScreenBufferInfo(INVALID_HANDLE_VALUE, &info),
            ERROR_INVALID_HANDLE);
    refused(GetNumberOfConsoleInputEvents(0x1234, &n), ERROR_INVALID_HANDLE);
    refused(GetNumberOfConsoleInputEvents(in, nullptr),
            ERROR_INVALID_PARAMETER);
    refused(PeekConsoleInputA(in, nullptr, 4, &n), ERROR_INVALID_PARAMETER);
    refused(ReadConsoleInputA(in, nullptr, 1, &n), ERROR_INVALID_PARAMETER);
    refused(ReadConsoleInputA(in, &r, 0, &n), ERROR_INVALID_PARAMETER);
    // The buffer's refusals read as a Windows console's.
    SetLastError(ERROR_SUCCESS);
    refused(SetConsoleCursorPosition(out, COORD{-1, 0}),
            ERROR_INVALID_PARAMETER);
    SetLastError(ERROR_SUCCESS);
    refused(SetConsoleScreenBufferSize(out, COORD{1, 1}),
            ERROR_INVALID_PARAMETER);
    refused(CloseHandle(0x1234), ERROR_INVALID_HANDLE);
    refused(ReadFile(out, &r, 1, &n), ERROR_INVALID_HANDLE);
    refused(WriteFile(out, "x", 1, &n), ERROR_INVALID_HANDLE);
    if (!PeekConsoleInputA(in, nullptr, 0, &n) || n != 0) ::_exit(40);
    ExitProcess(0);
  });
  ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
}

namespace {

// Checks that `out` is printable ASCII, line movements and escape
// sequences that curses itself sends (CSI, charset choice, keypad modes)
// plus one OSC 0 title of printable ASCII, which it returns. Reports the
// first few faults only.
std::string CheckSevenBitOutput(const std::string& out) {
  std::string title;
  int faults = 0;
  auto fault = [&](const std::string& what, std::size_t at) {
    if (++faults <= 5) ADD_FAILURE() << what << " at " << at;
  };
  auto printable = [](char c) { return c >= 0x20 && c < 0x7F; };
  for (std::size_t i = 0; i < out.size(); ++i) {
    auto b = static_cast<unsigned char>(out[i]);
    if (printable(out[i]) || b == '\r' || b == '\n' || b == '\b' || b == '\t') {
      continue;
    }
    if (b != 0x1B || i + 1 >= out.size()) {
      fault("byte " + std::to_string(b), i);
      continue;
    }
    const std::size_t esc = i;
    char kind = out[++i];
    if (kind == '[') {
      while (i + 1 < out.size() && out[i + 1] >= 0x20 && out[i + 1] <= 0x3F) {
        ++i;
      }
      ++i;
      if (i >= out.size() || out[i] < 0x40 || out[i] > 0x7E) {
        fault("CSI cut short", esc);
      }
    } else if (kind == '(' || kind == ')') {
      ++i;
      if (i >= out.size() || (out[i] != 'B' && out[i] != '0')) {
        fault("charset choice", esc);
      }
    } else if (kind == ']') {
      std::size_t bel = out.find('\x07', i);
      if (out.compare(i + 1, 2, "0;") != 0 || bel == std::string::npos ||
          !title.empty()) {
        fault("OSC other than one title", esc);
        break;
      }
      title = out.substr(i + 3, bel - (i + 3));
      for (char c : title) {
        if (!printable(c)) fault("title byte " + std::to_string(int{c}), esc);
      }
      i = bel;
    } else if (std::string("=>78").find(kind) == std::string::npos) {
      fault(std::string("ESC ") + kind, esc);
    }
  }
  return title;
}

}  // namespace

// A terminal in the C locale, outside any multiplexer: every byte the
// program shows, and its title, reach it as 7-bit ASCII.
TEST(ConsoleAscii, ANonUtf8TerminalGetsPrintableAsciiOnly) {
  PtyRun run = RunOnPty(25, 80, [] {
    ::setenv("LC_ALL", "C", 1);
    ::unsetenv("TMUX");
    Handle out = CreateFileA("CONOUT$", GENERIC_WRITE, 0, OPEN_EXISTING, 0);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(out, &info)) ::_exit(10);
    // The whole screen, every byte 0x00-0xFF several times over, then a
    // marker line: Ä Ö Ü ß é.
    std::vector<CHAR_INFO> cells(80 * 25);
    for (std::size_t k = 0; k < cells.size(); ++k) {
      cells[k] = {static_cast<char>(k & 0xFF),
                  static_cast<std::uint16_t>(k % 3 == 0 ? 0x71 : 0x1E)};
    }
    const char marker[] = "\x8E\x99\x9A\xE1\x82";
    for (std::size_t k = 0; k + 1 < sizeof marker; ++k) {
      cells[80 * 24 + k] = {marker[k], 0x07};
    }
    SMALL_RECT region{0, 0, 79, 24};
    WriteConsoleOutputA(out, cells.data(), {80, 25}, {0, 0}, &region);
    SetConsoleTitleA("K\x81hl\x9B\x1B]2;x\x07");
    Sleep(1);
    ExitProcess(0);
  });
  ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
  EXPECT_EQ(CheckSevenBitOutput(run.output), "Kuhlo]2;x");
  EXPECT_TRUE(Contains(run.output, "AOUse")) << run.output;
  EXPECT_EQ(run.after.c_lflag & (ICANON | ECHO | ISIG),
            run.before.c_lflag & (ICANON | ECHO | ISIG));
}
