// SPDX-License-Identifier: MIT
#include "link/host_link.h"

#include <gtest/gtest.h>

#include <deque>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "unit/link/link_fixture.h"

namespace {

// Each command against the text that goes out for it.
void ExpectRewrites(
    std::initializer_list<std::pair<const char*, const char*>> cases) {
  for (const auto& [command, sent] : cases) {
    EXPECT_EQ(RewriteMinusSign(command), sent) << command;
  }
}

TEST(MinusSign, RewrittenAsSixteenBitComplement) {
  ExpectRewrites({{"RD DM-1", "RD DM65535"},
                  {"WR DM-5 100", "WR DM65531 100"},
                  {"WR DM100 -5", "WR DM100 65531"},
                  {"WR DM100 -0", "WR DM100 0"},
                  {"WR DM100 -65536", "WR DM100 0"},
                  {"WR DM100 -65537", "WR DM100 65535"},
                  {"WR DM100 5", "WR DM100 5"}});
}

TEST(MinusSign, NumberReadingAfterTheMinus) {
  // Leading blanks skipped, a sign of its own taken, the rest kept.
  ExpectRewrites({{"WR DM1 -  7", "WR DM1 65529"},
                  {"WR DM1 --5", "WR DM1 5"},
                  {"WR DM1 -+5", "WR DM1 65531"},
                  {"WR DM1 -5 -6 tail", "WR DM1 65531 -6 tail"},
                  {"RD DM-", "RD DM0"},
                  {"RD DM-x12", "RD DM0x12"}});
}

TEST(MinusSign, LongDigitRunsWrapModulo65536) {
  // Exact residues of the 40-digit values, computed beside the code.
  EXPECT_EQ(
      RewriteMinusSign("WR DM1 -1234567890123456789012345678901234567890"),
      "WR DM1 62766");
  EXPECT_EQ(RewriteMinusSign(Str255("WR DM1 -") + std::string(40, '9')),
            "WR DM1 1");
  const Str255 full = Str255("-") + std::string(254, '9');
  const Str255 out = RewriteMinusSign(full);
  ASSERT_FALSE(out.empty());
  EXPECT_LE(out.size(), 5u);

  // Full-length commands of signs and digits.
  EXPECT_EQ(RewriteMinusSign(Str255(std::string(255, '-'))),
            "0" + std::string(253, '-'));
  std::string pairs;
  for (int i = 0; i < 127; ++i) pairs += "-9";
  EXPECT_EQ(RewriteMinusSign(Str255(pairs + "-")),
            ("65527" + pairs.substr(2) + "-").substr(0, 255));  // cut at 255
  EXPECT_EQ(RewriteMinusSign(Str255(std::string(254, '9') + "-")),
            std::string(254, '9') + "0");
  EXPECT_EQ(RewriteMinusSign(Str255(std::string(252, '9') + "-12")),
            std::string(252, '9') + "655");
}

// Answers each command line with the next of its queued replies.
class QueuedController : public fake::SerialEndpoint {
 public:
  std::deque<std::string> answers;
  int requests = 0;

  void OnByte(std::uint8_t byte, fake::Micros at,
              std::vector<Emission>& out) override {
    if (byte != '\r') return;
    ++requests;
    if (answers.empty()) return;
    out.push_back({answers.front(), at + 2000});
    answers.pop_front();
  }
};

class HostLinkTest : public LinkTest {
 protected:
  void Open(int port = 1, const std::string& name = "COM1") {
    fake::BindSerial(name, &controller);
    LinkOpen(port);
    ASSERT_GE(PortHandleTable[port], 0);
  }

  // Lets any request still on the wire arrive.
  static void Drain() { fake::AdvanceTo(fake::Now() + 500000); }

  ScriptedController controller;
};

TEST_F(HostLinkTest, LinkOpenUsesTheFixedLineSettings) {
  fake::Key("a");
  Open();
  const plat::DCB dcb = fake::LastDcb("COM1");
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.Parity, plat::EVENPARITY);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.StopBits, plat::ONESTOPBIT);
  EXPECT_EQ(fake::LastTimeouts("COM1").ReadTotalTimeoutConstant, 52u);
  EXPECT_TRUE(KeyBuffer.empty());
  EXPECT_FALSE(KeyWaiting());
}

TEST_F(HostLinkTest, LinkOpenRefusesPortsWithoutSlot) {
  fake::BindSerial("COM1", &controller);
  LinkOpen(0);
  LinkOpen(65537);  // must not wrap onto port 1
  LinkOpen(-1);
  EXPECT_TRUE(SerialOpens().empty());
  Str255 reply("old");
  Transact(0, "CR", reply);
  EXPECT_TRUE(reply.empty());
  Transact(200, "CR", reply);
  EXPECT_TRUE(reply.empty());
}

TEST_F(HostLinkTest, ConnectAnsweredAtOnceSendsOneRequest) {
  controller.replies["CR"] = {"CC\r\n"};
  Open();
  Str255 reply;
  LinkConnect(1, reply);
  EXPECT_EQ(reply, "CC");
  Drain();
  EXPECT_EQ(fake::SentText("COM1"), "CR\r");
}

TEST_F(HostLinkTest, ConnectToSilentControllerTriesThreeTimes) {
  Open();
  Str255 reply("old");
  LinkConnect(1, reply);
  EXPECT_TRUE(reply.empty());
  Drain();
  EXPECT_EQ(fake::SentText("COM1"), "CR\rCR\rCR\r");
  std::vector<fake::Micros> starts;
  for (const fake::WireByte& b : fake::WireLog("COM1")) {
    if (b.toDevice && b.byte == 'C') starts.push_back(b.at);
  }
  ASSERT_EQ(starts.size(), 3u);
  // Each unanswered request leaves the line, waits 51 polls of a 15.625 ms
  // tick (on a clock of whole milliseconds), then 100 ms pass.
  for (int i = 1; i < 3; ++i) {
    EXPECT_NEAR(static_cast<double>(starts[i] - starts[i - 1]),
                3 * kCharMicros9600 + 51 * 15625 + 100000, 2000);
  }
}

TEST_F(HostLinkTest, ConnectStopsOnlyOnExactlyCC) {
  QueuedController queued;
  queued.answers = {"E1\r\n", "CC\r\n", "CC\r\n"};
  fake::BindSerial("COM1", &queued);
  LinkOpen(1);
  Str255 reply;
  LinkConnect(1, reply);
  EXPECT_EQ(reply, "CC");
  EXPECT_EQ(queued.requests, 2);

  // Near misses are retried; the last reply is handed back.
  queued.answers = {"CCC\r\n", "CD\r\n", "E3\r\n", "CC\r\n"};
  queued.requests = 0;
  LinkConnect(1, reply);
  EXPECT_EQ(reply, "E3");
  EXPECT_EQ(queued.requests, 3);
}

TEST_F(HostLinkTest, DisconnectPassesReplyBack) {
  controller.replies["CQ"] = {"CQ\r\n"};
  Open();
  Str255 reply;
  LinkDisconnect(1, reply);
  EXPECT_EQ(reply, "CQ");
  Drain();
  EXPECT_EQ(fake::SentText("COM1"), "CQ\r");
}

TEST_F(HostLinkTest, RequestTextsOnTheWire) {
  controller.fallback = "00000\r\n";
  Open();
  Str255 reply;
  WriteDM(1, 901, 0, reply);
  ReadDM(1, 65535, reply);
  ReadRelay(1, 3000, reply);
  ReadRelay(1, -5, reply);
  ReadTimer(1, 106, reply);
  Transact(1, "RD DM-1", reply);
  Transact(1, "WR DM100 -5", reply);
  Transact(1, "WR DM100 -0", reply);
  Drain();
  const std::vector<std::string> expected = {
      "WR DM901 0", "RD DM65535", "RD 3000",        "RD 65531",
      "RD T106",    "RD DM65535", "WR DM100 65531", "WR DM100 0"};
  EXPECT_EQ(controller.lines, expected);
  EXPECT_EQ(fake::SentText("COM1").substr(0, 11), "WR DM901 0\r");
}

TEST_F(HostLinkTest, ReplyLineEndIsRemoved) {
  controller.replies["RD DM992"] = {"00215\r\n"};
  controller.replies["RD DM1"] = {"E1\r\n"};
  controller.replies["RD DM2"] = {"\n"};
  controller.replies["RD DM3"] = {std::string{'0', '\0', '1', '2', '\r', '\n'}};
  controller.replies["RD DM4"] = {std::string(300, 'a') + "\r\n"};
  Open();
  Str255 reply;
  ReadDM(1, 992, reply);
  EXPECT_EQ(reply, "00215");
  ReadDM(1, 1, reply);
  EXPECT_EQ(reply, "E1");
  // A one-character line stays whole.
  ReadDM(1, 2, reply);
  EXPECT_EQ(reply, "\n");
  ReadDM(1, 3, reply);
  EXPECT_EQ(reply, (std::string{'0', '\0', '1', '2'}));
  // An overlong line keeps 255 characters, of which the last two go.
  ReadDM(1, 4, reply);
  EXPECT_EQ(reply, std::string(253, 'a'));
}

TEST_F(HostLinkTest, BareLineEndDoesNotEndTheWait) {
  controller.replies["RD DM5"] = {"\r\n", "42\r\n"};
  controller.gap = 20000;
  Open();
  Str255 reply;
  ReadDM(1, 5, reply);
  EXPECT_EQ(reply, "42");
}

TEST_F(HostLinkTest, ReplyWithoutEndCharacter) {
  controller.fallback = "12345";
  Open();
  Str255 reply;
  ReadDM(1, 7, reply);
  EXPECT_EQ(reply, "auxStrIn Err");
}

TEST_F(HostLinkTest, TimerReplyIsCut) {
  controller.replies["RD T106"] = {"ABCDEFGHIJKLMNOP\r\n"};
  controller.replies["RD T107"] = {"ABC\r\n"};
  controller.replies["RD T108"] = {"AB\r\n"};
  Open();
  Str255 reply;
  ReadTimer(1, 106, reply);
  EXPECT_EQ(reply, "CDEFGNOP");
  ReadTimer(1, 107, reply);
  EXPECT_EQ(reply, "C");
  ReadTimer(1, 108, reply);
  EXPECT_EQ(reply, "");
  ReadTimer(1, 109, reply);  // unanswered
  EXPECT_EQ(reply, "");
}

TEST_F(HostLinkTest, LongestCommandsAndTheirCarriageReturn) {
  Open();
  const std::string c254 = "RD " + std::string(251, 'x');
  const std::string c255 = "RD " + std::string(252, 'y');
  Str255 reply;
  Transact(1, Str255(c254), reply);
  Drain();
  EXPECT_EQ(fake::SentText("COM1"), c254 + "\r");
  // A longer one is cut so that its carriage return still goes out.
  Transact(1, Str255(c255), reply);
  Drain();
  EXPECT_EQ(fake::SentText("COM1"), c254 + "\r" + c255.substr(0, 254) + "\r");
}

// A line that never stops sending: the read is cut after the longest
// reply's wire time and the wait, as a reply without its end, and so is a
// request whose line starts babbling as it goes out: reading the stale
// stream away counts within that bound. A line that cannot take even
// parity is not used at all.
TEST_F(HostLinkTest, BabblingLineIsCutAndAParityLessLineUnused) {
  controller.fallback = std::string(3000, 'A');
  Open();
  const fake::Micros t0 = fake::Now();
  Str255 reply;
  ReadDM(1, 1, reply);
  EXPECT_EQ(reply, kCutReply);
  EXPECT_LT(fake::Now() - t0, 1200000);
  EXPECT_EQ(LastReplyOutcome, ReplyOutcome::kUnusable);

  // RD DM2's silence, then 3000 bytes just before RD DM3 has left the line.
  fake::AdvanceTo(fake::Now() + 4000000);
  PurgePort(1);
  controller.fallback.clear();
  controller.replies["RD DM2"] = {"", std::string(3000, 'B')};
  controller.gap = 801000;
  ReadDM(1, 2, reply);
  const fake::Micros t1 = fake::Now();
  ReadDM(1, 3, reply);
  EXPECT_EQ(LastReplyOutcome, ReplyOutcome::kUnusable);
  RecordProperty("BabbledRequestMicros", std::to_string(fake::Now() - t1));
  EXPECT_LE(fake::Now() - t1, static_cast<fake::Micros>(kLongestReadMs + 16) * 1000);
  EXPECT_EQ(controller.lines.back(), "RD DM3");
  // A piece of a line, then silence, is no babble: the reply never came.
  fake::AdvanceTo(fake::Now() + 4000000);
  PurgePort(1);
  controller.replies["RD DM4"] = {"", "12"};
  ReadDM(1, 4, reply);
  ReadDM(1, 5, reply);
  EXPECT_EQ(LastReplyOutcome, ReplyOutcome::kUnanswered);

  ClosePort(1);
  fake::RefuseParity("COM1");
  LinkOpen(1);
  EXPECT_EQ(LinkOpenError, plat::ERROR_INVALID_PARAMETER);
  EXPECT_LT(PortHandleTable[1], 0);
  EXPECT_EQ(fake::OpenHandleCount("COM1"), 0);
}

TEST_F(HostLinkTest, StaleInputIsReportedOnceThenServiceResumes) {
  controller.fallback = "00007\r\n";
  controller.latency = 900000;  // answers after the client gave up
  Open();
  Str255 reply("old");
  ReadDM(1, 1, reply);
  EXPECT_TRUE(reply.empty());
  fake::AdvanceTo(fake::Now() + 200000);

  ReadDM(1, 2, reply);
  EXPECT_EQ(reply, kStaleInputReply);
  EXPECT_EQ(reply.size(), 17u);
  EXPECT_EQ(controller.lines.size(), 1u);

  controller.latency = 2000;
  ReadDM(1, 3, reply);
  EXPECT_EQ(reply, "00007");
  const std::vector<std::string> expected = {"RD DM1", "RD DM3"};
  EXPECT_EQ(controller.lines, expected);
}

TEST_F(HostLinkTest, LateReplyOnTheLineBeforeTheRequestLeftIsNotItsReply) {
  // RD DM1's reply comes 0.8 s late, just as RD DM2 is going out: the
  // controller cannot have read RD DM2 yet, so that reply is not its own.
  controller.replies["RD DM1"] = {"", "00001\r\n"};
  controller.replies["RD DM2"] = {"00002\r\n"};
  controller.gap = 801000;
  Open();
  Str255 reply("old");
  ReadDM(1, 1, reply);
  EXPECT_TRUE(reply.empty());
  ReadDM(1, 2, reply);
  EXPECT_EQ(reply, "00002");
  EXPECT_EQ(controller.lines, (std::vector<std::string>{"RD DM1", "RD DM2"}));
}

TEST_F(HostLinkTest, AControllerThatStalledNeverGivesARequestAnothersReply) {
  // Four requests wait in a stalled controller, which then answers all of
  // them in turn while later requests go out.
  for (int i = 1; i <= 9; ++i) {
    controller.replies["RD DM" + std::to_string(i)] = {"0000" + std::to_string(i) + "\r\n"};
  }
  controller.latency = 30000;
  Open();
  controller.heldUntil = fake::Now() + 2700000;
  Str255 reply;
  for (int i = 1; i <= 9; ++i) {
    ReadDM(1, static_cast<std::uint16_t>(i), reply);
    const std::string own = "0000" + std::to_string(i);
    EXPECT_TRUE(reply.empty() || reply == kStaleInputReply || reply.view() == own)
        << i << ": " << reply.str();
  }
  EXPECT_EQ(reply, "00009");
}

// A network port's last client quit without waiting for its "OK": the
// port's server hands it to us just after our first request left.
class InheritsALateReply : public ScriptedController {
 protected:
  void OnLine(const std::string& line, fake::Micros at,
              std::vector<Emission>& out) override {
    if (!inherited_) out.push_back({"OK\r\n", at + 20000});
    inherited_ = true;
    ScriptedController::OnLine(line, at, out);
  }

 private:
  bool inherited_ = false;
};

TEST_F(HostLinkTest, ALateReplyInheritedAtConnectNeverShiftsTheReplies) {
  InheritsALateReply far;
  far.latency = 400000;
  far.replies["CR"] = {"CC\r\n"};
  far.replies["RD T106"] = {"OK00600 00600\r\n"};
  for (int i = 1; i <= 6; ++i) far.replies["RD DM" + std::to_string(i)] = {"0000" + std::to_string(i) + "\r\n"};
  fake::BindSerial("COM1", &far);
  LinkOpen(1);
  Str255 reply;
  LinkConnect(1, reply);
  for (int round = 0; round < 2; ++round) {
    for (int i = 1; i <= 6; ++i) {
      ReadDM(1, static_cast<std::uint16_t>(i), reply);
      EXPECT_TRUE(LastReplyOutcome != ReplyOutcome::kAnswered || reply.view() == "0000" + std::to_string(i))
          << round << "/" << i << ": " << reply.str();
    }
    ReadTimer(1, 106, reply);
  }
  EXPECT_EQ(reply, "00600");  // in step again
}

TEST_F(HostLinkTest, AWriteThatReturnsLateKeepsItsReply) {
  // The reply is already in when WriteFile returns: it came after the
  // request left, so it is the request's own.
  controller.replies["RD DM992"] = {"00215\r\n"};
  Open();
  fake::SlowWrites("COM1", 20000);
  Str255 reply;
  ReadDM(1, 992, reply);
  EXPECT_EQ(reply, "00215");
}

TEST_F(HostLinkTest, RoundTripTakesTheWireTime) {
  controller.replies["RD DM992"] = {"00215\r\n"};
  controller.latency = 3000;
  Open();
  const fake::Micros t0 = fake::Now();
  Str255 reply;
  ReadDM(1, 992, reply);
  EXPECT_EQ(reply, "00215");
  const double expected = (9 + 7) * kCharMicros9600 + 3000;
  const double elapsed = static_cast<double>(fake::Now() - t0);
  EXPECT_GE(elapsed, expected);
  EXPECT_LE(elapsed, expected + 2000);
}

TEST_F(HostLinkTest, AbortBeforeRequestSendsNothing) {
  controller.fallback = "00001\r\n";
  Open();
  fake::Key("Esc");
  Str255 reply("old");
  ReadDM(1, 1, reply);
  EXPECT_TRUE(reply.empty());
  EXPECT_TRUE(AbortFlag);
  Drain();
  EXPECT_EQ(fake::SentText("COM1"), "");
}

TEST_F(HostLinkTest, KeysTypedWhileWaitingAreBuffered) {
  Open();  // silent: the full wait of 51 empty polls
  const fake::Micros t0 = fake::Now();
  fake::Key("R", t0 + 5000);
  fake::Key("F1", t0 + 10000);
  Str255 reply;
  ReadDM(1, 1, reply);
  EXPECT_TRUE(reply.empty());
  EXPECT_EQ(KeyBuffer, std::string_view("R\0\xBB", 3));
  EXPECT_FALSE(AbortFlag);
  EXPECT_NEAR(static_cast<double>(fake::Now() - t0),
              7 * kCharMicros9600 + 51 * 15625, 2000);
}

TEST_F(HostLinkTest, EscWhileWaitingEmptiesTheReply) {
  controller.fallback = "00001\r\n";
  controller.latency = 20000;
  Open();
  const fake::Micros t0 = fake::Now();
  fake::Key("Esc", t0 + 5000);
  Str255 reply("old");
  ReadDM(1, 1, reply);
  EXPECT_TRUE(reply.empty());
  EXPECT_TRUE(AbortFlag);
  // Esc ends the wait at once: the reply is empty anyway.
  EXPECT_LT(fake::Now() - t0, 10000);
  fake::AdvanceTo(fake::Now() + 50000);

  ResetKeyboard();
  PurgePort(1);
  controller.latency = 2000;
  ReadDM(1, 2, reply);
  EXPECT_EQ(reply, "00001");
}

TEST_F(HostLinkTest, EscWhileReplyArrivesEmptiesIt) {
  controller.fallback = std::string(40, '7') + "\r\n";
  Open();
  // The request is on the wire for about 8 ms; the reply takes about 46 ms.
  fake::Key("Esc", fake::Now() + 25000);
  Str255 reply("old");
  ReadDM(1, 1, reply);
  EXPECT_TRUE(reply.empty());
  EXPECT_TRUE(AbortFlag);
}

TEST_F(HostLinkTest, CommandIsTakenBeforeKeysArrive) {
  controller.fallback = "00001\r\n";
  Open();
  // The terminal sends the key buffer itself; the key polled before sending
  // lands in it but must not go out with this command.
  KeyBuffer = Str255("RD DM1");
  fake::Key("x");
  Str255 reply;
  Transact(1, KeyBuffer, reply);
  EXPECT_EQ(reply, "00001");
  EXPECT_EQ(KeyBuffer, "RD DM1x");
  const std::vector<std::string> expected = {"RD DM1"};
  EXPECT_EQ(controller.lines, expected);
}

TEST_F(HostLinkTest, ClosedPortGivesEmptyReplies) {
  controller.fallback = "00001\r\n";
  Open();
  ClosePort(1);
  Str255 reply("old");
  ReadDM(1, 1, reply);
  EXPECT_TRUE(reply.empty());
  Str255 none("old");
  Transact(6, "RD DM1", none);  // never opened
  EXPECT_TRUE(none.empty());
  Drain();
  EXPECT_EQ(fake::SentText("COM1"), "");
}

}  // namespace
