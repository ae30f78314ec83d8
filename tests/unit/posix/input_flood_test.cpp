// SPDX-License-Identifier: MIT
// A large paste into the console: the queue of keys stays bounded, keeps
// the start of the paste in order, and the program stays responsive.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_internal.h"

using namespace plat;

namespace {

// Exit codes of the child: 0 all well, others name what went wrong.
[[noreturn]] void Child(int slave, int donePipe) {
  ::setsid();
  ::ioctl(slave, TIOCSCTTY, 0);
  ::setenv("TERM", "xterm-256color", 1);
  Handle in = CreateFileA("CONIN$", GENERIC_READ, 0, OPEN_EXISTING, 0);
  Handle out = CreateFileA("CONOUT$", GENERIC_WRITE, 0, OPEN_EXISTING, 0);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(out, &info)) ::_exit(10);
  std::uint32_t most = 0, count = 0;
  bool done = false;
  // Poll as the program does, reading nothing, until the paste is all sent
  // and a little after.
  for (int settle = 0; settle < 50;) {
    if (!GetNumberOfConsoleInputEvents(in, &count)) ::_exit(11);
    most = std::max(most, count);
    char b;
    if (!done && ::read(donePipe, &b, 1) == 1) done = true;
    if (done) ++settle;
    Sleep(1);
  }
  if (most > posix::kMaxQueuedRecords) ::_exit(12);
  if (count < posix::kMaxQueuedRecords - 1) ::_exit(13);
  INPUT_RECORD r[2] = {};
  std::uint32_t n = 0;
  if (!ReadConsoleInputA(in, r, 2, &n) || n != 2) ::_exit(14);
  if (r[0].KeyEvent.AsciiChar != 'a' || !r[0].KeyEvent.bKeyDown ||
      r[1].KeyEvent.bKeyDown) {
    ::_exit(15);
  }
  ExitProcess(0);
}

}  // namespace

TEST(ConsoleInput, PasteFloodStaysBoundedAndInOrder) {
  int master = -1, slave = -1;
  winsize ws{};
  ws.ws_row = 25;
  ws.ws_col = 80;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, &ws), 0);
  int done[2];
  ASSERT_EQ(::pipe(done), 0);
  ::fcntl(done[0], F_SETFL, O_NONBLOCK);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(master);
    ::close(done[1]);
    Child(slave, done[0]);
  }
  ::close(slave);
  ::close(done[0]);
  ::fcntl(master, F_SETFL, O_NONBLOCK);

  std::string paste;
  for (int i = 0; i < 100 * 1024; ++i) {
    paste += static_cast<char>('a' + i % 26);
  }
  std::size_t sent = 0;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  int status = 0;
  pid_t ended = 0;
  while (ended == 0 && Clock::now() < deadline) {
    pollfd pfd{master,
               static_cast<short>(POLLIN | (sent < paste.size() ? POLLOUT : 0)),
               0};
    ::poll(&pfd, 1, 10);
    if (pfd.revents & POLLIN) {  // the child's screen: read and let go
      char sink[4096];
      while (::read(master, sink, sizeof sink) > 0) {
      }
    }
    if (sent < paste.size() && (pfd.revents & POLLOUT)) {
      ssize_t n = ::write(master, paste.data() + sent,
                          std::min<std::size_t>(paste.size() - sent, 1024));
      if (n > 0) sent += static_cast<std::size_t>(n);
      if (sent == paste.size()) {
        ASSERT_EQ(::write(done[1], "x", 1), 1);
      }
    }
    ended = ::waitpid(pid, &status, WNOHANG);
  }
  if (ended == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    FAIL() << "the child did not end; sent " << sent << " bytes";
  }
  ::close(done[1]);
  ::close(master);
  EXPECT_EQ(sent, paste.size());
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
