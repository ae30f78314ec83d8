// SPDX-License-Identifier: MIT
// The unit's physics and controls. One step per simulated second keeps the
// run independent of how often the caller looks, so the same seed gives the
// same registers whether a test advances by milliseconds or by hours.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/model/model.h"
#include "sim/model/random.h"

namespace zrvsim {
namespace {

double GaussFrom(std::uint64_t& state) {
  // Box-Muller; the first uniform is kept away from 0 for the logarithm.
  const double u1 = (double(NextBits(state) >> 11) + 1.0) * 0x1.0p-53;
  const double u2 = ToUnit(NextBits(state));
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

std::int16_t Signed(std::uint16_t word) { return static_cast<std::int16_t>(word); }

std::uint16_t Word(double value) {
  const double r = std::round(value);
  const auto clamped = static_cast<std::int32_t>(std::clamp(r, -32768.0, 65535.0));
  return static_cast<std::uint16_t>(clamped & 0xFFFF);
}

double Finite(double value, double fallback) {
  return std::isfinite(value) ? value : fallback;
}

}  // namespace

Unit::Unit(const UnitOptions& options)
    : options_(options),
      memory_(65536, 0),
      rng_(options.seed),
      temp_(options.startTemp),
      rh_(options.startRh),
      co2_(options.startCo2),
      evap_(options.startTemp) {
  // Identification relays as the variant wires them.
  for (int r = 3000; r <= 3004; ++r) fixedRelays_[r] = false;
  switch (options_.variant) {
    case 1:
      fixedRelays_[3000] = true;
      break;
    case 9:
      fixedRelays_[3000] = true;
      fixedRelays_[3003] = true;
      break;
    case 2:
      fixedRelays_[3001] = true;
      break;
    default:
      break;
  }
  // Older controllers carry the indicators on 604-607 and have no 7000.
  if (options_.relaySet == 604) {
    status_ = {604, 605, 606, 607};
  } else {
    status_ = {512, 513, 514, 515};
    fixedRelays_[7000] = false;
  }
  for (const auto& [relay, state] : options_.relayOverrides) {
    if (state == 0 || state == 1) {
      fixedRelays_[relay] = state == 1;
    } else {
      fixedRelays_.erase(relay);
    }
  }

  memory_[dm::kRevision] = options_.revision;
  memory_[dm::kSystem] = options_.system;
  memory_[dm::kTempSet] = Word(options_.tempSet);
  memory_[dm::kRhSet] = Word(options_.rhSet);
  memory_[dm::kCo2Set] = Word(options_.co2Set);
  memory_[dm::kDefrostTarget] = Word(options_.defrostTarget);
  memory_[dm::kDefrostInterval] = Word(std::max(options_.defrostInterval, 0));

  if (HasEvaporator() && options_.defrostInterval > 0) {
    const int first = options_.firstDefrost >= 0 ? options_.firstDefrost
                                                 : options_.defrostInterval;
    nextDefrost_ = std::int64_t(first) * 60;
  }
  const double set = options_.tempSet / 10.0;
  coolingMode_ = temp_ > set + 1.0;
  Publish();
}

bool Unit::HasEvaporator() const {
  for (int r : {3000, 3003, 3004}) {
    auto it = fixedRelays_.find(r);
    if (it != fixedRelays_.end() && it->second) return true;
  }
  return false;
}

double Unit::Ambient() const {
  // Daily swing, warmest at 15:00 with the run starting at midnight.
  const double hours = double(seconds_) / 3600.0;
  return options_.ambientMean +
         options_.ambientSwing * std::sin(2.0 * std::numbers::pi * (hours - 9.0) / 24.0);
}

void Unit::AdvanceTo(Micros t) {
  if (t <= now_) return;
  now_ = t;
  bool stepped = false;
  while ((seconds_ + 1) * kSecond <= now_) {
    Step();
    stepped = true;
  }
  if (stepped) Publish();
}

void Unit::WriteDm(std::uint16_t address, std::uint16_t value) { memory_[address] = value; }

std::optional<bool> Unit::Relay(int number) const {
  // What the operator forced or removed wins, indicators included.
  if (const auto it = options_.relayOverrides.find(number); it != options_.relayOverrides.end()) {
    if (it->second == 0 || it->second == 1) return it->second == 1;
    return std::nullopt;
  }
  if (number == status_[0]) return vent_;
  if (number == status_[1]) return heater_ || cooler_;
  if (number == status_[2]) return floor_;
  if (number == status_[3]) return coolingMode_;
  auto it = fixedRelays_.find(number);
  if (it == fixedRelays_.end()) return std::nullopt;
  return it->second;
}

std::optional<Unit::TimerValue> Unit::Timer(int number) const {
  int preset;
  Micros tick;
  if (number == 106) {
    preset = options_.t106Preset;
    tick = options_.t106Tick;
  } else if (number == 107) {
    preset = options_.t107Preset;
    tick = options_.t107Tick;
  } else {
    return std::nullopt;
  }
  preset = std::clamp(preset, 0, 99999);
  if (tick <= 0) return TimerValue{preset, preset};
  // Counts down one per tick to 0, then reloads from the preset.
  const std::int64_t ticks = now_ / tick;
  const int current = preset - static_cast<int>(ticks % (std::int64_t(preset) + 1));
  return TimerValue{current, preset};
}

std::uint32_t Unit::Counter(std::uint16_t lowAddress) const {
  return std::uint32_t(memory_[lowAddress]) |
         (std::uint32_t(memory_[(lowAddress + 1) & 0xFFFF]) << 16);
}

void Unit::AddSeconds(std::uint16_t lowAddress, std::uint32_t seconds) {
  const std::uint32_t value = Counter(lowAddress) + seconds;
  memory_[lowAddress] = static_cast<std::uint16_t>(value & 0xFFFF);
  memory_[(lowAddress + 1) & 0xFFFF] = static_cast<std::uint16_t>(value >> 16);
}

double Unit::Gauss() { return GaussFrom(rng_); }
double Unit::Uniform() { return ToUnit(NextBits(rng_)); }

void Unit::Step() {
  ++seconds_;
  constexpr double dt = 1.0 / 3600.0;  // rates below are per hour

  const double set = Signed(memory_[dm::kTempSet]) / 10.0;
  const double rhSet = Signed(memory_[dm::kRhSet]) / 10.0;
  const double co2Set = Signed(memory_[dm::kCo2Set]) / 100.0;
  const double defrostTarget = Signed(memory_[dm::kDefrostTarget]) / 10.0;
  const std::int64_t interval = std::int64_t(memory_[dm::kDefrostInterval]) * 60;
  const double ambient = Ambient();

  // Defrost: on a fixed clock, ended by a warm evaporator or the time limit.
  if (HasEvaporator() && interval > 0) {
    if (nextDefrost_ < 0 || nextDefrost_ > seconds_ + interval) {
      nextDefrost_ = seconds_ + interval;
    }
    if (!defrosting_ && seconds_ >= nextDefrost_) {
      defrosting_ = true;
      defrostStart_ = seconds_;
    }
    if (defrosting_ && (evap_ >= defrostTarget ||
                        seconds_ - defrostStart_ >= std::int64_t{options_.defrostMaxMinutes} * 60)) {
      defrosting_ = false;
      ++defrosts_;
      nextDefrost_ = seconds_ + interval;
    }
  } else {
    nextDefrost_ = -1;
    if (defrosting_) ++defrosts_;
    defrosting_ = false;
  }

  // Temperature: heating or cooling mode with a wide switch-over band, and
  // a narrow hysteresis for the heater and the compressor within each mode.
  if (!coolingMode_ && temp_ > set + 1.0) coolingMode_ = true;
  if (coolingMode_ && temp_ < set - 1.0) coolingMode_ = false;
  if (coolingMode_) {
    heater_ = false;
    floor_ = false;
    if (temp_ > set + 0.3) coolDemand_ = true;
    if (temp_ <= set) coolDemand_ = false;
  } else {
    coolDemand_ = false;
    if (temp_ < set - 0.3) heater_ = true;
    if (temp_ >= set) heater_ = false;
    if (temp_ < set - 1.5) floor_ = true;
    if (temp_ > set - 0.8) floor_ = false;
  }
  cooler_ = coolDemand_ && !defrosting_;

  if (rh_ < rhSet - 2.0) humidifier_ = true;
  if (rh_ >= rhSet + 0.5) humidifier_ = false;

  if (co2_ > co2Set + 0.03) ventForCo2_ = true;
  if (co2_ < co2Set - 0.05) ventForCo2_ = false;
  if (rh_ > rhSet + 8.0) ventForRh_ = true;
  if (rh_ < rhSet + 3.0) ventForRh_ = false;
  const bool freshAir = seconds_ % 3600 < 120;  // two minutes every hour
  vent_ = ventForCo2_ || ventForRh_ || freshAir;

  // Running-time counters for the second that just passed.
  const bool wideVariant = options_.variant == 1 || options_.variant == 9;
  AddSeconds(dm::kTotalLo, 1);
  if (heater_) AddSeconds(dm::kHeaterLo, 1);
  if (wideVariant ? coolDemand_ : (heater_ && temp_ < set)) AddSeconds(dm::kSecondLo, 1);
  if (cooler_) AddSeconds(dm::kCoolerLo, 1);
  if (wideVariant ? defrosting_ : (cooler_ && temp_ > set)) AddSeconds(dm::kFourthLo, 1);
  if (humidifier_) AddSeconds(dm::kHumidifierLo, 1);

  // First-order plant.
  const double noise = options_.noise;
  double dT = (ambient + options_.internalGain - temp_) / 3.0;
  if (heater_) dT += 6.0;
  if (floor_) dT += 1.5;
  if (cooler_) dT -= 9.0;
  if (defrosting_) dT += 0.5;
  if (vent_) dT += (ambient - temp_) / 1.5;
  temp_ += dT * dt + 0.003 * noise * Gauss();

  double dRh = (40.0 - rh_) / 3.0;
  if (humidifier_) dRh += 20.0;
  if (cooler_) dRh -= 4.0;
  if (vent_) dRh += (55.0 - rh_) / 1.0;
  rh_ += dRh * dt + 0.02 * noise * Gauss();

  double dCo2 = 0.08 + (0.04 - co2_) / 6.0;
  if (vent_) dCo2 += (0.04 - co2_) / 0.5;
  co2_ += dCo2 * dt + 0.0003 * noise * Gauss();

  if (defrosting_) {
    evap_ += 60.0 * dt;
  } else if (cooler_) {
    evap_ += (temp_ - 30.0 - evap_) / 240.0;
  } else {
    evap_ += (temp_ - evap_) / 1200.0;
  }

  temp_ = std::clamp(Finite(temp_, options_.startTemp), -40.0, 70.0);
  rh_ = std::clamp(Finite(rh_, options_.startRh), 0.0, 100.0);
  co2_ = std::clamp(Finite(co2_, options_.startCo2), 0.03, 5.0);
  evap_ = std::clamp(Finite(evap_, temp_), -49.0, 70.0);
}

void Unit::Publish() {
  // Sensor noise is drawn from the second's own stream, so reading more or
  // less often does not change the plant.
  std::uint64_t sensor = options_.seed ^ (std::uint64_t(seconds_) * 0xD1B54A32D192ED03ull);
  const double noise = options_.noise;
  const double t = temp_ + 0.02 * noise * GaussFrom(sensor);
  const double h = rh_ + 0.1 * noise * GaussFrom(sensor);
  const double c = co2_ + 0.002 * noise * GaussFrom(sensor);
  const double e = evap_ + 0.05 * noise * GaussFrom(sensor);

  if (memory_[dm::kRevision] >= 7000) {
    memory_[dm::kTemperature] = Word((t + 50.0) * 320.0);
    memory_[dm::kHumidity] = Word(std::clamp(h, 0.0, 100.0) * 320.0);
  } else {
    memory_[dm::kTemperature] = Word(t * 40.0);
    memory_[dm::kHumidity] = Word(std::clamp(h, 0.0, 100.0) * 40.0);
  }
  memory_[dm::kCo2] = Word(std::max(c, 0.0) * 100.0);
  memory_[dm::kEvaporator] = Word((e + 50.0) * 20.0);

  // Defrost countdown: DM88 counts minutes above a base the monitor knows
  // (DM89 on newer revisions, 72 hours on older ones); DM87 is the same
  // countdown in seconds, or in minutes on controllers with the 604 set.
  const std::uint32_t base =
      memory_[dm::kRevision] >= 7123 ? memory_[dm::kDefrostInterval] : 4320u;
  std::int64_t remaining = 0;
  if (nextDefrost_ >= 0 && !defrosting_) remaining = std::max<std::int64_t>(nextDefrost_ - seconds_, 0);
  const std::int64_t minutes = (remaining + 59) / 60;
  memory_[dm::kDefrostClock] = static_cast<std::uint16_t>((base + minutes) & 0xFFFF);
  const std::int64_t countdown = options_.relaySet == 604 ? minutes : remaining;
  memory_[dm::kDefrostCountdown] = static_cast<std::uint16_t>(std::min<std::int64_t>(countdown, 65535));
}

}  // namespace zrvsim
