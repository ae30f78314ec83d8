// SPDX-License-Identifier: MIT
#include "record/control.h"

#include <array>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>

#include "monitor/guarded_read.h"
#include "monitor/state.h"
#include "platform/platform.h"
#include "record/mqtt.h"
#include "record/record.h"

const SetPointKind kSetPointKinds[kSetPointKeys] = {
    {"temperature_setpoint", "temperature set point", "temperature", "C", 890, 1},
    {"humidity_setpoint", "humidity set point", "humidity", "%", 893, 1},
    {"co2_setpoint", "CO2 set point", "co2", "ppm", 894, -2},
};

const char* const kSetPointOutcomeNames[kSetPointOutcomes] = {"ok", "failed", "refused"};

namespace {

// Conservative: a command outside them is a mistake more likely than a wish.
constexpr SetPointLimit kDefaultLimits[kSetPointKeys] = {{50, 350}, {200, 900}, {10, 100}};
// Enough for any 16-bit register in any of the units, and no overflow.
constexpr std::size_t kMostDigits = 9;

// A remote write waits no longer for the person at the unit (the reset
// prompt or the terminal) to give up the line.
constexpr std::uint64_t kLongestWaitMs = 60000;

bool Control = false;
std::atomic<std::int64_t> Counts[kSetPointKeys][kSetPointOutcomes];
std::string Writes;

// The latest command per set point, shared with the MQTT client's thread.
std::mutex PendingLock;
std::array<bool, kSetPointKeys> Waiting{};
std::array<SetPointCommand, kSetPointKeys> Pending{};
// Whether any is waiting: asked after every request, so that the polling
// thread takes the lock only when there is something to take.
std::atomic<bool> AnyWaiting{false};

bool TakeSetPoint(SetPointCommand& command) {
  if (!AnyWaiting.load(std::memory_order_acquire)) return false;
  std::lock_guard<std::mutex> hold(PendingLock);
  int oldest = -1;
  for (int key = 0; key < kSetPointKeys; ++key) {
    if (Waiting[key] && (oldest < 0 || Pending[key].sinceMs < Pending[oldest].sinceMs)) {
      oldest = key;
    }
  }
  if (oldest < 0) return false;
  Waiting[oldest] = false;
  AnyWaiting = std::find(Waiting.begin(), Waiting.end(), true) != Waiting.end();
  command = Pending[oldest];
  return true;
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// `text` in the register's units, within what a 16-bit word holds.
bool ToRegister(SetPointKey key, std::string_view text, std::int32_t& value,
                std::string& why) {
  const SetPointKind& kind = kSetPointKinds[key];
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  const std::size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  if (!AllDigits(whole) || (point != std::string_view::npos && !AllDigits(fraction))) {
    why = "not a plain decimal number";
    return false;
  }
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  while (whole.size() > 1 && whole[0] == '0') whole.remove_prefix(1);
  std::int64_t n = 0;
  if (whole.size() + fraction.size() <= kMostDigits) {
    for (const char c : whole) n = n * 10 + (c - '0');
    for (const char c : fraction) n = n * 10 + (c - '0');
    for (int e = kind.shift - static_cast<int>(fraction.size()); e != 0; e += e < 0 ? 1 : -1) {
      if (e > 0) {
        n *= 10;
      } else if (n % 10 != 0) {
        why = "finer than the register holds (steps of " + SetPointText(key, 1) +
              " " + kind.unit + ")";
        return false;
      } else {
        n /= 10;
      }
    }
  }
  if (negative) n = -n;
  if (whole.size() + fraction.size() > kMostDigits || n < -32768 || n > 32767) {
    why = "more than the register holds";
    return false;
  }
  value = static_cast<std::int32_t>(n);
  return true;
}

}  // namespace

SetPointLimit SetPointLimits[kSetPointKeys] = {kDefaultLimits[0], kDefaultLimits[1],
                                                 kDefaultLimits[2]};

bool SetPointControlOpen(const char* limits, std::string& why) {
  Control = true;
  std::string_view rest = limits != nullptr ? limits : "";
  const std::string usage =
      "--setpoint-limits takes temperature=MIN:MAX,humidity=MIN:MAX,co2=MIN:MAX";
  SetPointLimit taken[kSetPointKeys] = {SetPointLimits[0], SetPointLimits[1],
                                        SetPointLimits[2]};
  for (bool more = !rest.empty(); more;) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    more = comma != std::string_view::npos;
    if (more) rest.remove_prefix(comma + 1);
    const std::size_t equals = item.find('=');
    const std::size_t colon = item.find(':');
    int key = 0;
    while (key < kSetPointKeys &&
           item.substr(0, equals) != kSetPointKinds[key].option) {
      ++key;
    }
    if (equals == std::string_view::npos || colon == std::string_view::npos ||
        colon < equals || key == kSetPointKeys) {
      why = usage + ": '" + std::string(item) + "'";
      return false;
    }
    const auto which = static_cast<SetPointKey>(key);
    SetPointLimit& limit = taken[key];
    std::string problem;
    if (!ToRegister(which, item.substr(equals + 1, colon - equals - 1), limit.low, problem) ||
        !ToRegister(which, item.substr(colon + 1), limit.high, problem)) {
      why = usage;
      why.append(": '").append(item).append("' is ").append(problem);
      return false;
    }
    if (limit.low > limit.high) {
      why = usage + ": '" + std::string(item) + "' has its MIN above its MAX";
      return false;
    }
  }
  for (int key = 0; key < kSetPointKeys; ++key) SetPointLimits[key] = taken[key];
  return true;
}

bool SetPointControlOn() { return Control; }

bool ParseSetPoint(SetPointKey key, std::string_view payload, std::int32_t& value,
                   std::string& why) {
  const SetPointKind& kind = kSetPointKinds[key];
  const SetPointLimit& limit = SetPointLimits[key];
  std::int32_t n = 0;
  if (!ToRegister(key, payload, n, why)) return false;
  value = n;
  if (n < limit.low || n > limit.high) {
    why = std::string(n < limit.low ? "below the limit of " : "above the limit of ") +
          SetPointText(key, n < limit.low ? limit.low : limit.high) + " " + kind.unit;
    return false;
  }
  value = n;
  return true;
}

std::string SetPointText(SetPointKey key, std::int32_t value) {
  const int shift = kSetPointKinds[key].shift;
  std::string digits = std::to_string(value < 0 ? -static_cast<std::int64_t>(value) : value);
  if (shift < 0) {
    digits += std::string(static_cast<std::size_t>(-shift), '0');
  } else if (shift > 0) {
    if (digits.size() <= static_cast<std::size_t>(shift)) {
      digits.insert(0, static_cast<std::size_t>(shift) + 1 - digits.size(), '0');
    }
    digits.insert(digits.size() - static_cast<std::size_t>(shift), ".");
    while (digits.back() == '0') digits.pop_back();
    if (digits.back() == '.') digits.pop_back();
  }
  return (value < 0 ? "-" : "") + digits;
}

std::string SetPointShown(SetPointKey key, std::int32_t value) {
  const SetPointKind& kind = kSetPointKinds[key];
  if (kind.shift <= 0) return SetPointText(key, value) + " " + kind.unit;
  double shown = value;
  for (int i = 0; i < kind.shift; ++i) shown /= 10;
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %s", shown, kind.unit);
  return text;
}

std::string SetPointNews(int port, SetPointKey key, const std::string& what,
                         const std::string& reason) {
  return "zrvmon: COM" + std::to_string(port) + ": " + kSetPointKinds[key].name + " " +
         what + " (MQTT)" + (reason.empty() ? "" : ": " + reason);
}

void CountSetPoint(SetPointKey key, SetPointOutcome outcome) { ++Counts[key][outcome]; }

std::int64_t SetPointCount(SetPointKey key, SetPointOutcome outcome) {
  return Counts[key][outcome].load();
}

bool OfferSetPoint(const SetPointCommand& command, SetPointCommand& replaced) {
  std::lock_guard<std::mutex> hold(PendingLock);
  const bool waited = Waiting[command.key];
  replaced = Pending[command.key];
  Pending[command.key] = command;
  Waiting[command.key] = true;
  AnyWaiting = true;
  return waited;
}

void WriteCommandedSetPoint() {
  SetPointCommand command;
  if (!TakeSetPoint(command)) return;
  const SetPointKey key = command.key;
  const std::string asked = SetPointShown(key, command.value);
  std::string reason;
  std::string news;
  SetPointOutcome outcome = kWriteRefused;
  if (plat::GetTickCount64() - command.sinceMs > kLongestWaitMs) {
    reason = "the terminal was in use";
    news = SetPointNews(ActivePort, key, asked + " refused", reason);
  } else {
    std::int32_t before = 0;
    std::int32_t readBack = 0;
    const SetPointWrite done =
        WriteSetPoint(kSetPointKinds[key].address, command.value, readBack, before);
    outcome = done == SetPointWrite::kWritten ? kWriteOk : kWriteFailed;
    if (done == SetPointWrite::kNotTaken) reason = "the controller did not answer OK";
    if (done == SetPointWrite::kNoReadBack) reason = "its read-back got no usable reply";
    if (done == SetPointWrite::kReadBackDiffers) {
      reason = "its read-back was " + SetPointShown(key, readBack);
    }
    const std::string write =
        std::string(kSetPointKinds[key].key) + "=" + SetPointText(key, command.value);
    Writes += (Writes.empty() ? "" : ";") + write + (outcome == kWriteOk ? "" : " failed");
    news = SetPointNews(ActivePort, key,
                        outcome == kWriteOk ? SetPointShown(key, before) + " -> " + asked
                                            : asked + " not written",
                        reason);
  }
  CountSetPoint(key, outcome);
  MqttSetPointResult(command, outcome == kWriteOk, reason);
  RecordNews(news);
}

std::string TakeSetPointWrites() {
  std::string taken;
  taken.swap(Writes);
  return taken;
}

void WithdrawSetPointCommands() {
  for (SetPointCommand command; TakeSetPoint(command);) {
    CountSetPoint(command.key, kWriteRefused);
    MqttSetPointResult(command, false, "the monitor stopped");
  }
}

void ResetSetPointControlForTests() {
  Control = false;
  for (int key = 0; key < kSetPointKeys; ++key) {
    SetPointLimits[key] = kDefaultLimits[key];
    for (auto& count : Counts[key]) count = 0;
  }
  Writes.clear();
  Waiting = {};
  AnyWaiting = false;
}
