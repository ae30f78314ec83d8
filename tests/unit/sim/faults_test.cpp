// SPDX-License-Identifier: MIT
// Line faults, the request line collector and robustness against noise.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "sim/model/cli.h"
#include "sim/model/model.h"

namespace zrvsim {
namespace {

Controller WithRule(const std::string& text, Options o = {}) {
  std::string error;
  auto rule = ParseFaultRule(text, error);
  EXPECT_TRUE(rule) << error;
  if (rule) o.faults.rules.push_back(*rule);
  return Controller(o);
}

TEST(Faults, SilenceHearsNothingLostDoesTheWorkUnanswered) {
  Controller silent = WithRule("WR DM300*:silence");
  Response r = silent.Handle("WR DM300 9");
  EXPECT_FALSE(r.sent);
  EXPECT_EQ(r.fault, "silence");
  EXPECT_EQ(silent.Answer("RD DM300"), "0");

  Controller lost = WithRule("WR DM300*:lost");
  r = lost.Handle("WR DM300 9");
  EXPECT_FALSE(r.sent);
  EXPECT_EQ(r.fault, "lost");
  EXPECT_EQ(lost.Answer("RD DM300"), "9");
  EXPECT_TRUE(lost.Handle("RD DM300").sent);  // only the matching request
}

TEST(Faults, DelaysEndsGarbageErrors) {
  Controller c = WithRule("RD DM1:latency");
  EXPECT_EQ(c.Handle("RD DM1").delay, 35 * kMillisecond);
  c = WithRule("RD DM1:latency:100");
  EXPECT_EQ(c.Handle("RD DM1").delay, 105 * kMillisecond);
  c = WithRule("RD DM1:late");
  EXPECT_EQ(c.Handle("RD DM1").delay, 1005 * kMillisecond);
  c = WithRule("RD DM1:latency,every=3:500");  // the 3rd, 6th, ... match
  for (int i = 1; i <= 6; ++i) {
    EXPECT_EQ(c.Handle("RD DM1").delay, (i % 3 == 0 ? 505 : 5) * kMillisecond) << i;
  }

  c = WithRule("RD DM108:noend");
  Response r = c.Handle("RD DM108");
  EXPECT_TRUE(r.sent);
  EXPECT_EQ(r.bytes, "7123");

  c = WithRule("RD DM108:garbage:12");
  r = c.Handle("RD DM108");
  ASSERT_EQ(r.bytes.size(), 14u);
  EXPECT_EQ(r.bytes.substr(12), "\r\n");
  Controller again = WithRule("RD DM108:garbage:12");
  EXPECT_EQ(again.Handle("RD DM108").bytes, r.bytes);  // seeded

  c = WithRule("WR*:error");
  EXPECT_EQ(c.Handle("WR DM300 5").bytes, "E1\r\n");
  EXPECT_EQ(c.Answer("RD DM300"), "0");  // refused, not carried out
  c = WithRule("RD 7000:error:E5");
  EXPECT_EQ(c.Handle("RD 7000").bytes, "E5\r\n");

  c = WithRule("RD DM1:late:400");
  std::string error;
  c.AddFault(*ParseFaultRule("RD DM1:noend", error));
  r = c.Handle("RD DM1");
  EXPECT_EQ(r.delay, 405 * kMillisecond);
  EXPECT_EQ(r.bytes, "0");
  EXPECT_EQ(r.fault, "late noend");
}

TEST(Faults, ScriptedRepliesWithEscapes) {
  Options o;
  std::string error;
  for (const char* text : {"RD 3003=1 ", "rd 3001=01", "RD DM992=\\e[2J\\e[1;1H23200"}) {
    auto rule = ParseReplyRule(text, error);
    ASSERT_TRUE(rule) << error;
    o.faults.rules.push_back(*rule);
  }
  Controller c(o);
  EXPECT_EQ(c.Handle("RD 3003").bytes, "1 \r\n");
  EXPECT_EQ(c.Handle("RD 3001").bytes, "01\r\n");
  EXPECT_EQ(c.Handle("RD DM992").bytes, "\x1b[2J\x1b[1;1H23200\r\n");
  EXPECT_EQ(c.Handle("RD 3000").bytes, "1\r\n");
}

TEST(Faults, AfterTimesAndProbability) {
  Controller c = WithRule("RD DM5:silence,after=1,times=2");
  std::vector<bool> sent;
  for (int i = 0; i < 5; ++i) sent.push_back(c.Handle("RD DM5").sent);
  EXPECT_EQ(sent, (std::vector<bool>{true, false, false, true, true}));
  EXPECT_EQ(c.Faults()[0].applied, 2);

  Options o;
  o.faults.rate = 0.25;
  o.faults.randomKinds = {FaultKind::kSilence};
  Controller random1(o), random2(o);
  int silent = 0;
  for (int i = 0; i < 2000; ++i) {
    const bool s1 = random1.Handle("RD DM1").sent;
    EXPECT_EQ(s1, random2.Handle("RD DM1").sent);  // same seed, same dice
    silent += s1 ? 0 : 1;
  }
  EXPECT_GT(silent, 400);
  EXPECT_LT(silent, 600);

  Controller half = WithRule("*:error,p=0.5");
  int errors = 0;
  for (int i = 0; i < 1000; ++i) errors += half.Handle("RD DM1").bytes == "E1\r\n";
  EXPECT_GT(errors, 400);
  EXPECT_LT(errors, 600);
}

TEST(Faults, LineGoesDeadForGood) {
  Options o;
  o.faults.deadAfterRequests = 3;
  Controller byCount(o);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(byCount.Handle("CR").sent);
  EXPECT_FALSE(byCount.Handle("CR").sent);
  EXPECT_TRUE(byCount.Dead());

  o = {};
  o.faults.deadAfterTime = 10 * kSecond;
  Controller byTime(o);
  byTime.AdvanceTo(9 * kSecond);
  EXPECT_TRUE(byTime.Handle("CR").sent);
  byTime.AdvanceTo(10 * kSecond);
  EXPECT_FALSE(byTime.Handle("CR").sent);

  Controller byRequest = WithRule("RD 7000:dead");
  EXPECT_TRUE(byRequest.Handle("CR").sent);
  EXPECT_FALSE(byRequest.Handle("RD 7000").sent);
  EXPECT_FALSE(byRequest.Handle("CR").sent);

  Controller switched;
  switched.SetSilent(true);
  Response r = switched.Handle("CR");
  EXPECT_FALSE(r.sent);
  EXPECT_EQ(r.fault, "silent");
  switched.SetSilent(false);
  EXPECT_TRUE(switched.Handle("CR").sent);
}

TEST(Faults, RulesAreCheckedWhenParsed) {
  std::string error;
  auto rule = ParseFaultRule("RD DM99*:latency,after=2,times=1,p=0.5:50", error);
  ASSERT_TRUE(rule) << error;
  EXPECT_EQ(rule->match, "RD DM99*");
  EXPECT_EQ(rule->kind, FaultKind::kLatency);
  EXPECT_EQ(rule->arg, "50");
  EXPECT_EQ(rule->after, 2);
  EXPECT_EQ(rule->times, 1);
  EXPECT_DOUBLE_EQ(rule->probability, 0.5);
  rule = ParseFaultRule("RD 3003:reply:a:b\\x41", error);
  ASSERT_TRUE(rule);
  EXPECT_EQ(rule->arg, "a:bA");
  rule = ParseFaultRule(":noend", error);
  ASSERT_TRUE(rule);
  EXPECT_EQ(rule->match, "*");
  for (const char* bad : {"RD DM1", "RD DM1:explode", "RD DM1:latency:soon",
                          "RD DM1:silence,times=x", "RD DM1:silence,p=2", "x:silence,foo=1"}) {
    EXPECT_FALSE(ParseFaultRule(bad, error)) << bad;
  }
  EXPECT_FALSE(ParseReplyRule("no equals sign", error));
  EXPECT_FALSE(ParseReplyRule("=x", error));
}

TEST(Helpers, GlobEscapesAndLines) {
  EXPECT_TRUE(GlobMatch("RD DM9*", "rd dm992"));
  EXPECT_TRUE(GlobMatch("*", ""));
  EXPECT_TRUE(GlobMatch("RD ?00?", "RD 3003"));
  EXPECT_TRUE(GlobMatch("*DM*2", "WR DM122 0 2"));
  EXPECT_FALSE(GlobMatch("RD DM9*", "RD DM89"));
  EXPECT_FALSE(GlobMatch("RD 300", "RD 3000"));

  EXPECT_EQ(Unescape("\\e[0m\\r\\n\\t\\\\\\x1b\\033\\q"), "\x1b[0m\r\n\t\\\x1b\x1bq");
  EXPECT_EQ(EscapeBytes(std::string("a\r\n\x1b\\\x01\xff", 7)), "a\\r\\n\\e\\\\\\x01\\xFF");

  LineCollector lines;
  std::vector<std::string> got;
  for (char ch : std::string("CR\r\nRD DM9x\b92\rRD 3000\n\r")) {
    if (auto l = lines.Push(static_cast<std::uint8_t>(ch))) got.push_back(*l);
  }
  EXPECT_EQ(got, (std::vector<std::string>{"CR", "RD DM992", "RD 3000", ""}));
  for (int i = 0; i < 2000; ++i) lines.Push('A');
  EXPECT_EQ(lines.Push('\r')->size(), LineCollector::kMaxLine);
}

TEST(Robustness, RandomBytesNeverBreakTheController) {
  Options o;
  o.faults.rate = 0.1;
  Controller c(o);
  LineCollector lines;
  std::mt19937 rng(1234);
  const char* pieces[] = {"RD", "WR", "DM", "T", " ", "0", "65535", "99999999999", "-", "\t",
                          "3000", "cr", "\x1b", "\r", "\n", "\x7f", "\b", "\0"};
  int replies = 0;
  for (int i = 0; i < 40000; ++i) {
    std::uint8_t byte;
    if (rng() % 2) {
      byte = static_cast<std::uint8_t>(rng());
      if (auto l = lines.Push(byte)) {
        Response r = c.Handle(*l);
        replies += r.sent;
      }
    } else {
      const std::string piece = pieces[rng() % std::size(pieces)];
      for (char ch : piece) {
        if (auto l = lines.Push(static_cast<std::uint8_t>(ch))) {
          const std::string plain = c.Answer(*l);
          ASSERT_FALSE(plain.empty());
          ASSERT_EQ(plain.find('\r'), std::string::npos);
          replies += c.Handle(*l).sent;
        }
      }
    }
    c.AdvanceTo(c.Now() + 3 * kMillisecond);
  }
  EXPECT_GT(replies, 100);
  // Writes landed anywhere in memory; the unit still runs sanely.
  c.AdvanceTo(c.Now() + kHour);
  EXPECT_TRUE(std::isfinite(c.Unit().Temperature()));
}

TEST(ServerArgs, OptionsAreParsedAndChecked) {
  ServerConfig cfg;
  std::string error;
  ASSERT_TRUE(ParseServerArgs({"--variant", "1", "--revision=6999", "--system", "12",
                               "--relay-set", "604", "--temp-set", "-2.5", "--rh-set", "65",
                               "--co2-set", "0.25", "--latency", "2.5", "--baud", "19200",
                               "--fault", "RD 7000:error", "--reply", "RD 3003=1 ",
                               "--fault-rate", "0.1", "--seed", "5", "--speed", "60",
                               "--dead-after", "2", "--relay", "3004=1", "--trace", "-",
                               "--link", "/tmp/x"},
                              cfg, error))
      << error;
  const UnitOptions& u = cfg.model.unit;
  EXPECT_EQ(u.variant, 1);
  EXPECT_EQ(u.revision, 6999);
  EXPECT_EQ(u.system, 12);
  EXPECT_EQ(u.relaySet, 604);
  EXPECT_EQ(u.tempSet, -25);
  EXPECT_EQ(u.rhSet, 650);
  EXPECT_EQ(u.co2Set, 25);
  EXPECT_EQ(u.seed, 5u);
  EXPECT_EQ(u.relayOverrides.at(3004), 1);
  EXPECT_EQ(cfg.model.latency, 2500);
  EXPECT_EQ(cfg.baud, 19200);
  ASSERT_EQ(cfg.model.faults.rules.size(), 2u);
  EXPECT_EQ(cfg.model.faults.rules[1].arg, "1 ");
  EXPECT_EQ(cfg.model.faults.deadAfterTime, 120 * kSecond);  // model time at speed 60
  EXPECT_EQ(cfg.trace, "-");
  EXPECT_EQ(cfg.link, "/tmp/x");
  EXPECT_FALSE(cfg.help);
  ServerConfig never;  // beyond the model clock's range
  ASSERT_TRUE(ParseServerArgs({"--dead-after", "1e300", "--speed", "2"}, never, error));
  EXPECT_EQ(never.model.faults.deadAfterTime, -1);

  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"--variant", "4"},
                                             {"--relay-set", "600"},
                                             {"--latency"},
                                             {"--bogus", "1"},
                                             {"--fault", "x:nothing"},
                                             {"--fault-kinds", "silence,reply"},
                                             {"--temp-set", "warm"},
                                             {"stray"}}) {
    ServerConfig c;
    EXPECT_FALSE(ParseServerArgs(bad, c, error)) << bad[0];
  }
  ServerConfig help;
  EXPECT_TRUE(ParseServerArgs({"--help"}, help, error));
  EXPECT_TRUE(help.help);
  EXPECT_NE(ServerUsage().find("--dead-after"), std::string::npos);
  EXPECT_EQ(CharTime(9600), 1146);
}

}  // namespace
}  // namespace zrvsim
