// SPDX-License-Identifier: MIT
#include "sim/model/cli.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace zrvsim {
namespace {

bool ToDouble(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || !end || *end != '\0' || !std::isfinite(v)) return false;
  out = v;
  return true;
}

bool ToLong(const std::string& text, long long lo, long long hi, long long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || !end || *end != '\0' || v < lo || v > hi) return false;
  out = v;
  return true;
}

// Tenths, hundredths and so on of a decimal quantity, rounded.
bool ToScaled(const std::string& text, double scale, double lo, double hi, int& out) {
  double v = 0;
  if (!ToDouble(text, v) || v < lo || v > hi) return false;
  out = static_cast<int>(std::lround(v * scale));
  return true;
}

}  // namespace

Micros CharTime(int baud) {
  if (baud <= 0) return 0;
  return (11 * kSecond + baud / 2) / baud;
}

std::string ServerUsage() {
  return R"(Usage: zrvsim [OPTION]...
Serves a simulated climate controller on a pseudo-terminal and prints the
pty's path on the first line of standard output.

Unit:
  --variant N            unit variant 1, 2, 3 or 9 (default 9)
  --revision N           controller revision DM108 (default 7123); 7000 and
                         up use the offset scale, 7123 and up take DM89
  --system N             system number DM109 (default 1)
  --relay-set 512|604    indicator relays 512-515 (relay 7000 reads 0) or
                         604-607 (relay 7000 answers an error) (default 512)
  --relay N=V            force relay N to V (0 or 1); V -1 removes it
  --temp-set C           temperature set point in degrees (default 22.5)
  --rh-set PCT           humidity set point in percent (default 50.0)
  --co2-set PCT          CO2 set point in percent (default 0.30)
  --defrost-target C     defrost end temperature (default 10.0)
  --defrost-interval MIN minutes between defrosts, 0 never (default 360)
  --first-defrost MIN    minutes to the first defrost (default: an interval)
  --start-temp C         temperature at start (default 18.0)
  --ambient C            mean outside temperature (default 16.0)
  --noise F              noise scale, 0 for none (default 1)
  --speed F              simulated seconds per real second (default 1)
  --seed N               seed for noise and random faults (default 1)

Line:
  --latency MS           delay from a request's CR to its reply (default 5)
  --jitter MS            plus up to this much, at random (default 0)
  --baud N               line pacing both ways, 11 bits per character
                         (default 9600)

Faults:
  --fault RULE           MATCH:KIND[,after=N][,times=N][,every=N][,p=P][:ARG],
                         repeatable.
                         MATCH is a glob (* and ?, any case) on the request
                         text. KIND is one of
                           silence       no effect, no reply
                           lost          carried out, reply lost
                           latency[:MS]  reply MS later (default 30)
                           late[:MS]     reply after the client gave up (1000)
                           noend         reply without CR LF
                           garbage[:N]   N random bytes instead (default 8)
                           babble[:N]    N letters and no line end (3000)
                           error[:TEXT]  refused with TEXT (default E1)
                           reply:TEXT    TEXT instead of the real reply
                           dead          the line dies for good
                         after=N lets N matches pass first, times=N limits
                         how often it applies, every=N applies it to every
                         Nth match only, p=P applies it at random.
                         ARG takes C escapes (\e \r \n \t \xHH \\).
  --reply REQUEST=TEXT   scripted reply, TEXT with C escapes (\e for ESC)
  --fault-rate P         chance per request of a random fault (default 0)
  --fault-kinds K,K...   kinds the random faults pick from (default
                         silence,lost,noend,late,garbage,error)
  --dead-after SECONDS   no reply at all from this many seconds on
  --dead-after-requests N  no reply to any request after the first N

Output:
  --link PATH            symlink PATH to the pty (removed at exit)
  --trace FILE|-         log requests and replies, '-' for stderr:
                           12.345 > RD DM992     request (time of its CR)
                           12.351 < 23200        reply (first byte sent)
                           12.345 ! late         injected fault or event
                         times in seconds since start; bytes escaped as
                         \r \n \e \\ \xHH; a reply without CR LF ends in
                         ' [noend]'
  --replug-after SEC     how long a SIGUSR2 unplug lasts (default 3)
  --help                 this text
  --version              the program's version

Signals: SIGUSR1 switches the line dead and back; SIGUSR2 unplugs the pty
(closed, the link removed) and after --replug-after seconds plugs a new one
in at the same link; SIGINT and SIGTERM end it.
)";
}

bool ParseServerArgs(const std::vector<std::string>& args, ServerConfig& config,
                     std::string& error) {
  UnitOptions& unit = config.model.unit;
  FaultOptions& faults = config.model.faults;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool inlineValue = false;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      inlineValue = true;
    }
    if (name == "--help" || name == "-h") {
      config.help = true;
      continue;
    }
    if (name == "--version") {
      config.version = true;
      continue;
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) {
        error = name.rfind("--", 0) == 0 ? name + " needs a value" : "unknown argument " + name;
        return false;
      }
      value = args[++i];
    }
    const auto bad = [&](const char* what) {
      error.assign(name).append(": ").append(what).append(" ('").append(value).append("')");
      return false;
    };
    long long n = 0;
    double d = 0;
    if (name == "--variant") {
      if (!ToLong(value, 1, 9, n) || (n != 1 && n != 2 && n != 3 && n != 9)) {
        return bad("expected 1, 2, 3 or 9");
      }
      unit.variant = int(n);
    } else if (name == "--revision") {
      if (!ToLong(value, 0, 65535, n)) return bad("expected 0 to 65535");
      unit.revision = static_cast<std::uint16_t>(n);
    } else if (name == "--system") {
      if (!ToLong(value, 0, 65535, n)) return bad("expected 0 to 65535");
      unit.system = static_cast<std::uint16_t>(n);
    } else if (name == "--relay-set") {
      if (value != "512" && value != "604") return bad("expected 512 or 604");
      unit.relaySet = value == "512" ? 512 : 604;
    } else if (name == "--relay") {
      const auto eq = value.find('=');
      long long relay = 0, state = 0;
      if (eq == std::string::npos || !ToLong(value.substr(0, eq), 0, 65535, relay) ||
          !ToLong(value.substr(eq + 1), -1, 1, state)) {
        return bad("expected N=0, N=1 or N=-1");
      }
      unit.relayOverrides[int(relay)] = int(state);
    } else if (name == "--temp-set") {
      if (!ToScaled(value, 10, -50, 100, unit.tempSet)) return bad("expected degrees -50 to 100");
    } else if (name == "--rh-set") {
      if (!ToScaled(value, 10, 0, 100, unit.rhSet)) return bad("expected percent 0 to 100");
    } else if (name == "--co2-set") {
      if (!ToScaled(value, 100, 0, 100, unit.co2Set)) return bad("expected percent 0 to 100");
    } else if (name == "--defrost-target") {
      if (!ToScaled(value, 10, -50, 100, unit.defrostTarget)) {
        return bad("expected degrees -50 to 100");
      }
    } else if (name == "--defrost-interval") {
      if (!ToLong(value, 0, 65535, n)) return bad("expected minutes 0 to 65535");
      unit.defrostInterval = int(n);
    } else if (name == "--first-defrost") {
      if (!ToLong(value, 0, 65535, n)) return bad("expected minutes 0 to 65535");
      unit.firstDefrost = int(n);
    } else if (name == "--start-temp") {
      if (!ToDouble(value, d) || d < -40 || d > 70) return bad("expected degrees -40 to 70");
      unit.startTemp = d;
    } else if (name == "--ambient") {
      if (!ToDouble(value, d) || d < -40 || d > 60) return bad("expected degrees -40 to 60");
      unit.ambientMean = d;
    } else if (name == "--noise") {
      if (!ToDouble(value, d) || d < 0 || d > 100) return bad("expected 0 to 100");
      unit.noise = d;
    } else if (name == "--speed") {
      if (!ToDouble(value, d) || d <= 0 || d > 100000) return bad("expected above 0");
      config.speed = d;
    } else if (name == "--seed") {
      if (!ToLong(value, 0, (1LL << 62), n)) return bad("expected a whole number");
      unit.seed = static_cast<std::uint64_t>(n);
    } else if (name == "--latency") {
      if (!ToDouble(value, d) || d < 0 || d > 3600000) return bad("expected milliseconds");
      config.model.latency = static_cast<Micros>(std::llround(d * 1000));
    } else if (name == "--jitter") {
      if (!ToDouble(value, d) || d < 0 || d > 3600000) return bad("expected milliseconds");
      config.model.jitter = static_cast<Micros>(std::llround(d * 1000));
    } else if (name == "--replug-after") {
      if (!ToDouble(value, d) || d < 0 || d > 3600) return bad("expected seconds 0 to 3600");
      config.replugAfter = d;
    } else if (name == "--baud") {
      if (!ToLong(value, 50, 4000000, n)) return bad("expected 50 to 4000000");
      config.baud = int(n);
    } else if (name == "--fault") {
      std::string why;
      auto rule = ParseFaultRule(value, why);
      if (!rule) return bad(why.c_str());
      faults.rules.push_back(*rule);
    } else if (name == "--reply") {
      std::string why;
      auto rule = ParseReplyRule(value, why);
      if (!rule) return bad(why.c_str());
      faults.rules.push_back(*rule);
    } else if (name == "--fault-rate") {
      if (!ToDouble(value, d) || d < 0 || d > 1) return bad("expected 0 to 1");
      faults.rate = d;
    } else if (name == "--fault-kinds") {
      std::vector<FaultKind> kinds;
      std::size_t pos = 0;
      while (pos <= value.size()) {
        auto comma = value.find(',', pos);
        if (comma == std::string::npos) comma = value.size();
        const auto kind = ParseFaultKind(value.substr(pos, comma - pos));
        if (!kind || *kind == FaultKind::kReply) return bad("unknown or unusable kind");
        kinds.push_back(*kind);
        pos = comma + 1;
      }
      faults.randomKinds = kinds;
    } else if (name == "--dead-after") {
      if (!ToDouble(value, d) || d < 0) return bad("expected seconds");
      config.deadAfter = d;
    } else if (name == "--dead-after-requests") {
      if (!ToLong(value, 0, 1LL << 40, n)) return bad("expected a count");
      faults.deadAfterRequests = long(n);
    } else if (name == "--link") {
      if (value.empty()) return bad("expected a path");
      config.link = value;
    } else if (name == "--trace") {
      if (value.empty()) return bad("expected a file or -");
      config.trace = value;
    } else {
      error = "unknown option " + name;
      return false;
    }
  }
  if (config.deadAfter >= 0) {
    // A time past what model time can count to never comes: the line stays up.
    const double at = config.deadAfter * config.speed * double(kSecond);
    faults.deadAfterTime =
        at < double(std::numeric_limits<Micros>::max()) ? static_cast<Micros>(at) : -1;
  }
  return true;
}

}  // namespace zrvsim
