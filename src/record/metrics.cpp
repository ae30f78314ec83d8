// SPDX-License-Identifier: MIT
#include "record/metrics.h"

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string_view>
#include <system_error>

#include "console/text.h"
#include "link/serial_port.h"
#include "monitor/state.h"
#include "platform/platform.h"
#include "record/control.h"

#ifndef ZRV_VERSION
#define ZRV_VERSION "unknown"
#endif

namespace {

// Written at most this often: the collector reads the file at each scrape.
constexpr std::uint64_t kWriteEveryMs = 1000;

struct Metrics {
  bool open = false;
  std::string path;
  std::string unit;
  std::string paused;  // why the last write failed, empty while they run
  std::uint64_t lastWriteMs = 0;
  bool written = false;
  bool linkDown = false;  // readings stopped since the last cycle's end
  std::string system;     // the system number last read well
  std::string lastText;   // what was written last
  // The last value of every series whose last read was good; a failed read
  // takes its series out, a read not made (not due this cycle, Esc, a
  // reset under way) leaves it.
  std::map<std::string, std::string> kept;
  std::string device;  // the port label of zrv_info, from start-up
};
Metrics g_metrics;

struct Family {
  const char* name;
  const char* type;
  const char* help;
};

// The families in the file's order.
constexpr Family kFamilies[] = {
    {"zrv_up", "gauge", "1 when the last cycle got at least one usable reply, else 0"},
    {"zrv_info", "gauge", "The unit's controller and the monitor polling it"},
    {"zrv_temperature_celsius", "gauge", "Temperature (row 3)"},
    {"zrv_temperature_setpoint_celsius", "gauge", "Temperature set point"},
    {"zrv_temperature_average_celsius", "gauge", "Running average of the temperature"},
    {"zrv_relative_humidity_ratio", "gauge", "Relative humidity, 0 to 1 (row 4)"},
    {"zrv_relative_humidity_setpoint_ratio", "gauge", "Relative humidity set point, 0 to 1"},
    {"zrv_relative_humidity_average_ratio", "gauge", "Running average of the relative humidity, 0 to 1"},
    {"zrv_co2_ratio", "gauge", "CO2 as a fraction (row 5)"},
    {"zrv_co2_setpoint_ratio", "gauge", "CO2 set point as a fraction"},
    {"zrv_evaporator_temperature_celsius", "gauge", "Evaporator temperature (row 6)"},
    {"zrv_defrost_remaining_seconds", "gauge", "Time to the next defrost (row 7)"},
    {"zrv_defrost_end_temperature_celsius", "gauge", "Temperature that ends a defrost"},
    {"zrv_indicator_on", "gauge", "Status indicators, 1 on (temp_mode: 1 is C)"},
    {"zrv_running_seconds_total", "counter", "Operating counters (rows 14 to 19)"},
    {"zrv_timer_minimum", "gauge", "Smallest value seen of the controller timers (row 20)"},
    {"zrv_requests_total", "counter", "Requests to the controller since the start"},
    {"zrv_unanswered_total", "counter", "Requests that got no reply since the start"},
    {"zrv_unusable_total", "counter", "Replies that could not be used since the start"},
    {"zrv_cycles_total", "counter", "Polling cycles completed since the start"},
    {"zrv_setpoint_writes_total", "counter", "Set point commands from MQTT since the start, by outcome"},
    {"zrv_last_cycle_timestamp_seconds", "gauge", "Unix time at the end of the last complete cycle"},
};

// A label value with \, " and newlines escaped as the format asks.
std::string Escaped(std::string_view value) {
  std::string out;
  for (const char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

}  // namespace

std::string Scaled(std::string_view text, int shift) {
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  std::string digits;
  int decimals = 0;
  bool point = false;
  for (const char c : text) {
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      digits += c;
      if (point) ++decimals;
    } else {
      return {};
    }
  }
  if (digits.empty()) return {};
  decimals -= shift;
  for (; decimals < 0; ++decimals) digits += '0';
  const auto cut = static_cast<std::ptrdiff_t>(digits.size()) - decimals;
  std::string whole = cut > 0 ? digits.substr(0, static_cast<std::size_t>(cut)) : "";
  std::string fraction = cut > 0 ? digits.substr(static_cast<std::size_t>(cut))
                                 : std::string(static_cast<std::size_t>(-cut), '0') + digits;
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  if (whole.empty()) whole = "0";
  const bool zero = whole == "0" && fraction.empty();
  return (negative && !zero ? "-" : "") + whole + (fraction.empty() ? "" : "." + fraction);
}

std::string DefrostSeconds(const CycleSnapshot& shot) {
  const Reading& time = shot[kDefrostColumn];
  const int toSeconds = shot[kDefrostColumn + 1].text == "min" ? 60 : 3600;
  if (time.text.empty()) return {};
  bool whole = false;
  const std::int64_t n = ParseNumber(Scaled(time.text, 2), &whole);
  return whole ? Scaled(std::to_string(n * toSeconds), -2) : std::string();
}

namespace {

// A series of the snapshot: its family, its own labels, the column it
// comes from and the power of ten that makes it a base unit.
struct Series {
  const char* family;
  const char* labels;
  std::size_t column;
  int shift;
};

constexpr Series kSeries[] = {
    {"zrv_temperature_celsius", "", kTempColumn, 0},
    {"zrv_temperature_setpoint_celsius", "", kTempColumn + 1, 0},
    {"zrv_temperature_average_celsius", "", kTempColumn + 2, 0},
    {"zrv_relative_humidity_ratio", "", kRhColumn, -2},
    {"zrv_relative_humidity_setpoint_ratio", "", kRhColumn + 1, -2},
    {"zrv_relative_humidity_average_ratio", "", kRhColumn + 2, -2},
    {"zrv_co2_ratio", "", kCo2Column, -2},
    {"zrv_co2_setpoint_ratio", "", kCo2Column + 1, -2},
    {"zrv_evaporator_temperature_celsius", "", kEvapColumn, 0},
    {"zrv_defrost_end_temperature_celsius", "", kDefrostColumn + 2, 0},
    {"zrv_indicator_on", "indicator=\"vent\"", kIndicatorColumn, 0},
    {"zrv_indicator_on", "indicator=\"temp_ctl\"", kIndicatorColumn + 1, 0},
    {"zrv_indicator_on", "indicator=\"floor_htr\"", kIndicatorColumn + 2, 0},
    {"zrv_indicator_on", "indicator=\"temp_mode\"", kIndicatorColumn + 3, 0},
    {"zrv_running_seconds_total", "component=\"total\"", kCounterColumn, 0},
    {"zrv_running_seconds_total", "component=\"heater\"", kCounterColumn + 1, 0},
    {"zrv_running_seconds_total", "component=\"cooler2\"", kCounterColumn + 2, 0},
    {"zrv_running_seconds_total", "component=\"cooler\"", kCounterColumn + 3, 0},
    {"zrv_running_seconds_total", "component=\"defrost\"", kCounterColumn + 4, 0},
    {"zrv_running_seconds_total", "component=\"humid\"", kCounterColumn + 5, 0},
    {"zrv_timer_minimum", "timer=\"T106\"", kTimerColumn, 0},
    {"zrv_timer_minimum", "timer=\"T107\"", kTimerColumn + 1, 0},
};

std::string Key(const char* family, const std::string& labels) {
  return std::string(family) + "{" + labels + "}";
}

void Keep(const std::string& key, const Reading& r, const std::string& value) {
  if (r.outcome == ReadOutcome::kFailed) {
    g_metrics.kept.erase(key);
  } else if (r.outcome == ReadOutcome::kRead && !value.empty()) {
    g_metrics.kept[key] = value;
  }
}

void KeepSnapshot(const CycleSnapshot& shot) {
  // zrv_info keeps one series: a lost read's fall-back 0 does not make it
  // another (start-up's number stands until a cycle reads it).
  if (shot[kSystemColumn].outcome == ReadOutcome::kRead) {
    g_metrics.system = shot[kSystemColumn].text;
  }
  for (const Series& s : kSeries) {
    const Reading& r = shot[s.column];
    Keep(Key(s.family, s.labels), r, Scaled(r.text, s.shift));
  }
  Keep(Key("zrv_defrost_remaining_seconds", ""), shot[kDefrostColumn],
       DefrostSeconds(shot));
}

std::string Render(bool anyReply, const LinkTally& sinceStart,
                   std::int64_t cycles, double nowSeconds) {
  const std::string unit = "unit=\"" + Escaped(g_metrics.unit) + "\"";
  std::map<std::string, std::string> values = g_metrics.kept;
  values[Key("zrv_up", "")] = anyReply && !g_metrics.linkDown ? "1" : "0";
  values[Key("zrv_info", "system=\"" + g_metrics.system +
                             "\",variant=\"" + std::to_string(ControllerVariant) +
                             "\",revision=\"" + std::to_string(ControllerRevision) +
                             "\",port=\"" + Escaped(g_metrics.device) +
                             "\",version=\"" + Escaped(ZRV_VERSION) + "\"")] = "1";
  values[Key("zrv_requests_total", "")] = std::to_string(sinceStart.Requests);
  values[Key("zrv_unanswered_total", "")] = std::to_string(sinceStart.Unanswered);
  values[Key("zrv_unusable_total", "")] = std::to_string(sinceStart.Unusable);
  values[Key("zrv_cycles_total", "")] = std::to_string(cycles);
  for (int key = 0; SetPointControlOn() && key < kSetPointKeys; ++key) {
    for (int outcome = 0; outcome < kSetPointOutcomes; ++outcome) {
      values[Key("zrv_setpoint_writes_total",
                 std::string("key=\"") + kSetPointKinds[key].key + "\",outcome=\"" +
                     kSetPointOutcomeNames[outcome] + "\"")] =
          std::to_string(SetPointCount(static_cast<SetPointKey>(key),
                                       static_cast<SetPointOutcome>(outcome)));
    }
  }
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%.3f", nowSeconds);
  values[Key("zrv_last_cycle_timestamp_seconds", "")] = stamp;

  std::string text;
  for (const Family& f : kFamilies) {
    const std::string prefix = std::string(f.name) + "{";
    bool any = false;
    for (auto it = values.lower_bound(prefix);
         it != values.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
      if (!any) {
        text += std::string("# HELP ") + f.name + " " + f.help + "\n";
        text += std::string("# TYPE ") + f.name + " " + f.type + "\n";
        any = true;
      }
      const std::string own = it->first.substr(prefix.size(), it->first.size() - prefix.size() - 1);
      text += std::string(f.name) + "{" + unit + (own.empty() ? "" : "," + own) + "} " +
              it->second + "\n";
    }
  }
  return text;
}

// A failed write pauses the metrics: the next cycle tries again.
void Written(bool ok, const std::string& why) {
  std::string news;
  if (!ok && g_metrics.paused.empty()) {
    news = "zrvmon: the metrics " + g_metrics.path + " paused: " + why;
  } else if (ok && !g_metrics.paused.empty()) {
    news = "zrvmon: the metrics " + g_metrics.path + " resumed";
  }
  g_metrics.paused = ok ? "" : why;
  RecordNews(news);
}

// The whole file at once: a scraper never sees half of it. The temporary
// file is made new (never through a link left in its place) beside it.
bool WriteAtomically(const std::string& text, std::string& why) {
  const std::string temporary = g_metrics.path + ".tmp";
  std::error_code ec;
  std::filesystem::remove(temporary, ec);  // a link itself, not its target
  std::FILE* file = std::fopen(temporary.c_str(), "wx");
  if (file == nullptr) {
    why = std::strerror(errno);
    return false;
  }
  const bool ok = std::fputs(text.c_str(), file) >= 0 && std::fflush(file) == 0;
  const int error = errno;
  if (std::fclose(file) != 0 || !ok) {
    why = std::strerror(ok ? errno : error);
    std::filesystem::remove(temporary, ec);
    return false;
  }
  std::filesystem::rename(temporary, g_metrics.path, ec);
  if (ec) {
    why = ec.message();
    std::filesystem::remove(temporary, ec);
    return false;
  }
  return true;
}

double UnixSeconds() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

bool MetricsOpen(const std::string& path, const std::string& unit,
                 std::string& why) {
  std::error_code ec;
  const std::filesystem::path folder =
      std::filesystem::absolute(path, ec).parent_path();
  if (ec || !std::filesystem::is_directory(folder, ec)) {
    why = "its folder " + folder.string() + " is not there";
    return false;
  }
  g_metrics = Metrics{};
  g_metrics.open = true;
  g_metrics.path = path;
  g_metrics.unit = unit;
  return true;
}

std::string MetricsText(const CycleSnapshot& shot, bool anyReply,
                        const LinkTally& sinceStart, std::int64_t cycles,
                        double nowSeconds) {
  if (g_metrics.unit.empty()) g_metrics.unit = "COM" + std::to_string(ActivePort);
  KeepSnapshot(shot);
  return Render(anyReply, sinceStart, cycles, nowSeconds);
}

void MetricsCycle(const CycleSnapshot& shot, bool anyReply,
                  const LinkTally& sinceStart, std::int64_t cycles) {
  if (!g_metrics.open) return;
  g_metrics.lastText = MetricsText(shot, anyReply, sinceStart, cycles, UnixSeconds());
  g_metrics.linkDown = false;  // this cycle's own replies say it from now
  const std::uint64_t now = plat::GetTickCount64();
  if (g_metrics.written && now - g_metrics.lastWriteMs < kWriteEveryMs) return;
  std::string why;
  const bool ok = WriteAtomically(g_metrics.lastText, why);
  Written(ok, why);
  if (!ok) return;
  g_metrics.written = true;
  g_metrics.lastWriteMs = now;
}

void MetricsLinkState(bool readingsCome) {
  g_metrics.linkDown = !readingsCome;
  if (!g_metrics.open || g_metrics.lastText.empty() || readingsCome) return;
  // The last text with zrv_up 0: the rest stays as the last cycle left it.
  const std::string up = "zrv_up{unit=\"" + Escaped(g_metrics.unit) + "\"} ";
  const std::size_t at = g_metrics.lastText.find(up);
  if (at == std::string::npos) return;
  g_metrics.lastText.replace(at + up.size(), 1, "0");
  MetricsWriteNow();
}

void MetricsWriteNow() {
  if (!g_metrics.open || g_metrics.lastText.empty()) return;
  std::string why;
  const bool ok = WriteAtomically(g_metrics.lastText, why);
  Written(ok, why);
  if (ok) g_metrics.written = true;
}

void MetricsStarted() {
  if (SystemNumber != 0) g_metrics.system = std::to_string(SystemNumber);
  // Looked up once: a lookup may list every serial device there is.
  char device[Str255::kMax + 1] = {};
  const std::string com = "COM" + std::to_string(ActivePort);
  g_metrics.device = plat::QueryDosDeviceA(com.c_str(), device, Str255::kMax) != 0
                         ? std::string(device)
                         : com;
}

void MetricsFinish() {
  if (!g_metrics.open) return;
  std::error_code ec;
  if (g_metrics.written) std::filesystem::remove(g_metrics.path, ec);
  g_metrics.open = false;
}

std::string MetricsPausedLine() {
  return g_metrics.paused.empty()
             ? ""
             : "zrvmon: the metrics " + g_metrics.path + " paused: " + g_metrics.paused;
}

void ResetMetricsForTests() { g_metrics = Metrics{}; }
