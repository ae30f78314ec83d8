// SPDX-License-Identifier: MIT
#include "record/mqtt_state.h"

#include <cstdio>

#include "monitor/state.h"
#include "record/metrics.h"

namespace mqtt {

Kept Latest;

namespace {

// The value as JSON, empty when the screen showed none.
std::string ValueOf(const Entity& e, const CycleSnapshot& shot) {
  const std::string& text = shot[e.column].text;
  switch (e.form) {
    case Form::kSwitch:
      return text.empty() ? "" : text == "1" ? "\"ON\"" : "\"OFF\"";
    case Form::kMode:
      return text.empty() ? "" : text == "1" ? "\"C\"" : "\"H\"";
    case Form::kDefrostTime:
      return DefrostSeconds(shot);
    default:
      return Scaled(text, e.shift);
  }
}

}  // namespace

bool Shows(Row row) {
  const bool evaporatorUnit = ControllerVariant == 1 || ControllerVariant == 9;
  if (row == Row::kEvaporator) return evaporatorUnit && EvaporatorSensor;
  return row == Row::kAny || evaporatorUnit;
}

std::string JsonText(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void Keep(const CycleSnapshot& shot) {
  for (std::size_t i = 0; i < kEntityCount; ++i) {
    const Entity& e = kEntities[i];
    if (e.form == Form::kTally) continue;
    const ReadOutcome outcome = shot[e.column].outcome;
    const std::string value = ValueOf(e, shot);
    if (outcome == ReadOutcome::kFailed) {
      Latest.values[i].clear();
    } else if (outcome == ReadOutcome::kRead && !value.empty()) {
      Latest.values[i] = value;
    }
  }
}

std::string Render(const LinkTally& sinceStart, const std::string& time) {
  std::string json = "{\"time\":" + JsonText(time);
  for (std::size_t i = 0; i < kEntityCount; ++i) {
    const Entity& e = kEntities[i];
    if (!Shows(e.row)) continue;
    std::string value = Latest.values[i];
    if (e.form == Form::kTally) {
      const std::int64_t counts[] = {sinceStart.Requests, sinceStart.Unanswered,
                                     sinceStart.Unusable};
      value = std::to_string(counts[e.column]);
    }
    json += ",\"" + std::string(e.key) + "\":" + (value.empty() ? "null" : value);
  }
  return json + "}";
}

}  // namespace mqtt
