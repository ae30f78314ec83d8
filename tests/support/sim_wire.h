// SPDX-License-Identifier: MIT
// The controller model on the fake platform's serial wire: host bytes are
// gathered into request lines, the model is advanced to each request's
// arrival in virtual time, and its reply goes back after its latency.
//
//   zrvsim::Options options;
//   options.unit.variant = 1;
//   SimWire wire(options);
//   wire.Bind("COM3");
//   ... run the code under test ...
//   EXPECT_EQ(wire.Count("RD 7000"), 1);
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/fake/fake.h"
#include "sim/model/model.h"

class SimWire : public fake::SerialEndpoint {
 public:
  struct Request {
    std::string text;  // as the controller took it, without its CR
    fake::Micros at;   // virtual time of the CR's arrival
  };

  explicit SimWire(const zrvsim::Options& options = {});
  SimWire(const SimWire&) = delete;
  SimWire& operator=(const SimWire&) = delete;

  // Makes `deviceName` ("COM3", "\\.\COM12") openable on the fake, with
  // this wire behind it. Call after fake::Reset.
  void Bind(const std::string& deviceName);

  zrvsim::Controller& Model() { return model_; }
  zrvsim::Unit& Unit() { return model_.Unit(); }
  // Shorthands for scripting the line from a test.
  void AddFault(const zrvsim::FaultRule& rule) { model_.AddFault(rule); }
  void Fault(const std::string& match, zrvsim::FaultKind kind, const std::string& arg = {},
             int times = -1);
  void ScriptReply(const std::string& request, const std::string& reply, int times = -1);
  void SetSilent(bool silent) { model_.SetSilent(silent); }

  const std::vector<Request>& Requests() const { return requests_; }
  std::vector<std::string> RequestTexts() const;
  int Count(std::string_view text) const;  // requests with exactly this text
  void ClearRequests() {
    requests_.clear();
    responses_.clear();
  }
  // Responses handed to the wire: what came back for each request, in order.
  const std::vector<zrvsim::Response>& Responses() const { return responses_; }

  void OnByte(std::uint8_t byte, fake::Micros at, std::vector<Emission>& out) override;

 private:
  zrvsim::Controller model_;
  zrvsim::LineCollector collector_;
  std::vector<Request> requests_;
  std::vector<zrvsim::Response> responses_;
};
