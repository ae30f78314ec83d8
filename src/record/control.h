// SPDX-License-Identifier: MIT
// Set points written from MQTT: which there are, the limits a command must
// keep, the payload's reading, and what became of the commands (for the
// log's column and the metrics). Off unless --mqtt-control asks for it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum SetPointKey : std::uint8_t { kTempSetPoint, kRhSetPoint, kCo2SetPoint, kSetPointKeys };

struct SetPointKind {
  const char* key;     // on MQTT, in the state and the log
  const char* name;    // in lines for the user
  const char* option;  // in --setpoint-limits
  const char* unit;    // what a command is given in
  std::uint16_t address;
  // A command's value times 10^shift is the register's value.
  int shift;
};
extern const SetPointKind kSetPointKinds[kSetPointKeys];

// In the register's own units.
struct SetPointLimit {
  std::int32_t low;
  std::int32_t high;
};
extern SetPointLimit SetPointLimits[kSetPointKeys];

// What became of a command.
enum SetPointOutcome : std::uint8_t { kWriteOk, kWriteFailed, kWriteRefused, kSetPointOutcomes };

// Control is on, with --setpoint-limits' text (null: the defaults). False,
// with the reason, for limits that cannot be used.
bool SetPointControlOpen(const char* limits, std::string& why);
bool SetPointControlOn();

// A command's payload for set point `key` in the register's units; false,
// with the reason, when it is no plain decimal, lies outside the limits or
// is finer than the register holds. `value` is set whenever the payload is
// a number the register holds, within the limits or not.
bool ParseSetPoint(SetPointKey key, std::string_view payload, std::int32_t& value,
                   std::string& why);
// A register value in the command's unit, exactly ("21.5", "1500").
std::string SetPointText(SetPointKey key, std::int32_t value);

// A register value as the screen shows it, with its unit ("21.50 C").
std::string SetPointShown(SetPointKey key, std::int32_t value);
// A line for the user about a command: "zrvmon: COM<port>: <name> <what>
// (MQTT)", then ": <reason>" when there is one.
std::string SetPointNews(int port, SetPointKey key, const std::string& what,
                         const std::string& reason = {});

// Counted from any thread.
void CountSetPoint(SetPointKey key, SetPointOutcome outcome);
std::int64_t SetPointCount(SetPointKey key, SetPointOutcome outcome);
extern const char* const kSetPointOutcomeNames[kSetPointOutcomes];

// A command checked as it came, waiting to be written.
struct SetPointCommand {
  SetPointKey key = kTempSetPoint;
  std::int32_t value = 0;        // in the register's units
  std::uint64_t sinceMs = 0;     // when it came (GetTickCount64)
};
// From any thread: the latest command for its set point. True, with it in
// `replaced`, when it takes the place of one not written yet.
bool OfferSetPoint(const SetPointCommand& command, SetPointCommand& replaced);
// Between two requests of polling: the command that has waited longest is
// written and read back (or refused when the line was held too long),
// answered, counted and noted. None is ever tried again.
void WriteCommandedSetPoint();

// The run ends: every command still waiting is answered, unwritten.
void WithdrawSetPointCommands();

// The writes made since the log's last row, which takes them.
std::string TakeSetPointWrites();

// Tests only: off, the defaults, nothing counted.
void ResetSetPointControlForTests();
