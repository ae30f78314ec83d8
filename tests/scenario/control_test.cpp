// SPDX-License-Identifier: MIT
// Set points written from MQTT: the payloads and limits, and the write's
// place between two requests of the polling cycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "monitor/state.h"
#include "platform/platform.h"
#include "record/control.h"
#include "known_unit.h"
#include "scenario.h"

namespace {

using known_unit::Cycle;
using scenario::Cells;
using scenario::Contains;
using scenario::CountOf;
using scenario::kMs;

// Payloads and limits in the units a command is given in, against the
// registers' own.
TEST(SetPoints, PayloadsAndLimits) {
  ResetSetPointControlForTests();
  const std::pair<const char*, std::int32_t> temperature[] = {
      {"21.5", 215}, {"21.50", 215}, {"05", 50}, {"35", 350}, {"21.55", -1}, {"4.9", -1},
      {"99", -1},    {"abc", -1},    {"", -1},   {" 21", -1}, {"+21", -1},   {"21.", -1},
      {".5", -1},    {"1e2", -1},    {"-0", -1}, {"99999999999999999999", -1}};
  for (const auto& [payload, expected] : temperature) {
    std::int32_t value = -1;
    std::string why;
    const bool ok = ParseSetPoint(kTempSetPoint, payload, value, why);
    EXPECT_EQ(ok ? value : -1, expected) << "'" << payload << "': " << why;
  }
  std::int32_t value = 0;
  std::string why;
  EXPECT_FALSE(ParseSetPoint(kCo2SetPoint, "1550", value, why));
  EXPECT_EQ(why, "finer than the register holds (steps of 100 ppm)");
  ASSERT_TRUE(SetPointControlOpen("temperature=-5:40,co2=500:2000", why)) << why;
  EXPECT_TRUE(ParseSetPoint(kTempSetPoint, "-4.5", value, why) && value == -45) << why;
  EXPECT_TRUE(ParseSetPoint(kCo2SetPoint, "500.0", value, why) && value == 5) << why;
  for (const char* bad : {"temperature=40:5", "temp=1:2", "co2=1000", "humidity=20:90.05",
                          "humidity=20:90,"}) {
    EXPECT_FALSE(SetPointControlOpen(bad, why)) << bad;
  }
  EXPECT_EQ(why.rfind("--setpoint-limits takes temperature=MIN:MAX,", 0), 0u) << why;
  ResetSetPointControlForTests();
}

// Set point control on, the program entry's hook between the requests.
class Control : public Cycle {
 protected:
  void SetUp() override {
    ResetSetPointControlForTests();
    std::string why;
    ASSERT_TRUE(SetPointControlOpen("temperature=-5:35", why)) << why;
    Start();
    BetweenRequests = WriteCommandedSetPoint;
  }
  void TearDown() override { ResetSetPointControlForTests(); }
};

// A command goes between two whole requests, as a write and its read-back,
// and the row shows it at once; of two for one set point only the latest
// goes. A read-back that differs claims nothing, and nothing is tried again.
TEST_F(Control, CommandGoesBetweenTwoRequests) {
  SetPointCommand replaced;
  EXPECT_FALSE(OfferSetPoint({kTempSetPoint, 230, plat::GetTickCount64()}, replaced));
  EXPECT_TRUE(OfferSetPoint({kTempSetPoint, 215, plat::GetTickCount64()}, replaced));
  EXPECT_EQ(replaced.value, 230);
  run.Wire().ScriptReply("RD DM890", "215");
  std::vector<std::string> sent = run.Cycle();
  const auto at = std::find(sent.begin(), sent.end(), "WR DM890 215");
  ASSERT_NE(at, sent.end());
  EXPECT_EQ(at - sent.begin(), 2) << "after the first read of the cycle";
  EXPECT_EQ(*(at + 1), "RD DM890");
  EXPECT_FALSE(Contains(sent, "WR DM890 230"));
  EXPECT_EQ(TempSetPoint, 215);
  EXPECT_EQ(Cells(3, 28, 33), " 21.50");

  // A negative value goes as its 16-bit complement.
  OfferSetPoint({kTempSetPoint, -45, plat::GetTickCount64()}, replaced);
  OfferSetPoint({kCo2SetPoint, 20, plat::GetTickCount64()}, replaced);
  run.Wire().ScriptReply("RD DM890", "65491");
  sent = run.Cycle();  // DM894 still reads 30
  EXPECT_EQ(CountOf(sent, "WR DM890 65491") + CountOf(sent, "WR DM894 20"), 2);
  EXPECT_EQ(TempSetPoint, -45);
  EXPECT_EQ(Co2SetPoint, 30);
  EXPECT_EQ(Cells(5, 28, 33), "  0.30");
  sent = run.Cycle();
  EXPECT_FALSE(std::any_of(sent.begin(), sent.end(),
                           [](const std::string& r) { return r.rfind("WR", 0) == 0; }));
  EXPECT_EQ(SetPointCount(kTempSetPoint, kWriteOk), 2);
  EXPECT_EQ(SetPointCount(kCo2SetPoint, kWriteFailed), 1);
  EXPECT_EQ(TakeSetPointWrites(),
            "temperature_setpoint=21.5;temperature_setpoint=-4.5;co2_setpoint=2000 failed");
}

// A command taken just after its own set point's refresh read stands: the
// value that read brought is the one it replaced.
TEST_F(Control, CommandAfterItsSetPointsReadStands) {
  static SimWire* wire = nullptr;
  wire = &run.Wire();
  BetweenRequests = [] {
    if (wire->RequestTexts().back() == "RD DM890" && TempSetPoint == 225) {
      SetPointCommand replaced;
      OfferSetPoint({kTempSetPoint, 215, plat::GetTickCount64()}, replaced);
      wire->ScriptReply("RD DM890", "215");  // as the write leaves it
    }
    WriteCommandedSetPoint();
  };
  for (int cycle = 1; cycle <= 9; ++cycle) run.Cycle();  // the ninth refreshes
  EXPECT_EQ(SetPointCount(kTempSetPoint, kWriteOk), 1);
  EXPECT_EQ(TempSetPoint, 215);
}

// While the terminal is open the command waits; after more than a minute
// it is refused unwritten, and one that came later goes once it closes.
TEST_F(Control, CommandWaitsForTheTerminal) {
  SetPointCommand replaced;
  OfferSetPoint({kTempSetPoint, 215, plat::GetTickCount64()}, replaced);
  OfferSetPoint({kRhSetPoint, 600, plat::GetTickCount64() + 30000}, replaced);
  run.Wire().ScriptReply("RD DM893", "600");
  fake::Key("T", fake::Now() + 1 * kMs);
  fake::Key("Esc", fake::Now() + 61 * scenario::kSecond);
  const std::vector<std::string> sent = run.Cycle();
  EXPECT_FALSE(Contains(sent, "WR DM890 215"));
  EXPECT_EQ(SetPointCount(kTempSetPoint, kWriteRefused), 1);
  EXPECT_EQ(CountOf(sent, "WR DM893 600"), 1);
  EXPECT_EQ(RhSetPoint, 600);
}

}  // namespace
