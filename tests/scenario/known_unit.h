// SPDX-License-Identifier: MIT
// A controller in a known state, with every register the monitor reads
// pinned to a known reply, and the fixture that starts the program on it.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/fake/fake.h"
#include "scenario.h"

namespace known_unit {

using Replies = std::map<std::string, std::string>;

// A variant 9 unit with an evaporator sensor, the offset scale and every
// register the monitor reads pinned to a known reply.
inline Replies KnownState() {
  return {{"RD 7000", "0"},
          {"RD 3000", "1"},
          {"RD 3003", "1"},
          {"RD DM108", "7123"},
          {"RD DM89", "360"},
          {"RD DM109", "12"},
          {"RD DM890", "225"},
          {"RD DM893", "500"},
          {"RD DM894", "30"},
          {"RD DM891", "100"},
          {"RD DM992", "23200"},
          {"RD DM993", "16000"},
          {"RD DM984", "40"},
          {"RD DM991", "1400"},
          {"RD DM88", "480"},
          {"RD DM87", "3000"},
          {"RD 512", "1"},
          {"RD 513", "0"},
          {"RD 514", "1"},
          {"RD 515", "1"},
          {"RD T106", "OK00012 00600"},
          {"RD T107", "OK00345 00900"},
          {"RD DM117", "7200"},
          {"RD DM118", "0"},
          {"RD DM119", "0"},
          {"RD DM120", "0"},
          {"RD DM121", "0"},
          {"RD DM122", "0"},
          {"RD DM125", "3600"},
          {"RD DM126", "0"},
          {"RD DM127", "0"},
          {"RD DM128", "0"},
          {"RD DM131", "1"},
          {"RD DM132", "0"}};
}

class Cycle : public ::testing::Test {
 protected:
  // Scripts the replies; rules added afterwards win over these.
  void Script(const Replies& changes = {}) {
    Replies replies = KnownState();
    for (const auto& [request, reply] : changes) replies[request] = reply;
    for (const auto& [request, reply] : replies) {
      run.Wire().ScriptReply(request, reply);
    }
  }

  void Begin() {
    run.TypePort();
    ASSERT_TRUE(run.Start());
  }

  void Start(const Replies& changes = {}) {
    Script(changes);
    Begin();
  }

  // The start of a row, as long as `expected`.
  static std::string Head(int row, const std::string& expected) {
    return fake::Row(row).substr(0, expected.size());
  }

  static void ExpectHead(int row, const std::string& expected) {
    EXPECT_EQ(Head(row, expected), expected) << "row " << row;
  }

  static void ExpectKnownScreen();

  ProgramRun run;
};

// The screen of the first cycle on the known state.

}  // namespace known_unit
