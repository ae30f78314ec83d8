// SPDX-License-Identifier: MIT
// A believable stand-in for the climate controller at the far end of the
// serial line: its data memory, relays and timers, a small thermal model of
// the unit that keeps them moving, the host-link request/reply protocol, and
// injectable line faults. Time is whatever the caller says it is, so tests
// run it in virtual time and the pty server in real time.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zrvsim {

using Micros = std::int64_t;
inline constexpr Micros kMillisecond = 1000;
inline constexpr Micros kSecond = 1000 * kMillisecond;
inline constexpr Micros kMinute = 60 * kSecond;
inline constexpr Micros kHour = 60 * kMinute;

// Data-memory addresses the monitor reads or writes.
namespace dm {
inline constexpr std::uint16_t kDefrostCountdown = 87;  // s (512 set) / min (604 set)
inline constexpr std::uint16_t kDefrostClock = 88;      // base + minutes to go
inline constexpr std::uint16_t kDefrostInterval = 89;   // minutes
inline constexpr std::uint16_t kRevision = 108;
inline constexpr std::uint16_t kSystem = 109;
inline constexpr std::uint16_t kTotalLo = 117;
inline constexpr std::uint16_t kTotalHi = 118;
inline constexpr std::uint16_t kSecondLo = 119;  // cooling demand / heater effective
inline constexpr std::uint16_t kSecondHi = 120;
inline constexpr std::uint16_t kFourthLo = 121;  // defrost / cooler effective
inline constexpr std::uint16_t kFourthHi = 122;
inline constexpr std::uint16_t kHeaterLo = 125;
inline constexpr std::uint16_t kHeaterHi = 126;
inline constexpr std::uint16_t kCoolerLo = 127;
inline constexpr std::uint16_t kCoolerHi = 128;
inline constexpr std::uint16_t kHumidifierLo = 131;
inline constexpr std::uint16_t kHumidifierHi = 132;
inline constexpr std::uint16_t kTempSet = 890;     // tenths of a degree
inline constexpr std::uint16_t kDefrostTarget = 891;  // tenths of a degree
inline constexpr std::uint16_t kRhSet = 893;       // tenths of a percent
inline constexpr std::uint16_t kCo2Set = 894;      // hundredths of a percent
inline constexpr std::uint16_t kHostAck = 901;
inline constexpr std::uint16_t kCo2 = 984;         // hundredths of a percent
inline constexpr std::uint16_t kEvaporator = 991;  // (T + 50) x 20
inline constexpr std::uint16_t kTemperature = 992;
inline constexpr std::uint16_t kHumidity = 993;
}  // namespace dm

// ---- the unit -----------------------------------------------------------------

struct UnitOptions {
  int variant = 9;                  // 1, 2, 3 or 9
  std::uint16_t revision = 7123;    // >= 7000: offset scale; >= 7123: DM89
  std::uint16_t system = 1;         // DM109
  int relaySet = 512;               // 512 (relay 7000 exists) or 604
  // Set points in register units.
  int tempSet = 225;                // 22.5 C
  int rhSet = 500;                  // 50.0 %
  int co2Set = 30;                  // 0.30 %
  int defrostTarget = 100;          // 10.0 C
  int defrostInterval = 360;        // minutes between defrosts, 0: never
  int defrostMaxMinutes = 30;
  int firstDefrost = -1;            // minutes to the first defrost, -1: an interval
  // Where the unit starts and what surrounds it.
  double startTemp = 18.0;
  double startRh = 42.0;
  double startCo2 = 0.10;           // percent
  double ambientMean = 16.0;        // outside air, daily swing around it
  double ambientSwing = 8.0;
  double internalGain = 4.0;        // C that animals and lights add at rest
  double noise = 1.0;               // scale of process and sensor noise, 0: none
  // Relay states forced after the variant's own (e.g. {3004,1},{3000,0}).
  std::map<int, int> relayOverrides;
  // Timers T106 and T107: presets and tick lengths.
  int t106Preset = 600;
  Micros t106Tick = 100 * kMillisecond;
  int t107Preset = 900;
  Micros t107Tick = kSecond;
  std::uint64_t seed = 1;
};

// The physical unit behind the registers, stepped once per simulated second.
class Unit {
 public:
  explicit Unit(const UnitOptions& options = {});

  void AdvanceTo(Micros t);  // never goes back
  Micros Now() const { return now_; }

  std::uint16_t Dm(std::uint32_t address) const { return memory_[address & 0xFFFF]; }
  void WriteDm(std::uint16_t address, std::uint16_t value);
  // The relay's state, or nothing when the relay does not exist.
  std::optional<bool> Relay(int number) const;
  struct TimerValue {
    int current;
    int preset;
  };
  std::optional<TimerValue> Timer(int number) const;

  // A counter pair (low word at `lowAddress`, high word next to it) as
  // one number.
  std::uint32_t Counter(std::uint16_t lowAddress) const;

  // The plant as it really is, for tests and the trace.
  double Temperature() const { return temp_; }
  double Humidity() const { return rh_; }
  double Co2() const { return co2_; }
  double Evaporator() const { return evap_; }
  double Ambient() const;
  bool Heater() const { return heater_; }
  bool Cooler() const { return cooler_; }
  bool FloorHeater() const { return floor_; }
  bool Humidifier() const { return humidifier_; }
  bool Vent() const { return vent_; }
  bool CoolingMode() const { return coolingMode_; }
  bool Defrosting() const { return defrosting_; }
  bool HasEvaporator() const;
  int DefrostsDone() const { return defrosts_; }
  const std::array<int, 4>& StatusRelays() const { return status_; }
  const UnitOptions& Options() const { return options_; }

 private:
  void Step();  // one second
  void Publish();
  void AddSeconds(std::uint16_t lowAddress, std::uint32_t seconds);
  double Gauss();
  double Uniform();

  UnitOptions options_;
  std::vector<std::uint16_t> memory_;
  std::map<int, bool> fixedRelays_;
  std::array<int, 4> status_{};
  Micros now_ = 0;
  std::int64_t seconds_ = 0;  // whole seconds simulated
  std::uint64_t rng_;

  double temp_, rh_, co2_, evap_;
  bool heater_ = false, cooler_ = false, floor_ = false;
  bool humidifier_ = false, vent_ = false, coolingMode_ = false;
  bool ventForCo2_ = false, ventForRh_ = false;
  bool coolDemand_ = false;
  bool defrosting_ = false;
  std::int64_t defrostStart_ = 0;
  std::int64_t nextDefrost_ = -1;  // second the next defrost starts, -1: none
  int defrosts_ = 0;
};

// ---- line faults --------------------------------------------------------------

enum class FaultKind {
  kSilence,   // request not heard: no effect, no reply
  kLost,      // request carried out, reply lost on the way
  kLatency,   // reply delayed by arg ms (default 30)
  kLate,      // reply delayed past the client's patience, arg ms (default 1000)
  kNoEnd,     // reply without its CR LF
  kGarbage,   // reply replaced by arg random bytes (default 8), then CR LF
  kBabble,    // reply replaced by arg letters (default 3000) and no line end
  kError,     // request refused with arg (default "E1")
  kReply,     // scripted reply text arg instead of the real one (not carried out)
  kDead,      // the line goes dead for good from this request on
};

struct FaultRule {
  std::string match = "*";  // glob on the request text: * and ?, any case
  FaultKind kind = FaultKind::kSilence;
  std::string arg;          // see FaultKind
  int after = 0;            // let this many matching requests pass first
  int times = -1;           // then apply this many times, -1: always
  int every = 1;            // only to every Nth of those matches
  double probability = 1.0;
  // Bookkeeping.
  int seen = 0;
  int applied = 0;
};

struct FaultOptions {
  std::vector<FaultRule> rules;
  double rate = 0.0;  // chance per request of a random fault
  std::vector<FaultKind> randomKinds = {FaultKind::kSilence, FaultKind::kLost,
                                        FaultKind::kNoEnd,   FaultKind::kLate,
                                        FaultKind::kGarbage, FaultKind::kError};
  Micros deadAfterTime = -1;     // no reply from this model time on
  long deadAfterRequests = -1;   // requests beyond this many get no reply
};

struct Options {
  UnitOptions unit;
  FaultOptions faults;
  Micros latency = 5 * kMillisecond;  // CR in to first reply byte out
  Micros jitter = 0;                  // plus up to this much, seeded
};

// What one request brings back.
struct Response {
  bool sent = false;      // false: nothing comes back at all
  std::string bytes;      // the reply as it goes on the wire, CR LF included
  Micros delay = 0;       // from the request's CR to the first reply byte
  std::string fault;      // what was injected, empty when nothing; for traces
};

class Controller {
 public:
  explicit Controller(const Options& options = {});

  void AdvanceTo(Micros t) { unit_.AdvanceTo(t); }
  Micros Now() const { return unit_.Now(); }

  // One request line (without its CR) at the current time.
  Response Handle(std::string_view request);
  // The plain protocol answer, without faults or line end.
  std::string Answer(std::string_view request);

  // The line goes dead and comes back (operator's switch).
  void SetSilent(bool silent) { silent_ = silent; }
  bool Silent() const { return silent_; }
  bool Dead() const { return dead_; }

  void AddFault(const FaultRule& rule) { options_.faults.rules.push_back(rule); }
  const std::vector<FaultRule>& Faults() const { return options_.faults.rules; }
  long RequestCount() const { return requests_; }

  class Unit& Unit() { return unit_; }
  const class Unit& Unit() const { return unit_; }

 private:
  double Uniform();
  std::string Garbage(int count);

  Options options_;
  class Unit unit_;
  std::uint64_t rng_;
  long requests_ = 0;
  bool silent_ = false;
  bool dead_ = false;
};

// ---- helpers shared by the wire adapter and the server ----------------------

// Gathers host bytes into request lines ended by CR. LF and NUL between
// lines are dropped (terminals that send CR LF), BS and DEL take back the
// last character, and an overlong line is cut but still answered.
class LineCollector {
 public:
  static constexpr std::size_t kMaxLine = 512;
  // The finished request when `byte` was its CR.
  std::optional<std::string> Push(std::uint8_t byte);
  void Clear() { line_.clear(); }
  const std::string& Pending() const { return line_; }

 private:
  std::string line_;
};

// Case-insensitive glob with * and ?.
bool GlobMatch(std::string_view pattern, std::string_view text);
// C-style escapes: \e \r \n \t \a \b \0 \\ \xHH \NNN (octal). Unknown
// escapes keep the character after the backslash.
std::string Unescape(std::string_view text);
// Printable form of wire bytes for traces: \r \n \e \\ \xHH.
std::string EscapeBytes(std::string_view bytes);

std::optional<FaultKind> ParseFaultKind(std::string_view name);
std::string_view FaultKindName(FaultKind kind);
// "MATCH:KIND[,after=N][,times=N][,p=P][:ARG]"; nothing on a bad rule, with
// the reason in `error`.
std::optional<FaultRule> ParseFaultRule(std::string_view text, std::string& error);
// "REQUEST=TEXT" with escapes in TEXT: a scripted reply.
std::optional<FaultRule> ParseReplyRule(std::string_view text, std::string& error);

}  // namespace zrvsim
