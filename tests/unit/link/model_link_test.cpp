// SPDX-License-Identifier: MIT
// The link against the controller model on the fake wire: a whole session
// and the line faults the client has to live with.
#include <gtest/gtest.h>

#include <string>

#include "link/host_link.h"
#include "support/sim_wire.h"
#include "unit/link/link_fixture.h"

namespace {

zrvsim::Options QuietUnit() {
  zrvsim::Options options;
  options.unit.system = 42;
  options.unit.noise = 0;
  return options;
}

class ModelLinkTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    wire.Bind("COM3");
    LinkOpen(3);
    ASSERT_GE(PortHandleTable[3], 0);
  }

  SimWire wire{QuietUnit()};
};

TEST_F(ModelLinkTest, WholeSession) {
  Str255 reply;
  LinkConnect(3, reply);
  EXPECT_EQ(reply, "CC");

  WriteDM(3, 901, 7, reply);
  EXPECT_EQ(reply, "OK");
  EXPECT_EQ(wire.Unit().Dm(901), 7);
  WriteDM(3, 901, 0, reply);
  EXPECT_EQ(wire.Unit().Dm(901), 0);

  ReadDM(3, 109, reply);
  EXPECT_EQ(reply, "42");

  Transact(3, "WR DM100 -5", reply);
  EXPECT_EQ(reply, "OK");
  EXPECT_EQ(wire.Unit().Dm(100), 65531);
  Transact(3, "RD DM-1", reply);
  EXPECT_EQ(reply, std::to_string(wire.Unit().Dm(65535)));

  ReadTimer(3, 106, reply);
  ASSERT_EQ(reply.size(), 5u);
  EXPECT_EQ(std::stoi(reply.str()), wire.Unit().Timer(106)->current);

  ReadRelay(3, 7000, reply);
  EXPECT_TRUE(reply == "0" || reply == "1") << reply;

  LinkDisconnect(3, reply);
  EXPECT_EQ(reply, "OK");
  ClosePort(3);
  EXPECT_EQ(fake::OpenHandleCount("COM3"), 0);

  const std::vector<std::string> expected = {
      "CR",         "WR DM901 7", "WR DM901 0", "RD DM109", "WR DM100 65531",
      "RD DM65535", "RD T106",    "RD 7000",    "CQ"};
  EXPECT_EQ(wire.RequestTexts(), expected);
}

TEST_F(ModelLinkTest, RoundTripAtNineThousandSixHundredBaud) {
  const fake::Micros t0 = fake::Now();
  Str255 reply;
  ReadDM(3, 992, reply);
  ASSERT_FALSE(reply.empty());
  ASSERT_EQ(wire.Responses().size(), 1u);
  const zrvsim::Response& r = wire.Responses().back();
  // "RD DM992" and its CR out, the model's delay, the reply back.
  const double expected =
      (9.0 + static_cast<double>(r.bytes.size())) * kCharMicros9600 +
      static_cast<double>(r.delay);
  const double elapsed = static_cast<double>(fake::Now() - t0);
  EXPECT_GE(elapsed, expected);
  EXPECT_LE(elapsed, expected + 2000);
  EXPECT_EQ(reply.size() + 2, r.bytes.size());
}

TEST_F(ModelLinkTest, RepliesLaterThanTheWaitAreMissingNeverAnothers) {
  Str255 reply;
  for (int i = 0; i < 10; ++i) WriteDM(3, 100 + i, 1000 + i, reply);
  zrvsim::FaultRule late;
  late.match = "RD DM*";
  late.kind = zrvsim::FaultKind::kLate;  // a second, past the wait
  late.every = 5;
  wire.AddFault(late);
  int missing = 0;
  for (int i = 0; i < 30; ++i) {
    ReadDM(3, static_cast<std::uint16_t>(100 + i % 10), reply);
    if (reply.empty() || reply == kStaleInputReply) {
      ++missing;
    } else {
      EXPECT_EQ(reply, std::to_string(1000 + i % 10)) << "read " << i;
    }
  }
  EXPECT_GE(missing, 6);
}

TEST_F(ModelLinkTest, LateReplyTurnsUpAsStaleInput) {
  wire.Fault("RD DM992", zrvsim::FaultKind::kLate, "", 1);
  Str255 reply("old");
  ReadDM(3, 992, reply);
  EXPECT_TRUE(reply.empty());
  fake::AdvanceTo(fake::Now() + 300000);

  ReadDM(3, 993, reply);
  EXPECT_EQ(reply, kStaleInputReply);
  ReadDM(3, 993, reply);
  EXPECT_EQ(reply, std::to_string(wire.Unit().Dm(993)));
  EXPECT_EQ(wire.Count("RD DM993"), 1);
}

TEST_F(ModelLinkTest, ReplyWithoutLineEndAndRefusals) {
  wire.Fault("RD DM993", zrvsim::FaultKind::kNoEnd, "", 1);
  Str255 reply;
  ReadDM(3, 993, reply);
  EXPECT_EQ(reply, "auxStrIn Err");
  // Error replies pass through like any other text.
  Transact(3, "XX", reply);
  EXPECT_EQ(reply, "E1");
  ReadRelay(3, 99999, reply);
  EXPECT_EQ(reply, "E2");
}

}  // namespace
