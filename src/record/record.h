// The reading log (one CSV row per polling cycle, from what the screen
// shows) and the run's link-health summary.
#pragma once

#include <string>
#include <string_view>

// The log's first line; its column names stay as they are.
inline constexpr std::string_view kRecordHeader =
    "time,system,temp_c,temp_set_c,temp_avg_c,rh_pct,rh_set_pct,rh_avg_pct,"
    "co2_pct,co2_set_pct,evap_c,defrost_in,defrost_unit,defrost_target_c,"
    "vent,temp_ctl,floor_htr,temp_mode,total_s,heater_s,cooler2_s,cooler_s,"
    "defrost_s,humid_s,t106_min,t107_min,requests,unanswered,unusable";

// Opens the log at `path` for appending, with the header when the file is
// new or empty. False, with the reason in `why`, when it cannot be used.
bool RecordOpen(const std::string& path, std::string& why);

// Start-up is over: what the link does from here on belongs to the cycles.
void RecordStarted();
// A polling cycle has ended: its row goes to the log, and the summary
// shown at the end is brought up to date.
void RecordCycle();
// The run ends: the log is closed and the end lines are left for the user.
void RecordFinish();

// Tests only: back to no log and no run.
void ResetRecordForTests();
