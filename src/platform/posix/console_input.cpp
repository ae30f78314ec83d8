// SPDX-License-Identifier: MIT
// The POSIX console's input: the terminal's bytes read as keys into the
// buffer's queue, and the waits that take them meanwhile.
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/posix/terminal.h"

namespace plat::posix {

namespace {

constexpr std::size_t kMaxReadPerPump = 4096;

}  // namespace

// Reads what the terminal has sent, waiting at most waitNs (-1: until
// something arrives or a signal wakes the wait), and queues the keys. With
// `serial`, the wait also ends when a reply byte reaches an open port;
// true then.
bool PumpInput(std::int64_t waitNs, bool serial) {
  TerminalState& s = Terminal();
  std::vector<pollfd>& fds = s.waitFds;
  fds.assign({{s.inFd, POLLIN, 0}, {WakeFd(), POLLIN, 0}});
  if (serial) AddSerialWaits(fds);
  timespec wait{};
  if (waitNs >= 0) {
    wait = {static_cast<time_t>(waitNs / 1000000000),
            static_cast<long>(waitNs % 1000000000)};
  }
  int n =
      ::ppoll(fds.data(), fds.size(), waitNs >= 0 ? &wait : nullptr, nullptr);
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
  if (MonotonicMs() != Terminal().lastPumpMs) PumpInput(0);
}

}  // namespace plat::posix

namespace plat {

using posix::FlushScreen;
using posix::Ready;
using posix::Terminal;

int GetNumberOfConsoleInputEvents(Handle h, std::uint32_t* count) {
  if (!Ready(h)) return 0;
  if (count == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  FlushScreen(true);
  posix::PollInput();
  *count = Terminal().console.InputCount();
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
  *read = Terminal().console.PeekInput(buffer, length);
  return 1;
}

int ReadConsoleInputA(Handle h, INPUT_RECORD* buffer, std::uint32_t length,
                      std::uint32_t* read) {
  if (!Ready(h)) return 0;
  if (read == nullptr || buffer == nullptr || length == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  posix::TerminalState& s = Terminal();
  for (;;) {
    FlushScreen(false);
    if (s.console.InputCount() > 0) break;
    const int ms = s.keys.PendingTimeoutMs(posix::MonotonicMs());
    posix::PumpInput(ms < 0 ? -1 : std::int64_t{ms} * 1000000);
  }
  *read = s.console.ReadInput(buffer, length);
  s.keyTaken = s.keyTaken || *read > 0;
  return 1;
}

void Sleep(std::uint32_t ms) {
  posix::TerminalState& s = Terminal();
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
  // An update not yet due is drawn when its frame is: the wait ends then.
  FlushScreen(true);
  const std::uint32_t keys = s.console.InputCount();
  for (;;) {
    std::int64_t left = deadline - posix::MonotonicNs();
    if (left <= 0) break;
    const std::int64_t frame = posix::FrameDueInNs();
    if (frame >= 0 && frame < left) left = frame;
    const bool arrived = posix::PumpInput(left, poll);
    FlushScreen(true);
    if (poll && (arrived || s.console.InputCount() > keys)) {
      s.idlePollEndNs = -1;
      return;
    }
  }
  s.idlePollEndNs = poll ? posix::MonotonicNs() : -1;
}

}  // namespace plat
