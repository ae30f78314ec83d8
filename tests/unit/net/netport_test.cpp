#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/shared/netport.h"

namespace {

using namespace plat::net;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t IAC = 255, SB = 250, SE = 240, COM = 44;

bool Has(const Bytes& hay, const Bytes& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) !=
         hay.end();
}

// A server that answers the client's offers, and its line settings once
// the last of them (the stop size) is in.
struct Server {
  Server(Bytes o, std::uint8_t p = 3, bool h = false)
      : offers(std::move(o)), parity(p), hangUp(h) {}
  Bytes offers;         // sent on the client's first bytes
  std::uint8_t parity;  // confirmed parity
  bool hangUp;          // closes instead of confirming
  Bytes sent, toClient;
};

class FakeSocket final : public Socket {
 public:
  explicit FakeSocket(Server* s) : s_(s) {}
  NetStatus StartConnect(const std::string&, std::uint16_t) override {
    return NetStatus::kOk;
  }
  NetStatus FinishConnect(int) override { return NetStatus::kOk; }
  std::ptrdiff_t Send(const std::uint8_t* b, std::size_t n) override {
    const bool first = s_->sent.empty();
    s_->sent.insert(s_->sent.end(), b, b + n);
    if (first) s_->toClient = s_->offers;
    if (!confirmed_ && Has(s_->sent, {IAC, SB, COM, 4})) {
      confirmed_ = true;
      s_->toClient.insert(s_->toClient.end(),
                          {IAC, SB, COM, 101, 0, 0, 0x25, 0x80, IAC, SE, IAC,
                           SB, COM, 102, 8, IAC, SE, IAC, SB, COM, 103,
                           s_->parity, IAC, SE, IAC, SB, COM, 104, 1, IAC,
                           SE});
    }
    return static_cast<std::ptrdiff_t>(n);
  }
  std::ptrdiff_t Recv(std::uint8_t* b, std::size_t n) override {
    if (confirmed_ && s_->hangUp) return -1;
    n = std::min(n, s_->toClient.size());
    std::copy_n(s_->toClient.begin(), n, b);
    s_->toClient.erase(s_->toClient.begin(), s_->toClient.begin() + n);
    return static_cast<std::ptrdiff_t>(n);
  }
  int Wait(int events, int) override { return events; }
  void Close() override {}
  std::intptr_t Descriptor() const override { return 3; }

 private:
  Server* s_;
  bool confirmed_ = false;
};

const Bytes kAgree{IAC, 253, COM, IAC, 253, 0, IAC, 251, 0};

TEST(NetPortOpen, OutcomesAndReasons) {
  struct {
    Server server;
    std::uint32_t err;
    const char* reason;
  } rows[] = {
      {{kAgree}, plat::ERROR_SUCCESS, ""},
      {{Bytes{IAC, 254, COM}}, plat::ERROR_GEN_FAILURE, "refused the RFC 2217"},
      {{kAgree, 1}, plat::ERROR_GEN_FAILURE, "set the parity to 1, not 3"},
      {{kAgree, 3, true}, plat::ERROR_GEN_FAILURE, "closed the connection"},
  };
  for (auto& r : rows) {
    NetPort port({Scheme::kRfc2217, "h", 1},
                 std::make_unique<FakeSocket>(&r.server));
    EXPECT_EQ(port.Open(NetOpenLine()), r.err) << r.reason;
    EXPECT_NE(port.Reason().find(r.reason), std::string::npos)
        << port.Reason();
    EXPECT_EQ(port.Connected(), r.err == plat::ERROR_SUCCESS);
  }
}

TEST(NetPortOpen, LineBytesPurgeAndClose) {
  Server server{kAgree};
  NetPort port({Scheme::kRfc2217, "h", 1},
               std::make_unique<FakeSocket>(&server));
  ASSERT_EQ(port.Open(NetOpenLine()), plat::ERROR_SUCCESS);
  // DTR and RTS on, sent without waiting for an answer.
  EXPECT_TRUE(Has(server.sent, {IAC, SB, COM, 5, 8, IAC, SE}));
  EXPECT_TRUE(Has(server.sent, {IAC, SB, COM, 5, 11, IAC, SE}));
  server.toClient = {'O', 'K', IAC, IAC, '\r'};
  EXPECT_EQ(port.Pending(), 4u);
  std::uint8_t got[8] = {};
  EXPECT_EQ(port.Read(got, sizeof got), 4u);
  EXPECT_EQ(got[2], IAC);
  std::uint32_t written = 0;
  EXPECT_TRUE(port.Write("R\xff", 2, &written));
  EXPECT_EQ(written, 2u);
  EXPECT_TRUE(Has(server.sent, {'R', IAC, IAC}));
  port.Purge(plat::PURGE_RXCLEAR | plat::PURGE_TXCLEAR);
  EXPECT_TRUE(Has(server.sent, {IAC, SB, COM, 12, 3, IAC, SE}));
  port.Close();
  EXPECT_TRUE(Has(server.sent, {IAC, SB, COM, 5, 9, IAC, SE, IAC, SB, COM, 5,
                                12, IAC, SE}));
}

}  // namespace
