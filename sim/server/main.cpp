// SPDX-License-Identifier: MIT
// zrvsim: the controller model served on a pseudo-terminal in real time, so
// that the monitor can be run and demonstrated without the unit. Requests
// arrive and replies leave at the pace of the serial line they stand in for.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim/model/cli.h"
#include "sim/model/model.h"
#include "sim/model/wire_pacer.h"

namespace {

using zrvsim::Micros;

volatile sig_atomic_t gStop = 0;
volatile sig_atomic_t gToggles = 0;
volatile sig_atomic_t gUnplugs = 0;

void OnStop(int) { gStop = 1; }
void OnToggle(int) { gToggles = gToggles + 1; }
void OnUnplug(int) { gUnplugs = gUnplugs + 1; }

class Clock {
 public:
  Micros Elapsed() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now() - start_)
        .count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

class Trace {
 public:
  explicit Trace(const std::string& target) {
    if (target == "-") {
      file_ = stderr;
    } else if (!target.empty()) {
      file_ = std::fopen(target.c_str(), "w");
      owned_ = file_ != nullptr;
    }
  }
  ~Trace() {
    if (owned_) std::fclose(file_);
  }
  bool Failed(const std::string& target) const { return !target.empty() && !file_; }
  void Line(Micros at, char mark, const std::string& text) {
    if (!file_) return;
    std::fprintf(file_, "%lld.%03lld %c %s\n", static_cast<long long>(at / 1000000),
                 static_cast<long long>((at / 1000) % 1000), mark, text.c_str());
    std::fflush(file_);
  }

 private:
  std::FILE* file_ = nullptr;
  bool owned_ = false;
};

timespec ToTimespec(Micros us) {
  return timespec{static_cast<time_t>(us / 1000000), static_cast<long>((us % 1000000) * 1000)};
}

std::string ReplyTraceText(const std::string& bytes) {
  if (bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0) {
    return zrvsim::EscapeBytes(std::string_view(bytes).substr(0, bytes.size() - 2));
  }
  return zrvsim::EscapeBytes(bytes) + " [noend]";
}

// A new pty, raw at 9600, with the link (when asked for) pointing at it.
// Our own slave descriptor stays open, so a client that closes the port
// does not hang up the line and the next one finds it as it was.
bool PlugIn(const std::string& link, int& master, int& slave, std::string& name) {
  char path[256] = {};
  if (openpty(&master, &slave, path, nullptr, nullptr) != 0) {
    std::fprintf(stderr, "zrvsim: openpty: %s\n", std::strerror(errno));
    return false;
  }
  name = path;
  termios tio{};
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  cfsetspeed(&tio, B9600);
  tcsetattr(slave, TCSANOW, &tio);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  if (!link.empty()) {
    unlink(link.c_str());
    if (symlink(path, link.c_str()) != 0) {
      std::fprintf(stderr, "zrvsim: symlink %s: %s\n", link.c_str(), std::strerror(errno));
      return false;
    }
  }
  return true;
}

// The cable pulled: the client's side hangs up and the device is gone.
void Unplug(const std::string& link, int& master, int& slave) {
  if (!link.empty()) unlink(link.c_str());
  close(slave);
  close(master);
  master = slave = -1;
}

}  // namespace

int main(int argc, char** argv) {
  zrvsim::ServerConfig config;
  std::string error;
  if (!zrvsim::ParseServerArgs(std::vector<std::string>(argv + 1, argv + argc), config, error)) {
    std::fprintf(stderr, "zrvsim: %s\nTry 'zrvsim --help'.\n", error.c_str());
    return 2;
  }
  if (config.help) {
    std::fputs(zrvsim::ServerUsage().c_str(), stdout);
    return 0;
  }
  if (config.version) {
    std::printf("zrvsim %s\n", ZRV_VERSION);
    return 0;
  }
  // The line's pace is kept by waking at each character's time: the
  // kernel's default 50 us of timer slack would stretch every one of them.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

  Trace trace(config.trace);
  if (trace.Failed(config.trace)) {
    std::fprintf(stderr, "zrvsim: cannot open trace file %s: %s\n", config.trace.c_str(),
                 std::strerror(errno));
    return 1;
  }

  if (!config.link.empty()) {
    struct stat st {};
    if (lstat(config.link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
      std::fprintf(stderr, "zrvsim: %s exists and is not a symlink\n", config.link.c_str());
      return 1;
    }
  }
  int master = -1, slave = -1;
  std::string name;
  if (!PlugIn(config.link, master, slave, name)) return 1;

  std::printf("%s\n", name.c_str());
  std::fflush(stdout);

  // Signals are only let in while waiting, so a stop is never missed
  // between the check and the wait.
  struct sigaction stop {};
  stop.sa_handler = OnStop;
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  struct sigaction toggle {};
  toggle.sa_handler = OnToggle;
  sigaction(SIGUSR1, &toggle, nullptr);
  struct sigaction unplug {};
  unplug.sa_handler = OnUnplug;
  sigaction(SIGUSR2, &unplug, nullptr);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGHUP, SIG_IGN);
  sigset_t blocked, waitMask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGUSR1);
  sigaddset(&blocked, SIGUSR2);
  sigprocmask(SIG_BLOCK, &blocked, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGUSR1);
  sigdelset(&waitMask, SIGUSR2);

  zrvsim::Controller model(config.model);
  zrvsim::LineCollector collector;
  const Micros charTime = zrvsim::CharTime(config.baud);
  const Clock clock;
  // Sped up, the unit moves on in steps a quarter of a real second apart,
  // as a controller updates its counters once per scan: otherwise the
  // running total would change between any two reads and the monitor's
  // agreeing-pair read of it would never end.
  constexpr Micros kSpedUpStep = 250 * zrvsim::kMillisecond;
  const auto modelTime = [&](Micros real) {
    if (config.speed > 1.0) real -= real % kSpedUpStep;
    return static_cast<Micros>(double(real) * config.speed);
  };
  zrvsim::WirePacer wire(charTime);
  // Host bytes read ahead of the wire wait here; past this many the pty
  // holds the rest, as a slow line would hold up the writer.
  constexpr std::size_t kReadAhead = 4096;
  int togglesSeen = 0;
  int unplugsSeen = 0;
  Micros replugAt = -1;  // while unplugged: when the new pty comes

  while (!gStop) {
    Micros now = clock.Elapsed();

    while (togglesSeen != gToggles) {
      ++togglesSeen;
      model.SetSilent(!model.Silent());
      trace.Line(now, '!', model.Silent() ? "silent on" : "silent off");
    }
    while (unplugsSeen != gUnplugs) {
      ++unplugsSeen;
      if (replugAt >= 0) continue;
      Unplug(config.link, master, slave);
      replugAt = now + static_cast<Micros>(config.replugAfter * double(zrvsim::kSecond));
      trace.Line(now, '!', "unplugged");
    }
    if (replugAt >= 0 && now >= replugAt) {
      replugAt = -1;
      if (!PlugIn(config.link, master, slave, name)) break;
      trace.Line(now, '!', "plugged in " + name);
    }

    // A request is heard when its CR has crossed the line.
    while (const auto in = wire.NextArrived(now)) {
      auto request = collector.Push(in->byte);
      if (!request) continue;
      model.AdvanceTo(modelTime(in->at));
      trace.Line(in->at, '>', zrvsim::EscapeBytes(*request));
      zrvsim::Response response = model.Handle(*request);
      if (!response.fault.empty()) trace.Line(in->at, '!', response.fault);
      if (!response.sent || response.bytes.empty()) continue;
      wire.Send(std::move(response.bytes), in->at, response.delay);
    }

    // Due characters go out one at a time at the line's pace.
    while (const auto out = wire.NextDue(now)) {
      if (out->first) trace.Line(out->at, '<', ReplyTraceText(out->reply));
      // A full buffer or a missing client loses the character, as a line
      // with nobody listening would.
      const ssize_t written = write(master, &out->byte, 1);
      (void)written;
    }

    Micros wait = 250 * zrvsim::kMillisecond;
    if (const auto next = wire.NextEvent()) wait = std::clamp<Micros>(*next - now, 0, wait);
    if (replugAt >= 0) wait = std::clamp<Micros>(replugAt - now, 0, wait);
    pollfd pfd{master, static_cast<short>(wire.PendingIn() < kReadAhead ? POLLIN : 0), 0};
    const timespec ts = ToTimespec(wait);
    // Nothing ready, or a signal: the loop looks again either way.
    if (ppoll(&pfd, 1, &ts, &waitMask) <= 0) continue;

    if (pfd.revents & POLLIN) {
      char buffer[256];
      const ssize_t got = read(master, buffer, sizeof buffer);
      if (got > 0) {
        wire.Receive(std::string_view(buffer, static_cast<std::size_t>(got)), clock.Elapsed());
        continue;
      }
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    }
    // Hang-up or EIO with no client on the other side keeps the descriptor
    // ready: pause before looking again, but not past what the wire has due,
    // and still open to a stop or a toggle.
    if (pfd.revents & (POLLHUP | POLLERR | POLLIN)) {
      Micros pause = 20 * zrvsim::kMillisecond;
      if (const auto next = wire.NextEvent()) {
        pause = std::clamp<Micros>(*next - clock.Elapsed(), 0, pause);
      }
      const timespec nap = ToTimespec(pause);
      ppoll(nullptr, 0, &nap, &waitMask);
    }
  }

  if (!config.link.empty()) unlink(config.link.c_str());
  close(slave);
  close(master);
  return 0;
}
