// SPDX-License-Identifier: MIT
// Shared set-up for the link tests: a fresh fake machine with the console
// bound, and a small scripted controller on the far end of a fake wire.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "console/keyboard.h"
#include "console/screen.h"
#include "link/host_link.h"
#include "link/serial_port.h"
#include "platform/fake/fake.h"
#include "platform/platform.h"
#include "support/scripted_wire.h"

// Answers each command line after `latency` with the pieces scripted for
// it, `gap` apart; lines without a script get `fallback`; an empty answer
// is silence.
class ScriptedController : public scripted_wire::CommandLineEndpoint {
 public:
  std::map<std::string, std::vector<std::string>> replies;
  std::string fallback;
  fake::Micros latency = 2000;
  fake::Micros gap = 0;
  // A controller stalled until then answers the lines it held, and those
  // that follow, in turn, `latency` apart.
  fake::Micros heldUntil = 0;

 protected:
  void OnLine(const std::string& line, fake::Micros at,
              std::vector<Emission>& out) override {
    std::vector<std::string> pieces;
    if (auto it = replies.find(line); it != replies.end()) {
      pieces = it->second;
    } else if (!fallback.empty()) {
      pieces = {fallback};
    }
    fake::Micros start = at + latency;
    if (heldUntil > 0) {
      start = std::max({start, heldUntil, lastStart_ + latency});
      lastStart_ = start;
    }
    for (const std::string& piece : pieces) {
      if (!piece.empty()) out.push_back({piece, start});
      start += gap;
    }
  }

 private:
  fake::Micros lastStart_ = 0;
};

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    ResetConsoleStateForTests();
    ResetKeyboardStateForTests();
    ResetPortTableForTests();
    ResetHostLinkForTests();
    ConsoleSetup();
  }

  void TearDown() override { ResetPortTableForTests(); }

  // Raw bytes out through an open slot, as a request would go.
  static void SendRaw(PortNumber port, const std::string& text) {
    std::uint32_t written = 0;
    plat::WriteFile(PortHandleTable[port], text.data(),
                    static_cast<std::uint32_t>(text.size()), &written);
  }

  // Moves virtual time on until the first received byte waits.
  static void WaitForInput(PortNumber port) {
    for (int i = 0; i < 2000 && !InputPending(port); ++i) {
      fake::AdvanceTo(fake::Now() + 100);
    }
    ASSERT_TRUE(InputPending(port));
  }

  // Device names opened so far, without the console's own.
  static std::vector<std::string> SerialOpens() {
    std::vector<std::string> names;
    for (const std::string& n : fake::OpenedNames()) {
      if (n != "CONIN$" && n != "CONOUT$") names.push_back(n);
    }
    return names;
  }

  // Microseconds per character at 9600 baud, 8 data bits, parity, 1 stop.
  static constexpr double kCharMicros9600 = 11.0 * 1e6 / 9600.0;
};
