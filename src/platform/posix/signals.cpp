// SPDX-License-Identifier: MIT
// Signals. Hang-up, termination and interrupt are taken by a thread of
// their own with sigwait, so that the console control handler runs in an
// ordinary context even while the program sits in a blocking read or a
// sleep. Crash signals, and the others whose default is a core dump, only
// put the terminal back and die as they would have.
#include <fcntl.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/posix/posix_internal.h"

namespace plat::posix {

namespace {

std::atomic<bool> g_resize{false};
std::atomic<bool> g_reopen{false};
std::atomic<void (*)()> g_reopenHandler{nullptr};
int g_wake[2] = {-1, -1};
// Set by the signal thread itself, so that it knows itself from its first
// signal on.
thread_local bool t_onSignalThread = false;
std::once_flag g_started;

// Crash path: everything precomputed, only async-signal-safe calls.
volatile std::sig_atomic_t g_crashArmed = 0;
int g_crashFd = -1;
char g_crashReset[256];
std::size_t g_crashResetLen = 0;
termios g_crashTermios{};

void OnCrash(int sig) {
  if (g_crashArmed) {
    g_crashArmed = 0;
    ssize_t ignored = ::write(g_crashFd, g_crashReset, g_crashResetLen);
    (void)ignored;
    ::tcsetattr(g_crashFd, TCSANOW, &g_crashTermios);
  }
  // The handler was reset on entry and the signal is not deferred: this
  // ends the process with the signal's own default action.
  ::raise(sig);
}

void SignalLoop(sigset_t set) {
  t_onSignalThread = true;
  for (;;) {
    int sig = 0;
    if (::sigwait(&set, &sig) != 0) continue;
    if (sig == SIGWINCH) {
      g_resize = true;
      char b = 'w';
      ssize_t ignored = ::write(g_wake[1], &b, 1);
      (void)ignored;
    } else if (Headless() && sig == SIGHUP) {
      // Unattended there is no terminal to hang up: as daemons do, the
      // program reopens its files (a rotated log) and polling goes on.
      g_reopen = true;
      char b = 'h';
      ssize_t ignored = ::write(g_wake[1], &b, 1);
      (void)ignored;
    } else if (Headless()) {
      // Unattended, the service manager's stop is the operator's Esc: the
      // request in flight finishes, "CQ" goes out, the port closes.
      RequestStop();
      char b = 's';
      ssize_t ignored = ::write(g_wake[1], &b, 1);
      (void)ignored;
    } else if (sig == SIGINT) {
      DispatchCtrlEvent(CTRL_BREAK_EVENT, 128 + sig);
    } else {
      DispatchCtrlEvent(CTRL_CLOSE_EVENT, 128 + sig);
    }
  }
}

}  // namespace

void StartSignalThread() {
  std::call_once(g_started, [] {
    if (::pipe(g_wake) == 0) {
      for (int fd : g_wake) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
      }
    }
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGHUP, SIGTERM, SIGINT, SIGWINCH}) sigaddset(&set, sig);
    // Blocked here, before the thread starts, so that the thread inherits
    // the mask and only sigwait ever takes these signals.
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(SignalLoop, set).detach();
    // A file grown to the size limit is a failed write to report (the
    // reading log stops), not the end of the monitor.
    ::signal(SIGXFSZ, SIG_IGN);
  });
}

std::atomic<bool> g_headless{false};
std::atomic<bool> g_stop{false};
void SetHeadless() { g_headless = true; }
bool Headless() { return g_headless; }
void RequestStop() { g_stop = true; }
bool TakeStopRequest() { return g_stop.exchange(false); }

void RunReopenHandler() {
  // Looked at in every wait: a read, and a write only when it was asked.
  if (!g_reopen.load(std::memory_order_relaxed) || !g_reopen.exchange(false)) return;
  if (void (*handler)() = g_reopenHandler.load()) handler();
}

bool OnSignalThread() { return t_onSignalThread; }

bool TakeResizeRequest() { return g_resize.exchange(false); }

int WakeFd() { return g_wake[0]; }

void InstallCrashHandlers(int ttyFd, const std::string& resetSequence,
                          const termios& saved) {
  g_crashFd = ttyFd;
  g_crashResetLen = std::min(resetSequence.size(), sizeof g_crashReset);
  std::memcpy(g_crashReset, resetSequence.data(), g_crashResetLen);
  g_crashTermios = saved;
  g_crashArmed = 1;
  struct sigaction sa {};
  sa.sa_handler = OnCrash;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND | SA_NODEFER;
  for (int sig : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGQUIT, SIGSYS,
                  SIGTRAP, SIGXCPU}) {
    ::sigaction(sig, &sa, nullptr);
  }
}

void DisarmCrashHandlers() { g_crashArmed = 0; }

}  // namespace plat::posix

namespace plat {
void SetReopenHandler(void (*handler)()) { posix::g_reopenHandler = handler; }
}  // namespace plat
