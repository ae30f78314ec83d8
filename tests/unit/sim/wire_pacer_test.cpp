// SPDX-License-Identifier: MIT
// The server's line timing in virtual time: host bytes cross one char time
// apart, replies start after their request's CR and never overlap.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/model/cli.h"
#include "sim/model/wire_pacer.h"

namespace zrvsim {
namespace {

constexpr Micros kChar = 1146;  // 9600 baud

std::vector<WirePacer::Arrived> DrainIn(WirePacer& w, Micros now) {
  std::vector<WirePacer::Arrived> got;
  while (const auto a = w.NextArrived(now)) got.push_back(*a);
  return got;
}

// Runs the transmit side as the server's loop would, waking exactly when
// the next byte is due; the wire as (time, byte) pairs.
std::vector<std::pair<Micros, char>> DrainOut(WirePacer& w) {
  std::vector<std::pair<Micros, char>> wire;
  while (const auto next = w.NextEvent()) {
    const auto due = w.NextDue(*next);
    if (!due) break;
    wire.emplace_back(due->at, char(due->byte));
  }
  return wire;
}

TEST(WirePacer, CharTimeIsElevenBits) {
  EXPECT_EQ(CharTime(9600), kChar);
  EXPECT_EQ(CharTime(1200), 9167);
  EXPECT_EQ(CharTime(0), 0);
}

TEST(WirePacer, ABurstArrivesOneCharacterAfterAnother) {
  WirePacer w(kChar);
  w.Receive("RD DM992\r", 10'000);
  EXPECT_EQ(w.PendingIn(), 9u);
  // Nothing has crossed at the moment it was read.
  EXPECT_FALSE(w.NextArrived(10'000));
  ASSERT_EQ(w.NextEvent(), 10'000 + kChar);
  // Half way through, only what has crossed so far is handed out.
  const auto early = DrainIn(w, 10'000 + 4 * kChar + kChar / 2);
  ASSERT_EQ(early.size(), 4u);
  EXPECT_EQ(early[0].byte, 'R');
  EXPECT_EQ(early[3].at, 10'000 + 4 * kChar);
  const auto rest = DrainIn(w, 1'000'000);
  ASSERT_EQ(rest.size(), 5u);
  EXPECT_EQ(rest.back().byte, '\r');
  EXPECT_EQ(rest.back().at, 10'000 + 9 * kChar);
  EXPECT_FALSE(w.NextEvent());
}

TEST(WirePacer, ReadsQueueBehindBytesStillCrossingAndIdleLinesStartAfresh) {
  WirePacer w(kChar);
  w.Receive("AB", 0);
  // Read while B is still on the line: C follows B.
  w.Receive("C", kChar);
  // Read long after the line went quiet: a char time from its own read.
  w.Receive("D", 50'000);
  const auto got = DrainIn(w, 1'000'000);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].at, kChar);
  EXPECT_EQ(got[1].at, 2 * kChar);
  EXPECT_EQ(got[2].at, 3 * kChar);
  EXPECT_EQ(got[3].at, 50'000 + kChar);
}

TEST(WirePacer, AReplyStartsAfterItsCrAndGoesOutAtTheLinePace) {
  WirePacer w(kChar);
  w.Receive("CR\r", 0);
  const auto in = DrainIn(w, 1'000'000);
  ASSERT_EQ(in.size(), 3u);
  const Micros arrival = in.back().at;
  EXPECT_EQ(arrival, 3 * kChar);
  w.Send("CC\r\n", arrival, 5'000);
  // Handed over once its last bit is in.
  EXPECT_FALSE(w.NextDue(arrival + 5'000 + kChar - 1));
  const auto first = w.NextDue(arrival + 5'000 + kChar);
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->first);
  EXPECT_EQ(first->reply, "CC\r\n");
  EXPECT_EQ(first->at, arrival + 5'000);
  // The next one waits its char time even when asked for late, and keeps
  // the pace of the wire, not of the asking.
  EXPECT_FALSE(w.NextDue(arrival + 5'000 + 2 * kChar - 1));
  const auto second = w.NextDue(arrival + 5'000 + 10 * kChar);
  ASSERT_TRUE(second);
  EXPECT_FALSE(second->first);
  EXPECT_TRUE(second->reply.empty());
  EXPECT_EQ(second->at, arrival + 5'000 + kChar);
  EXPECT_EQ(w.NextDue(arrival + 5'000 + 10 * kChar)->at, arrival + 5'000 + 2 * kChar);
  EXPECT_TRUE(w.Sending());

  // A negative delay cannot put a reply before its request.
  WirePacer n(kChar);
  n.Send("OK\r\n", 7'000, -3'000);
  EXPECT_FALSE(n.NextDue(7'000 + kChar - 1));
  EXPECT_EQ(n.NextDue(7'000 + kChar)->at, 7'000);
}

TEST(WirePacer, RepliesNeverOverlapAndKeepStartOrder) {
  WirePacer w(kChar);
  // Back to back: the second is due while the first is still going out.
  w.Send("12345\r\n", 0, 0);
  w.Send("OK\r\n", kChar, 0);
  auto wire = DrainOut(w);
  ASSERT_EQ(wire.size(), 11u);
  std::string text;
  for (std::size_t i = 0; i < wire.size(); ++i) {
    text += wire[i].second;
    EXPECT_EQ(wire[i].first, Micros(i) * kChar) << i;
  }
  EXPECT_EQ(text, "12345\r\nOK\r\n");

  // A held-back reply lets a later, quicker one go first, but one already
  // under way is finished before anything else starts.
  w.Send("SLOW\r\n", 100'000, 300'000);
  w.Send("AB\r\n", 101'000, 5'000);
  ASSERT_EQ(w.NextDue(106'000 + kChar)->byte, 'A');
  w.Send("CD\r\n", 100'000, 0);  // due earlier, but AB is on the line
  wire = DrainOut(w);
  wire.insert(wire.begin(), {106'000, 'A'});
  text.clear();
  for (const auto& [at, c] : wire) text += c;
  EXPECT_EQ(text, "AB\r\nCD\r\nSLOW\r\n");
  EXPECT_EQ(wire.front().first, 106'000);
  EXPECT_EQ(wire[4].first, 106'000 + 4 * kChar);
  EXPECT_EQ(wire[8].first, 400'000);
  EXPECT_FALSE(w.Sending());
}

TEST(WirePacer, NextEventIsTheEarlierOfBothDirections) {
  WirePacer w(kChar);
  EXPECT_FALSE(w.NextEvent());
  w.Send("OK\r\n", 0, 20'000);
  EXPECT_EQ(w.NextEvent(), 20'000 + kChar);
  w.Receive("X", 1'000);
  EXPECT_EQ(w.NextEvent(), 1'000 + kChar);
  DrainIn(w, 1'000 + kChar);
  EXPECT_EQ(w.NextEvent(), 20'000 + kChar);
  w.Send("", 0, 0);  // nothing to send is no reply
  EXPECT_EQ(w.NextEvent(), 20'000 + kChar);
}

}  // namespace
}  // namespace zrvsim
