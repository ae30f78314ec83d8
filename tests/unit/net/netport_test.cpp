// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
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

// A server that answers the client's first bytes with `offers`, and the
// line settings, once the last of them (the stop size) is in, with their
// confirmation (parity as given), or hangs up there.
struct FakeServer final : Socket {
  FakeServer(Bytes o, std::uint8_t parity, bool hangUp, Bytes* sent)
      : offers(std::move(o)), parity(parity), hangUp(hangUp), sent(sent) {}
  NetStatus StartConnect(const std::string&, std::uint16_t) override {
    return NetStatus::kOk;
  }
  NetStatus FinishConnect(int) override { return NetStatus::kOk; }
  std::ptrdiff_t Send(const std::uint8_t* b, std::size_t n) override {
    if (sent->empty()) in = offers;
    sent->insert(sent->end(), b, b + n);
    if (!set && Has(*sent, {IAC, SB, COM, 4})) {
      set = true;
      in.insert(in.end(), {IAC, SB, COM, 101, 0, 0, 0x25, 0x80, IAC, SE, IAC,
                           SB, COM, 102, 8, IAC, SE, IAC, SB, COM, 103, parity,
                           IAC, SE, IAC, SB, COM, 104, 1, IAC, SE});
    }
    return static_cast<std::ptrdiff_t>(n);
  }
  std::ptrdiff_t Recv(std::uint8_t* b, std::size_t n) override {
    if (set && hangUp) return -1;
    n = std::min(n, in.size());
    std::copy_n(in.begin(), n, b);
    in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<std::ptrdiff_t>(n);
  }
  int Wait(int events, int) override { return events; }
  void Close() override {}
  std::intptr_t Descriptor() const override { return 3; }

  Bytes offers, in;
  std::uint8_t parity;
  bool hangUp, set = false;
  Bytes* sent;
};

TEST(NetPort, OpensOnlyOnAConfirmedLine) {
  const Bytes agree{IAC, 253, COM, IAC, 253, 0, IAC, 251, 0};
  const struct {
    Bytes offers;
    std::uint8_t parity;
    bool hangUp;
    const char* reason;
  } rows[] = {
      {agree, 3, false, ""},
      {{IAC, 254, COM}, 3, false, "refused the RFC 2217"},
      {agree, 1, false, "set the parity to 1, not 3"},
      {agree, 3, true, "closed the connection"},
  };
  for (const auto& r : rows) {
    Bytes sent;
    NetPort port({Scheme::kRfc2217, "h", 1},
                 std::make_unique<FakeServer>(r.offers, r.parity, r.hangUp,
                                              &sent));
    const bool good = *r.reason == '\0';
    EXPECT_EQ(port.Open(NetOpenLine()) == plat::ERROR_SUCCESS, good);
    EXPECT_NE(port.Reason().find(r.reason), std::string::npos) << port.Reason();
    if (!good) continue;
    // DTR and RTS on without waiting for an answer; IAC doubled going out.
    EXPECT_TRUE(Has(sent, {IAC, SB, COM, 5, 8, IAC, SE, IAC, SB, COM, 5, 11}));
    std::uint32_t written = 0;
    EXPECT_TRUE(port.Write("R\xff", 2, &written));
    EXPECT_TRUE(Has(sent, {'R', IAC, IAC}));
    port.Purge(plat::PURGE_RXCLEAR | plat::PURGE_TXCLEAR);
    EXPECT_TRUE(Has(sent, {IAC, SB, COM, 12, 3, IAC, SE}));
    port.Close();
    EXPECT_TRUE(Has(sent, {IAC, SB, COM, 5, 9, IAC, SE, IAC, SB, COM, 5, 12}));
  }
}

}  // namespace
