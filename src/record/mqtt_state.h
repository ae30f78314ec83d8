// SPDX-License-Identifier: MIT
// What the unit's state on the broker holds: its keys, the entities Home
// Assistant makes of them, and the latest value of each, kept on the
// polling thread from the cycles' snapshots.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "link/host_link.h"
#include "record/record.h"

namespace mqtt {

// Rows 6 and 7 are only on units that show them.
enum class Row { kAny, kEvaporator, kDefrost };
enum class Form { kNumber, kSwitch, kMode, kDefrostTime, kTally };

// A key of the state, and the entity Home Assistant makes of it.
struct Entity {
  const char* key;
  const char* name;
  std::size_t column;  // of the snapshot; for kTally which count
  int shift;           // the power of ten that makes it the key's unit
  Form form;
  const char* deviceClass;
  const char* unit;
  const char* stateClass;
  bool diagnostic;
  Row row;
};

inline constexpr Entity kEntities[] = {
    {"temperature", "Temperature", kTempColumn, 0, Form::kNumber, "temperature", "°C", "measurement", false, Row::kAny},
    {"temperature_setpoint", "Temperature set point", kTempColumn + 1, 0, Form::kNumber, "temperature", "°C", "measurement", false, Row::kAny},
    {"temperature_average", "Temperature average", kTempColumn + 2, 0, Form::kNumber, "temperature", "°C", "measurement", false, Row::kAny},
    {"humidity", "Humidity", kRhColumn, 0, Form::kNumber, "humidity", "%", "measurement", false, Row::kAny},
    {"humidity_setpoint", "Humidity set point", kRhColumn + 1, 0, Form::kNumber, "humidity", "%", "measurement", false, Row::kAny},
    {"humidity_average", "Humidity average", kRhColumn + 2, 0, Form::kNumber, "humidity", "%", "measurement", false, Row::kAny},
    {"co2", "CO2", kCo2Column, 4, Form::kNumber, "carbon_dioxide", "ppm", "measurement", false, Row::kAny},
    {"co2_setpoint", "CO2 set point", kCo2Column + 1, 4, Form::kNumber, "carbon_dioxide", "ppm", "measurement", false, Row::kAny},
    {"evaporator_temperature", "Evaporator temperature", kEvapColumn, 0, Form::kNumber, "temperature", "°C", "measurement", false, Row::kEvaporator},
    {"defrost_remaining", "Defrost in", kDefrostColumn, 0, Form::kDefrostTime, "duration", "s", "measurement", false, Row::kDefrost},
    {"defrost_end_temperature", "Defrost end temperature", kDefrostColumn + 2, 0, Form::kNumber, "temperature", "°C", "measurement", false, Row::kDefrost},
    {"ventilation", "Ventilation", kIndicatorColumn, 0, Form::kSwitch, nullptr, nullptr, nullptr, false, Row::kAny},
    {"temperature_control", "Temperature control", kIndicatorColumn + 1, 0, Form::kSwitch, nullptr, nullptr, nullptr, false, Row::kAny},
    {"floor_heater", "Floor heater", kIndicatorColumn + 2, 0, Form::kSwitch, nullptr, nullptr, nullptr, false, Row::kAny},
    {"temperature_mode", "Temperature mode", kIndicatorColumn + 3, 0, Form::kMode, "enum", nullptr, nullptr, false, Row::kAny},
    {"running_total", "Running total", kCounterColumn, 0, Form::kNumber, "duration", "s", "total_increasing", false, Row::kAny},
    {"running_heater", "Running heater", kCounterColumn + 1, 0, Form::kNumber, "duration", "s", "total_increasing", false, Row::kAny},
    {"running_cooler2", "Running cooler 2", kCounterColumn + 2, 0, Form::kNumber, "duration", "s", "total_increasing", false, Row::kAny},
    {"running_cooler", "Running cooler", kCounterColumn + 3, 0, Form::kNumber, "duration", "s", "total_increasing", false, Row::kAny},
    {"running_defrost", "Running defrost", kCounterColumn + 4, 0, Form::kNumber, "duration", "s", "total_increasing", false, Row::kAny},
    {"running_humidifier", "Running humidifier", kCounterColumn + 5, 0, Form::kNumber, "duration", "s", "total_increasing", false, Row::kAny},
    {"timer_minimum_t106", "Timer T106 minimum", kTimerColumn, 0, Form::kNumber, nullptr, nullptr, "measurement", false, Row::kAny},
    {"timer_minimum_t107", "Timer T107 minimum", kTimerColumn + 1, 0, Form::kNumber, nullptr, nullptr, "measurement", false, Row::kAny},
    {"system", "System number", kSystemColumn, 0, Form::kNumber, nullptr, nullptr, nullptr, true, Row::kAny},
    {"requests", "Requests", 0, 0, Form::kTally, nullptr, nullptr, "total_increasing", true, Row::kAny},
    {"unanswered", "Unanswered requests", 1, 0, Form::kTally, nullptr, nullptr, "total_increasing", true, Row::kAny},
    {"unusable", "Unusable replies", 2, 0, Form::kTally, nullptr, nullptr, "total_increasing", true, Row::kAny},
};
inline constexpr std::size_t kEntityCount = std::size(kEntities);

struct Kept {
  // The latest value of every key, empty for null: a failed read makes it
  // null, a read not made leaves it.
  std::array<std::string, kEntityCount> values;
  bool linkDown = false;  // readings stopped since the last cycle's end
  bool written = false;   // a set point was written since the last state
  int link = -1;          // what was last handed over: -1 nothing yet
};
// The polling thread's.
extern Kept Latest;

// Whether this unit shows the row.
bool Shows(Row row);
// `text` as a JSON string.
std::string JsonText(std::string_view text);
// The snapshot's values into Latest.
void Keep(const CycleSnapshot& shot);
// The state's JSON of Latest and the counts since the start.
std::string Render(const LinkTally& sinceStart, const std::string& time);

}  // namespace mqtt
