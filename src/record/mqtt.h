// SPDX-License-Identifier: MIT
// The unit on an MQTT broker: its status, its controller's link and its
// readings as retained topics, and the configs by which Home Assistant finds
// it. A client thread of its own talks to the broker; the polling thread
// only leaves the latest state in a one-slot mailbox and never waits.
#pragma once

#include <cstdint>
#include <string>

#include "link/host_link.h"
#include "platform/platform.h"
#include "record/control.h"
#include "record/record.h"

// Starts the client for the broker the options name (nothing is sent before
// it connects, which it keeps trying in the background). False, with the
// reason, when the options cannot be used: a usage error.
bool MqttOpen(const plat::RunOptions& options, std::string& why);
// Start-up is over: the controller is known, so the unit can be announced.
void MqttStarted();
// A cycle has ended at `time` (RFC 3339): its readings go into the state,
// `live` when it got usable replies and readings still come.
void MqttCycle(const CycleSnapshot& shot, bool live, const LinkTally& sinceStart,
               const std::string& time);
// Between cycles' ends: readings stopped, and `link` says so at once.
void MqttLinkState(bool readingsCome);
// The run ends: `offline` goes out, waited for at most two seconds.
void MqttFinish();
// For the summary: what was published and how often the broker was lost;
// empty without --mqtt.
std::string MqttSummaryLine();
// Why the broker is not reached now, as a line for the user, or empty.
std::string MqttFailureLine();

// --mqtt-control: a command's answer on P/UNIT/set/result, written (and
// read back) or why not. A write makes the next state go out at once.
void MqttSetPointResult(const SetPointCommand& command, bool written,
                        const std::string& reason);

// The state's JSON for the values kept so far and this cycle's (tests).
std::string MqttStateJson(const CycleSnapshot& shot, const LinkTally& sinceStart,
                          const std::string& time);
// Tests only: no client, nothing kept.
void ResetMqttForTests();
