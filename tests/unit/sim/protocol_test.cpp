// SPDX-License-Identifier: MIT
// The controller as the monitor meets it: request texts, reply forms, the
// identification relays and the register scales.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <utility>

#include "sim/model/model.h"

namespace zrvsim {
namespace {

Options Quiet() {
  Options o;
  o.unit.noise = 0;
  return o;
}

// Each request in turn against the answer it must get.
void ExpectAnswers(Controller& c,
                   std::initializer_list<std::pair<const char*, const char*>> exchanges) {
  for (const auto& [request, answer] : exchanges) {
    EXPECT_EQ(c.Answer(request), answer) << '"' << request << '"';
  }
}

// The client's cut of a timer reply: first two characters off, then the six
// from the sixth on.
std::string CutTimer(std::string reply) {
  reply.erase(0, std::min<std::size_t>(2, reply.size()));
  if (reply.size() > 5) reply.erase(5, 6);
  return reply;
}

// The monitor's start-up detection, run against the controller's answers.
int DetectVariant(Controller& c) {
  const bool first = c.Answer("RD 3000") == "1" || c.Answer("RD 3004") == "1";
  if (first) return c.Answer("RD 3003") == "0" ? 1 : 9;
  return c.Answer("RD 3001") == "1" ? 2 : 3;
}

TEST(Protocol, HandshakeAndReplyFraming) {
  Controller c;
  Response r = c.Handle("CR");
  EXPECT_TRUE(r.sent);
  EXPECT_EQ(r.bytes, "CC\r\n");
  EXPECT_EQ(r.delay, 5 * kMillisecond);
  EXPECT_TRUE(r.fault.empty());
  EXPECT_EQ(c.Handle("CQ").bytes, "OK\r\n");
  EXPECT_EQ(c.Handle("WR DM901 0").bytes, "OK\r\n");
}

TEST(Protocol, DataMemoryReadWriteAndRange) {
  Controller c(Quiet());
  ExpectAnswers(c, {{"WR DM200 65535", "OK"},
                    {"RD DM200", "65535"},
                    {"WR DM65535 7", "OK"},
                    {"RD DM65535", "7"},
                    {"RD DM0", "0"},
                    {"RD DM65536", "E2"},
                    {"RD DM99999999999999", "E2"},
                    {"WR DM65536 1", "E2"},
                    {"WR DM200 65536", "E2"},
                    {"RD DM200", "65535"},  // refused writes change nothing
                    {"RD DM108", "7123"},
                    {"RD DM109", "1"},
                    {"RD DM890", "225"},
                    {"RD DM893", "500"},
                    {"RD DM894", "30"},
                    {"RD DM891", "100"}});
}

TEST(Protocol, OperatorTypingIsToleratedAndNonsenseRefused) {
  Controller c(Quiet());
  ExpectAnswers(c, {{"rd dm108", "7123"},
                    {"  RD  DM 108  ", "7123"},
                    {"cr", "CC"},
                    {"wr dm300 12", "OK"},
                    {"RD DM300", "12"}});
  for (const char* bad : {"", "RD", "RD DM", "RD DMx", "RD DM12x", "WR DM1", "WR DM1 -5",
                          "WR DM1 2 3", "WR 512 1", "HELLO", "RD T", "RD -1", "CRX", "\x1b[A"}) {
    EXPECT_EQ(c.Answer(bad), "E1") << '"' << bad << '"';
  }
}

TEST(Protocol, TimerReplyCutsToCurrentValue) {
  Options o = Quiet();
  o.unit.t106Preset = 600;
  o.unit.t107Preset = 900;
  Controller c(o);
  EXPECT_EQ(c.Answer("RD T106"), "OK00600 00600");
  EXPECT_EQ(CutTimer(c.Answer("RD T106")), "00600");
  c.AdvanceTo(1234 * kMillisecond);  // 12 ticks of T106, 1 of T107
  EXPECT_EQ(CutTimer(c.Answer("RD T106")), "00588");
  EXPECT_EQ(CutTimer(c.Answer("RD T107")), "00899");
  EXPECT_EQ(c.Answer("RD T108"), "E2");
  EXPECT_EQ(c.Answer("RD T99999"), "E2");
}

TEST(Timers, CountDownToZeroAndReload) {
  Options o = Quiet();
  o.unit.t106Preset = 5;
  o.unit.t106Tick = 100 * kMillisecond;
  Controller c(o);
  std::vector<int> seen;
  for (int i = 0; i <= 13; ++i) {
    c.AdvanceTo(i * 100 * kMillisecond);
    seen.push_back(c.Unit().Timer(106)->current);
  }
  EXPECT_EQ(seen, (std::vector<int>{5, 4, 3, 2, 1, 0, 5, 4, 3, 2, 1, 0, 5, 4}));
  EXPECT_EQ(c.Unit().Timer(106)->preset, 5);
}

TEST(Identification, VariantsReadAsTheMonitorDetectsThem) {
  struct Case {
    int variant;
    bool evaporator;
  };
  for (const Case k : {Case{1, true}, Case{2, false}, Case{3, false}, Case{9, true}}) {
    Options o = Quiet();
    o.unit.variant = k.variant;
    Controller c(o);
    EXPECT_EQ(DetectVariant(c), k.variant);
    const bool evaporator = c.Answer("RD 3000") == "1" || c.Answer("RD 3003") == "1" ||
                            c.Answer("RD 3004") == "1";
    EXPECT_EQ(evaporator, k.evaporator) << k.variant;
    EXPECT_EQ(c.Unit().HasEvaporator(), k.evaporator);
  }
  // Variant 1 wired through 3004 instead of 3000.
  Options o = Quiet();
  o.unit.variant = 1;
  o.unit.relayOverrides = {{3000, 0}, {3004, 1}};
  Controller c(o);
  EXPECT_EQ(c.Answer("RD 3000"), "0");
  EXPECT_EQ(DetectVariant(c), 1);
  EXPECT_TRUE(c.Unit().HasEvaporator());
}

TEST(Identification, RelaySetDecidesRelay7000) {
  Options o = Quiet();
  o.unit.relaySet = 512;
  Controller modern(o);
  EXPECT_EQ(modern.Answer("RD 7000"), "0");
  for (int r = 512; r <= 515; ++r) {
    const std::string a = modern.Answer("RD " + std::to_string(r));
    EXPECT_TRUE(a == "0" || a == "1") << r;
  }
  EXPECT_EQ(modern.Answer("RD 604"), "E2");

  o.unit.relaySet = 604;
  Controller old(o);
  EXPECT_EQ(old.Answer("RD 7000")[0], 'E');
  for (int r = 604; r <= 607; ++r) {
    const std::string a = old.Answer("RD " + std::to_string(r));
    EXPECT_TRUE(a == "0" || a == "1") << r;
  }
  EXPECT_EQ(old.Answer("RD 512"), "E2");
}

TEST(Identification, ForcedRelaysWinOverThePlant) {
  // Both indicator sets, every indicator forced each way, held while the
  // plant runs for two hours through heating, fresh air and cooling.
  for (const int set : {512, 604}) {
    for (const int state : {0, 1}) {
      Options o = Quiet();
      o.unit.relaySet = set;
      o.unit.startTemp = 5.0;  // far below the set point: the heaters run
      for (int r = set; r < set + 4; ++r) o.unit.relayOverrides[r] = state;
      o.unit.relayOverrides[3000] = state;
      o.unit.relayOverrides[3002] = state;
      Controller c(o);
      const std::string want = state ? "1" : "0";
      for (Micros t = 0; t <= 2 * kHour; t += 7 * kMinute) {
        c.AdvanceTo(t);
        for (int r = set; r < set + 4; ++r) {
          EXPECT_EQ(c.Answer("RD " + std::to_string(r)), want) << set << " " << r << " " << t;
        }
        EXPECT_EQ(c.Answer("RD 3000"), want);
        EXPECT_EQ(c.Answer("RD 3002"), want);
      }
    }
  }
  // Any other value takes the relay away, an indicator as well.
  Options o = Quiet();
  o.unit.relayOverrides = {{513, -1}, {7000, -1}, {3003, -1}};
  Controller c(o);
  EXPECT_EQ(c.Answer("RD 513"), "E2");
  EXPECT_EQ(c.Answer("RD 7000"), "E2");
  EXPECT_EQ(c.Answer("RD 3003"), "E2");
  EXPECT_TRUE(c.Answer("RD 512") == "0" || c.Answer("RD 512") == "1");
}

TEST(Identification, RevisionChoosesTheRegisterScale) {
  for (std::uint16_t revision : {6999, 7000, 7123}) {
    Options o = Quiet();
    o.unit.revision = revision;
    o.unit.system = 42;
    Controller c(o);
    c.AdvanceTo(600 * kSecond);
    const double t = c.Unit().Temperature();
    const double h = c.Unit().Humidity();
    const long rawT = std::stol(c.Answer("RD DM992"));
    const long rawH = std::stol(c.Answer("RD DM993"));
    if (revision >= 7000) {
      EXPECT_EQ(rawT, std::lround((t + 50) * 320)) << revision;
      EXPECT_EQ(rawH, std::lround(h * 320)) << revision;
    } else {
      EXPECT_EQ(rawT, std::lround(t * 40));
      EXPECT_EQ(rawH, std::lround(h * 40));
      EXPECT_LE(rawT, 7500);  // so the monitor keeps the plain scale
    }
    EXPECT_EQ(std::stol(c.Answer("RD DM984")), std::lround(c.Unit().Co2() * 100));
    EXPECT_EQ(std::stol(c.Answer("RD DM991")), std::lround((c.Unit().Evaporator() + 50) * 20));
    EXPECT_EQ(c.Answer("RD DM108"), std::to_string(revision));
    EXPECT_EQ(c.Answer("RD DM109"), "42");
  }
}

TEST(Identification, BelowZeroOnThePlainScaleReadsAsTwosComplement) {
  Options o = Quiet();
  o.unit.revision = 6000;
  o.unit.startTemp = -5;
  o.unit.tempSet = -100;
  o.unit.ambientMean = -20;
  o.unit.ambientSwing = 0;
  Controller c(o);
  const long raw = std::stol(c.Answer("RD DM992"));
  EXPECT_EQ(raw, 65536 - 200);  // -5.0 x 40
}

// The monitor's defrost line: hours to the next defrost as it computes them.
double ShownHours(Controller& c, std::uint16_t interval, bool tempCtlOn) {
  const long dm88 = std::stol(c.Answer("RD DM88"));
  const long dm87 = std::stol(c.Answer("RD DM87"));
  const long remaining = (dm88 - interval) & 0xFFFF;
  if (tempCtlOn && dm87 < remaining * 60) return dm87 / 3600.0;
  return remaining / 60.0;
}

TEST(Defrost, CountdownRegistersAgreeWithTheMonitorsReading) {
  for (std::uint16_t revision : {7000, 7123}) {
    Options o = Quiet();
    o.unit.revision = revision;
    o.unit.defrostInterval = 240;
    Controller c(o);
    const std::uint16_t interval = revision >= 7123 ? 240 : 4320;
    EXPECT_EQ(c.Answer("RD DM89"), "240");
    EXPECT_NEAR(ShownHours(c, interval, false), 4.0, 1e-9);
    c.AdvanceTo(90 * kMinute + 30 * kSecond);
    EXPECT_EQ(c.Answer("RD DM87"), std::to_string(150 * 60 - 30));
    EXPECT_NEAR(ShownHours(c, interval, false), 150 / 60.0, 1e-9);
    EXPECT_NEAR(ShownHours(c, interval, true), (150 * 60 - 30) / 3600.0, 1e-9);
  }
  // Controllers with the 604 set count DM87 in minutes.
  Options o = Quiet();
  o.unit.relaySet = 604;
  o.unit.defrostInterval = 240;
  Controller c(o);
  c.AdvanceTo(90 * kMinute + 30 * kSecond);
  EXPECT_EQ(c.Answer("RD DM87"), "150");
}

TEST(Defrost, RunsPeriodicallyAndWarmsTheEvaporatorToItsTarget) {
  Options o = Quiet();
  o.unit.defrostInterval = 60;
  o.unit.defrostTarget = 150;
  o.unit.ambientMean = 35;  // cooling all along, so the evaporator stays cold
  o.unit.ambientSwing = 0;
  o.unit.startTemp = 24;
  Controller c(o);
  double coldest = 100;
  bool sawDefrost = false;
  for (int s = 1; s <= 59 * 60; s += 30) {
    c.AdvanceTo(s * kSecond);
    coldest = std::min(coldest, c.Unit().Evaporator());
    sawDefrost |= c.Unit().Defrosting();
  }
  EXPECT_FALSE(sawDefrost);
  EXPECT_LT(coldest, 10.0);
  c.AdvanceTo(61 * kMinute);
  EXPECT_TRUE(c.Unit().Defrosting());
  EXPECT_FALSE(c.Unit().Cooler());
  EXPECT_EQ(c.Answer("RD DM87"), "0");
  while (c.Unit().Defrosting() && c.Now() < 2 * kHour) c.AdvanceTo(c.Now() + kSecond);
  EXPECT_EQ(c.Unit().DefrostsDone(), 1);
  EXPECT_GE(c.Unit().Evaporator(), 15.0 - 0.1);
  EXPECT_GT(c.Unit().Counter(dm::kFourthLo), 60u);  // the defrost counter ran
  EXPECT_NEAR(std::stol(c.Answer("RD DM87")), 3600, 2);
}

TEST(Defrost, NoneWithoutAnEvaporator) {
  Options o = Quiet();
  o.unit.variant = 2;
  o.unit.defrostInterval = 10;
  Controller c(o);
  c.AdvanceTo(2 * kHour);
  EXPECT_EQ(c.Unit().DefrostsDone(), 0);
  EXPECT_FALSE(c.Unit().Defrosting());
}

TEST(Counters, AdvanceCarryAndClear) {
  Options o = Quiet();
  Controller c(o);
  c.AdvanceTo(100 * kSecond + 500 * kMillisecond);
  EXPECT_EQ(c.Answer("RD DM117"), "100");
  EXPECT_EQ(c.Answer("RD DM118"), "0");

  ASSERT_EQ(c.Answer("WR DM117 65530"), "OK");
  c.AdvanceTo(110 * kSecond);
  EXPECT_EQ(c.Answer("RD DM117"), "4");  // 65530 + 10 carried
  EXPECT_EQ(c.Answer("RD DM118"), "1");

  // The reset: twelve writes of 0, after which every counter starts over.
  c.AdvanceTo(3 * kHour);
  EXPECT_GT(c.Unit().Counter(dm::kHeaterLo), 0u);
  for (int a : {117, 118, 119, 120, 121, 122, 125, 126, 127, 128, 131, 132}) {
    ASSERT_EQ(c.Answer("WR DM" + std::to_string(a) + " 0"), "OK");
  }
  for (int a : {117, 119, 121, 125, 127, 131}) {
    EXPECT_EQ(c.Unit().Counter(static_cast<std::uint16_t>(a)), 0u) << a;
  }
  c.AdvanceTo(3 * kHour + 20 * kSecond);
  EXPECT_EQ(c.Unit().Counter(dm::kTotalLo), 20u);
  EXPECT_LE(c.Unit().Counter(dm::kHeaterLo), 20u);
}

}  // namespace
}  // namespace zrvsim
