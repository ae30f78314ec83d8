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

TEST(TelnetEncode, OffersDataAndLine) {
  Bytes out;
  TelnetCodec c;
  c.Start(out);
  EXPECT_EQ(out, (Bytes{IAC, WILL, COM, IAC, WILL, 0, IAC, DO, 0, IAC, DO, 3}));
  out.clear();
  const Bytes data{1, IAC, 2};
  TelnetCodec::EncodeData(data.data(), data.size(), out);
  EXPECT_EQ(out, (Bytes{1, IAC, IAC, 2}));
  out.clear();
  TelnetCodec::EncodeLine({9600, 8, 3, 1}, out);
  EXPECT_EQ(out, Cat({{IAC, SB, COM, 1, 0, 0, 0x25, 0x80, IAC, SE},
                      {IAC, SB, COM, 2, 8, IAC, SE},
                      {IAC, SB, COM, 3, 3, IAC, SE},
                      {IAC, SB, COM, 4, 1, IAC, SE},
                      {IAC, SB, COM, 5, 1, IAC, SE},
                      {IAC, SB, COM, 5, 8, IAC, SE},
                      {IAC, SB, COM, 5, 11, IAC, SE}}));
  out.clear();
  TelnetCodec::EncodeComPort(1, 0xFF, 4, out);
  EXPECT_EQ(out, (Bytes{IAC, SB, COM, 1, 0, 0, 0, IAC, IAC, IAC, SE}));
}

TEST(NetUrl, Parses) {
  struct {
    const char* url;
    bool ok;
    plat::net::Scheme scheme;
    const char* host;
    std::uint16_t port;
  } const rows[] = {
      {"rfc2217://127.0.0.1:4001", true, plat::net::Scheme::kRfc2217,
       "127.0.0.1", 4001},
      {"SOCKET://plant-room.example:65535", true, plat::net::Scheme::kRaw,
       "plant-room.example", 65535},
      {"socket://[::1]:23", true, plat::net::Scheme::kRaw, "::1", 23},
      {"socket://::1:23", false, {}, "", 0},
      {"socket://host", false, {}, "", 0},
      {"socket://host:0", false, {}, "", 0},
      {"socket://host:65536", false, {}, "", 0},
      {"socket://host:23/x", false, {}, "", 0},
      {"socket://:23", false, {}, "", 0},
      {"socket://[]:23", false, {}, "", 0},
      {"socket://[::1:23", false, {}, "", 0},
      {"rfc2217://a b:23", false, {}, "", 0},
      {"/dev/ttyUSB0", false, {}, "", 0},
  };
  for (const auto& r : rows) {
    plat::net::NetAddress a;
    std::string why;
    EXPECT_EQ(plat::net::ParseNetUrl(r.url, &a, &why), r.ok) << r.url;
    EXPECT_EQ(why.empty(), r.ok) << r.url;
    if (!r.ok) continue;
    EXPECT_EQ(a.scheme, r.scheme) << r.url;
    EXPECT_EQ(a.host, r.host) << r.url;
    EXPECT_EQ(a.port, r.port) << r.url;
  }
  EXPECT_TRUE(plat::net::IsNetUrl("Rfc2217://x"));
  EXPECT_FALSE(plat::net::IsNetUrl("/dev/socket://x"));
}

}  // namespace
