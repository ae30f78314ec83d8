// SPDX-License-Identifier: MIT
// The Telnet and RFC 2217 decoder over whatever a hostile server sends, fed
// in chunks as reads deliver them: line bytes never outnumber the bytes in,
// answers are whole three-byte negotiations and never outnumber what asked
// for them. The same bytes then reach a network port's session through a
// scripted socket, which must open or fail, and hold no more than its bound.
#include <memory>
#include <vector>

#include "fuzz/harness.h"
#include "platform/shared/netport.h"

namespace {

using namespace plat::net;

class ScriptedSocket final : public Socket {
 public:
  explicit ScriptedSocket(fuzz::Input in) : in_(in) {}
  NetStatus StartConnect(const std::string&, std::uint16_t) override {
    if (used_) return NetStatus::kRefused;
    used_ = open_ = true;
    return NetStatus::kOk;
  }
  NetStatus FinishConnect(int) override { return NetStatus::kRefused; }
  std::ptrdiff_t Send(const std::uint8_t*, std::size_t n) override {
    if (!open_) return -1;
    sent_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }
  std::ptrdiff_t Recv(std::uint8_t* bytes, std::size_t n) override {
    if (!open_ || in_.Empty()) return -1;  // the server hangs up at the end
    const std::string_view chunk = in_.Take(std::min<std::size_t>(n, in_.Byte()));
    std::copy(chunk.begin(), chunk.end(), bytes);
    return static_cast<std::ptrdiff_t>(chunk.size());
  }
  int Wait(int events, int) override { return open_ ? events : kBroken; }
  void Close() override { open_ = false; }
  std::intptr_t Descriptor() const override { return open_ ? 3 : -1; }
  std::size_t sent_ = 0;

 private:
  fuzz::Input in_;
  bool used_ = false, open_ = false;
};

void CheckCodec(fuzz::Input in) {
  TelnetCodec codec;
  std::vector<std::uint8_t> offers, data, reply;
  std::vector<ComPortReply> replies;
  codec.Start(offers);
  std::size_t fed = 0;
  while (!in.Empty()) {
    const std::string_view chunk = in.Take(in.Byte() % 64);
    codec.Decode(reinterpret_cast<const std::uint8_t*>(chunk.data()),
                 chunk.size(), data, reply, replies);
    fed += chunk.size();
    FUZZ_CHECK(data.size() <= fed);
    FUZZ_CHECK(reply.size() % 3 == 0 && reply.size() <= fed);
    FUZZ_CHECK(replies.size() * 4 <= fed);
  }
  for (std::size_t i = 0; i < reply.size(); i += 3) {
    FUZZ_CHECK(reply[i] == kIac && reply[i + 1] >= kWill &&
               reply[i + 1] <= kDont);
  }
  FUZZ_CHECK(!(codec.ComPortAccepted() && codec.ComPortRefused()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  CheckCodec(fuzz::Input{data, size});

  auto owned = std::make_unique<ScriptedSocket>(fuzz::Input{data, size});
  ScriptedSocket* socket = owned.get();
  NetPort port({Scheme::kRfc2217, "server", 2217}, std::move(owned));
  const std::uint32_t err = port.Open(NetOpenLine());
  FUZZ_CHECK((err == plat::ERROR_SUCCESS) == port.Reason().empty());
  std::uint8_t buf[300];
  for (int i = 0; i < 64 && port.Connected(); ++i) {
    const std::uint32_t held = port.Pending();
    FUZZ_CHECK(held <= kMaxHeld);
    const std::uint32_t got = port.Read(buf, sizeof buf);
    FUZZ_CHECK(held == 0 || got == std::min<std::uint32_t>(held, sizeof buf));
    std::uint32_t written = 0;
    port.Write("RD DM992\r", 9, &written);
    if (i % 8 == 0) port.Purge(plat::PURGE_RXCLEAR | plat::PURGE_TXCLEAR);
  }
  port.Close();
  // Offers, line settings and one answer per three bytes in, plus the writes.
  FUZZ_CHECK(socket->sent_ <= 256 + size + 64 * (9 + 8));
  return 0;
}
