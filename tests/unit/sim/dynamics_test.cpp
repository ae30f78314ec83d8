// SPDX-License-Identifier: MIT
// Long simulated runs: the unit must stay physical, settle near its set
// points and keep its counters consistent.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/model/model.h"

namespace zrvsim {
namespace {

struct RunStats {
  double maxTempDev = 0, sumTempDev = 0, sumRhDev = 0;
  double minCo2 = 1e9, maxCo2 = 0;
  int samples = 0;
};

TEST(Dynamics, FortyEightHoursStayPhysicalAndSettle) {
  Options o;
  o.unit.seed = 7;
  Controller c(o);
  const double set = 22.5, rhSet = 50.0;
  std::uint32_t last[6] = {};
  const std::uint16_t lows[6] = {dm::kTotalLo, dm::kHeaterLo, dm::kSecondLo,
                                 dm::kCoolerLo, dm::kFourthLo, dm::kHumidifierLo};
  RunStats settled;
  bool heaterSeen = false, coolerSeen = false, ventSeen = false, humidSeen = false;
  bool floorSeen = false, coolingModeSeen = false;
  for (int minute = 1; minute <= 48 * 60; ++minute) {
    c.AdvanceTo(minute * kMinute);
    const Unit& u = c.Unit();
    ASSERT_TRUE(std::isfinite(u.Temperature()) && std::isfinite(u.Humidity()) &&
                std::isfinite(u.Co2()) && std::isfinite(u.Evaporator()))
        << minute;
    ASSERT_GT(u.Temperature(), 5.0) << minute;
    ASSERT_LT(u.Temperature(), 40.0) << minute;
    ASSERT_GE(u.Humidity(), 0.0);
    ASSERT_LE(u.Humidity(), 100.0);
    for (int i = 0; i < 6; ++i) {
      const std::uint32_t now = u.Counter(lows[i]);
      ASSERT_GE(now, last[i]) << "counter " << lows[i] << " at minute " << minute;
      ASSERT_LE(now, u.Counter(dm::kTotalLo));
      last[i] = now;
    }
    heaterSeen |= u.Heater();
    coolerSeen |= u.Cooler();
    ventSeen |= u.Vent();
    humidSeen |= u.Humidifier();
    floorSeen |= u.FloorHeater();
    coolingModeSeen |= u.CoolingMode();
    // The relays say what the unit does.
    ASSERT_EQ(c.Answer("RD 512"), u.Vent() ? "1" : "0");
    ASSERT_EQ(c.Answer("RD 513"), (u.Heater() || u.Cooler()) ? "1" : "0");
    ASSERT_EQ(c.Answer("RD 514"), u.FloorHeater() ? "1" : "0");
    ASSERT_EQ(c.Answer("RD 515"), u.CoolingMode() ? "1" : "0");
    if (minute > 24 * 60) {
      const double dev = std::fabs(u.Temperature() - set);
      settled.maxTempDev = std::max(settled.maxTempDev, dev);
      settled.sumTempDev += dev;
      settled.sumRhDev += std::fabs(u.Humidity() - rhSet);
      settled.minCo2 = std::min(settled.minCo2, u.Co2());
      settled.maxCo2 = std::max(settled.maxCo2, u.Co2());
      ++settled.samples;
    }
  }
  EXPECT_EQ(c.Unit().Counter(dm::kTotalLo), 48u * 3600u);
  EXPECT_LT(settled.maxTempDev, 2.5);
  EXPECT_LT(settled.sumTempDev / settled.samples, 0.8);
  EXPECT_LT(settled.sumRhDev / settled.samples, 4.0);
  EXPECT_GE(settled.minCo2, 0.03);
  EXPECT_LT(settled.maxCo2, 0.45);
  EXPECT_TRUE(heaterSeen && coolerSeen && ventSeen && humidSeen && floorSeen && coolingModeSeen);
  EXPECT_GE(c.Unit().DefrostsDone(), 6);  // every 6 hours
  EXPECT_LE(c.Unit().DefrostsDone(), 8);
}

TEST(Dynamics, SameSeedSameRunHoweverOftenItIsRead) {
  Options o;
  o.unit.seed = 99;
  Controller often(o), seldom(o);
  for (int s = 1; s <= 4 * 3600; s += 7) often.AdvanceTo(s * kSecond);
  often.AdvanceTo(4 * kHour);
  seldom.AdvanceTo(4 * kHour);
  for (const char* r : {"RD DM992", "RD DM993", "RD DM984", "RD DM991", "RD DM117", "RD DM125"}) {
    EXPECT_EQ(often.Answer(r), seldom.Answer(r)) << r;
  }
  Options other = o;
  other.unit.seed = 100;
  Controller different(other);
  different.AdvanceTo(4 * kHour);
  EXPECT_NE(different.Answer("RD DM992"), seldom.Answer("RD DM992"));
}

TEST(Dynamics, WrittenSetPointsAreFollowed) {
  Options o;
  o.unit.startTemp = 22.5;
  Controller c(o);
  c.AdvanceTo(2 * kHour);
  ASSERT_EQ(c.Answer("WR DM890 150"), "OK");  // 15.0 C
  ASSERT_EQ(c.Answer("WR DM893 700"), "OK");  // 70.0 %
  c.AdvanceTo(8 * kHour);
  EXPECT_NEAR(c.Unit().Temperature(), 15.0, 2.0);
  EXPECT_NEAR(c.Unit().Humidity(), 70.0, 5.0);
  // Absurd set points drive the unit to its limits, not off the scale.
  ASSERT_EQ(c.Answer("WR DM890 65000"), "OK");  // -53.6 C
  ASSERT_EQ(c.Answer("WR DM893 60000"), "OK");
  c.AdvanceTo(40 * kHour);
  EXPECT_TRUE(std::isfinite(c.Unit().Temperature()));
  EXPECT_GE(c.Unit().Temperature(), -40.0);
  EXPECT_LE(c.Unit().Humidity(), 100.0);
}

}  // namespace
}  // namespace zrvsim
