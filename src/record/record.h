// SPDX-License-Identifier: MIT
// The reading log (one CSV row per polling cycle, from what the screen
// shows) and the run's link-health summary.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/host_link.h"
#include "monitor/state.h"

// The first line of a log begun by release 1.1: its column names stay as
// they are, and later columns only ever go after them.
inline constexpr std::string_view kRecordHeader11 =
    "time,system,temp_c,temp_set_c,temp_avg_c,rh_pct,rh_set_pct,rh_avg_pct,"
    "co2_pct,co2_set_pct,evap_c,defrost_in,defrost_unit,defrost_target_c,"
    "vent,temp_ctl,floor_htr,temp_mode,total_s,heater_s,cooler2_s,cooler_s,"
    "defrost_s,humid_s,t106_min,t107_min,requests,unanswered,unusable";
// The log's first line: the cycle the row's readings come from, the cycle
// its counters, timer minima and system number come from, and the rows
// lost just before it.
inline constexpr std::string_view kRecordHeader =
    "time,system,temp_c,temp_set_c,temp_avg_c,rh_pct,rh_set_pct,rh_avg_pct,"
    "co2_pct,co2_set_pct,evap_c,defrost_in,defrost_unit,defrost_target_c,"
    "vent,temp_ctl,floor_htr,temp_mode,total_s,heater_s,cooler2_s,cooler_s,"
    "defrost_s,humid_s,t106_min,t107_min,requests,unanswered,unusable,"
    "cycle,counters_cycle,rows_lost";

// With --mqtt-control, after them: the set points written since the row
// before ("temperature_setpoint=21.5", " failed" when it was not taken, ';'
// between two).
inline constexpr std::string_view kRecordWritesColumn = ",setpoint_writes";

// What the cycle just ended showed, value by value in the log's column
// order from `system` to `t107_min`: the text the screen showed when the
// value was read with a usable reply (empty otherwise), and its read's
// outcome (not made, read, or failed).
struct Reading {
  std::string text;
  ReadOutcome outcome = ReadOutcome::kSkipped;
};
enum SnapshotColumn : std::size_t {
  kSystemColumn = 0,
  kTempColumn = 1,        // then its set point and average
  kRhColumn = 4,          // the same
  kCo2Column = 7,         // then its set point
  kEvapColumn = 9,
  kDefrostColumn = 10,    // its time, the time's unit (h or min), its target
  kIndicatorColumn = 13,  // vent, temp_ctl, floor_htr, temp_mode
  kCounterColumn = 17,    // total, then the five components
  kTimerColumn = 23,      // T106, T107
  kSnapshotColumns = 25
};
using CycleSnapshot = std::array<Reading, kSnapshotColumns>;
// Read from the screen as the cycle left it; the screen is read once.
CycleSnapshot TakeSnapshot();

// Where the log and the metrics say at once that they paused, resumed, were
// reopened or stopped (an unattended run's standard error); null: nowhere,
// the end lines say it. The call may come from the log's writer thread.
void SetRecordNews(void (*tell)(const std::string& line));
// Says a line (or lines) there.
void RecordNews(const std::string& line);

// Opens the log at `path` for appending, with the header when the file is
// new or empty. False, with the reason in `why`, when it cannot be used.
// With `intervalSeconds` above 0, at most one row goes in per interval.
bool RecordOpen(const std::string& path, std::string& why,
                std::int64_t intervalSeconds = 0);
// The log is opened again at its path (a rotation asked for it), and the
// metrics file written at once.
void RecordReopen();

// Start-up is over: what the link does from here on belongs to the cycles.
void RecordStarted();
// A polling cycle has ended: its row goes to the log, and the summary
// shown at the end is brought up to date.
void RecordCycle();
// The run ends: the log is closed and the end lines are left for the user.
void RecordFinish();

// Tests only: back to no log and no run.
void ResetRecordForTests();
