// SPDX-License-Identifier: MIT
// Windows has no MQTT client library of ours: --mqtt is a usage error, and
// the rest has nothing to do.
#include "record/mqtt.h"

bool MqttOpen(const plat::RunOptions&, std::string& why) {
  why = "--mqtt is not supported on Windows";
  return false;
}
void MqttStarted() {}
void MqttCycle(const CycleSnapshot&, bool, const LinkTally&, const std::string&) {}
void MqttLinkState(bool) {}
void MqttFinish() {}
std::string MqttSummaryLine() { return {}; }
std::string MqttFailureLine() { return {}; }
std::string MqttStateJson(const CycleSnapshot&, const LinkTally&, const std::string&) {
  return {};
}
void MqttSetPointResult(const SetPointCommand&, bool, const std::string&) {}
void ResetMqttForTests() {}
