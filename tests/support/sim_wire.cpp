// SPDX-License-Identifier: MIT
#include "sim_wire.h"

SimWire::SimWire(const zrvsim::Options& options) : model_(options) {}

void SimWire::Bind(const std::string& deviceName) { fake::BindSerial(deviceName, this); }

void SimWire::Fault(const std::string& match, zrvsim::FaultKind kind, const std::string& arg,
                    int times) {
  zrvsim::FaultRule rule;
  rule.match = match;
  rule.kind = kind;
  rule.arg = arg;
  rule.times = times;
  model_.AddFault(rule);
}

void SimWire::ScriptReply(const std::string& request, const std::string& reply, int times) {
  Fault(request, zrvsim::FaultKind::kReply, reply, times);
}

std::vector<std::string> SimWire::RequestTexts() const {
  std::vector<std::string> texts;
  texts.reserve(requests_.size());
  for (const auto& r : requests_) texts.push_back(r.text);
  return texts;
}

int SimWire::Count(std::string_view text) const {
  int n = 0;
  for (const auto& r : requests_) n += r.text == text ? 1 : 0;
  return n;
}

void SimWire::OnByte(std::uint8_t byte, fake::Micros at, std::vector<Emission>& out) {
  auto line = collector_.Push(byte);
  if (!line) return;
  model_.AdvanceTo(at);
  requests_.push_back({*line, at});
  zrvsim::Response response = model_.Handle(*line);
  responses_.push_back(response);
  if (response.sent && !response.bytes.empty()) {
    out.push_back({std::move(response.bytes), at + response.delay});
  }
}
