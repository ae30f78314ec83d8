// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/shared/netport.h"
#include "platform/shared/telnet.h"

namespace {

using plat::net::ComPortReply;
using plat::net::TelnetCodec;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252,
                       WILL = 251, SB = 250, SE = 240, COM = 44;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct Row {
  const char* name;
  Bytes in;
  Bytes data;
  Bytes reply;
  std::vector<ComPortReply> replies;
  bool accepted = false;
  bool refused = false;
};

// From the server, after the client's offers.
const Row kRows[] = {
    {"line bytes pass", Text("AB\r\n\x01"), Text("AB\r\n\x01"), {}, {}},
    {"IAC IAC is one 255", {'x', IAC, IAC, 'y'}, {'x', IAC, 'y'}, {}, {}},
    {"offers taken: no answers",
     {IAC, DO, COM, IAC, DO, 0, IAC, WILL, 0, IAC, WILL, 3}, {}, {}, {}, true},
    {"a known option asked for is agreed to once",
     {IAC, DO, 3, IAC, DO, 3}, {}, {IAC, WILL, 3}, {}},
    {"unknown options refused once per direction",
     {IAC, DO, 24, IAC, DO, 24, IAC, WILL, 1, IAC, WILL, 1, IAC, WILL, COM},
     {}, {IAC, WONT, 24, IAC, DONT, 1, IAC, DONT, COM}, {}},
    {"com-port refused", {IAC, DONT, COM}, {}, {}, {}, false, true},
    {"com-port taken back", {IAC, DO, COM, IAC, DONT, COM, IAC, DONT, COM}, {},
     {IAC, WONT, COM}, {}, false, true},
    {"refusals of what was asked are not answered",
     {IAC, DONT, 0, IAC, WONT, 0, IAC, WONT, 3, IAC, DONT, 7}, {}, {}, {}},
    {"settings confirmed",
     {IAC, SB, COM, 101, 0, 0, 0x25, 0x80, IAC, SE, IAC, SB, COM, 102, 8, IAC,
      SE, IAC, SB, COM, 103, 3, IAC, SE, IAC, SB, COM, 104, 1, IAC, SE},
     {}, {}, {{101, 9600}, {102, 8}, {103, 3}, {104, 1}}},
    {"IAC doubled in a value, notifications reported",
     {IAC, SB, COM, 101, 0, 0, IAC, IAC, IAC, IAC, IAC, SE, IAC, SB, COM, 106,
      0x60, IAC, SE, IAC, SB, COM, 107},
     {}, {}, {{101, 0xFFFF}, {106, 0x60}}},
    {"another option's subnegotiation, an empty one: nothing",
     Cat({{IAC, SB, 24, 1, IAC, SE, IAC, SB, IAC, SE}, Text("ok")}),
     Text("ok"), {}, {}},
    {"an over-long subnegotiation is dropped whole",
     Cat({{IAC, SB, COM, 101}, Bytes(200, 'x'), {IAC, SE}, Text("OK")}),
     Text("OK"), {}, {}},
    {"a command cuts a subnegotiation short",
     {IAC, SB, COM, 101, 0, IAC, DO, 3, 'Z'}, {'Z'}, {IAC, WILL, 3}, {}},
    {"other commands and a stray SE mean nothing",
     {IAC, 241, IAC, 249, IAC, SE, IAC, 243, 'k'}, {'k'}, {}, {}},
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class TelnetRows : public ::testing::TestWithParam<Row> {};

TEST_P(TelnetRows, DecodeWholeAndByteByByte) {
  const Row& row = GetParam();
  SCOPED_TRACE(row.name);
  for (const bool split : {false, true}) {
    TelnetCodec c;
    Bytes offers, data, reply;
    std::vector<ComPortReply> replies;
    c.Start(offers);
    if (split) {
      for (std::uint8_t b : row.in) c.Decode(&b, 1, data, reply, replies);
    } else {
      c.Decode(row.in.data(), row.in.size(), data, reply, replies);
    }
    SCOPED_TRACE(split ? "byte by byte" : "whole");
    EXPECT_EQ(data, row.data);
    EXPECT_EQ(reply, row.reply);
    EXPECT_EQ(replies, row.replies);
    EXPECT_EQ(c.ComPortAccepted(), row.accepted);
    EXPECT_EQ(c.ComPortRefused(), row.refused);
  }
}

INSTANTIATE_TEST_SUITE_P(Codec, TelnetRows, ::testing::ValuesIn(kRows));

TEST(TelnetEncode, OffersAndDoubledValues) {
  Bytes out;
  TelnetCodec().Start(out);
  EXPECT_EQ(out, (Bytes{IAC, WILL, COM, IAC, WILL, 0, IAC, DO, 0, IAC, DO, 3}));
  out.clear();
  TelnetCodec::EncodeComPort(1, 0xFF, 4, out);
  EXPECT_EQ(out, (Bytes{IAC, SB, COM, 1, 0, 0, 0, IAC, IAC, IAC, SE}));
}

TEST(NetUrl, Parses) {
  plat::net::NetAddress a;
  ASSERT_TRUE(plat::net::ParseNetUrl("SOCKET://[::1]:65535", &a));
  EXPECT_EQ(a.scheme, plat::net::Scheme::kRaw);
  EXPECT_EQ(a.host, "::1");
  EXPECT_EQ(a.port, 65535);
  ASSERT_TRUE(plat::net::ParseNetUrl("rfc2217://plant-gw.example:2217", &a));
  EXPECT_EQ(a.scheme, plat::net::Scheme::kRfc2217);
  EXPECT_EQ(a.host, "plant-gw.example");
  for (const char* bad : {"socket://::1:23", "socket://host", "socket://h:0",
                          "socket://h:65536", "socket://h:23/x", "socket://:23",
                          "socket://[]:23", "socket://[::1:23",
                          "rfc2217://a b:23", "/dev/ttyUSB0"}) {
    std::string why;
    EXPECT_FALSE(plat::net::ParseNetUrl(bad, &a, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
}

}  // namespace
