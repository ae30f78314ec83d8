// SPDX-License-Identifier: MIT
#include "platform/shared/telnet.h"

namespace plat::net {

namespace {

// What this client performs itself, and what it wants the server to.
bool WeDo(std::uint8_t option) {
  return option == kOptBinary || option == kOptSuppressGoAhead ||
         option == kOptComPort;
}
bool TheyMay(std::uint8_t option) {
  return option == kOptBinary || option == kOptSuppressGoAhead;
}

void Put(std::vector<std::uint8_t>& out, std::uint8_t verb,
         std::uint8_t option) {
  out.insert(out.end(), {kIac, verb, option});
}

}  // namespace

void TelnetCodec::Start(std::vector<std::uint8_t>& out) {
  *this = TelnetCodec();
  local_[kOptComPort] = local_[kOptBinary] = kAsked;
  remote_[kOptBinary] = remote_[kOptSuppressGoAhead] = kAsked;
  Put(out, kWill, kOptComPort);
  Put(out, kWill, kOptBinary);
  Put(out, kDo, kOptBinary);
  Put(out, kDo, kOptSuppressGoAhead);
}

// The rules of RFC 1143 cut down to what a client that never changes its
// mind needs: an answer only where the state changes, a refusal of an
// unknown option only the first time it is asked for.
void TelnetCodec::Verb(std::uint8_t verb, std::uint8_t option,
                       std::vector<std::uint8_t>& reply) {
  const bool local = verb == kDo || verb == kDont;
  const bool enable = verb == kDo || verb == kWill;
  Side& side = local ? local_[option] : remote_[option];
  const bool known = local ? WeDo(option) : TheyMay(option);
  if (enable) {
    if (!known) {
      auto& refused = local ? refusedLocal_ : refusedRemote_;
      if (!refused[option]) Put(reply, local ? kWont : kDont, option);
      refused[option] = true;
      return;
    }
    if (side == kNo) Put(reply, local ? kWill : kDo, option);
    side = kYes;
    // A server that changes its mind is taken at its last word.
    if (local && option == kOptComPort) comPortRefused_ = false;
    return;
  }
  if (side == kYes) Put(reply, local ? kWont : kDont, option);
  if (local && option == kOptComPort && side != kNo) comPortRefused_ = true;
  side = kNo;
}

void TelnetCodec::EndSubnegotiation(std::vector<ComPortReply>& replies) {
  if (subTooLong_ || subLength_ < 2 || sub_[0] != kOptComPort) return;
  ComPortReply r;
  r.command = sub_[1];
  // Values are 1 byte, or 4 for the baud rate; anything else keeps its
  // first four bytes, which no confirmation check takes for a match.
  for (std::size_t i = 2; i < subLength_ && i < 6; ++i) {
    r.value = (r.value << 8) | sub_[i];
  }
  replies.push_back(r);
}

void TelnetCodec::Decode(const std::uint8_t* in, std::size_t n,
                         std::vector<std::uint8_t>& data,
                         std::vector<std::uint8_t>& reply,
                         std::vector<ComPortReply>& replies) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = in[i];
    if (in_ == In::kSubIac && b != kIac && b != kSe) {
      // Any command but IAC SE cuts a subnegotiation short, and is read as
      // the command it is.
      in_ = In::kIac;
    }
    switch (in_) {
      case In::kData:
        if (b == kIac) {
          in_ = In::kIac;
        } else {
          data.push_back(b);
        }
        break;
      case In::kIac:
        in_ = In::kData;
        if (b == kIac) {
          data.push_back(b);
        } else if (b >= kWill && b <= kDont) {
          verb_ = b;
          in_ = In::kVerb;
        } else if (b == kSb) {
          subLength_ = 0;
          subTooLong_ = false;
          in_ = In::kSub;
        }
        // Other commands (NOP, go-ahead, break, a stray SE) mean nothing
        // on a serial line.
        break;
      case In::kVerb:
        Verb(verb_, b, reply);
        in_ = In::kData;
        break;
      case In::kSub:
      case In::kSubIac:
        if (in_ == In::kSub && b == kIac) {
          in_ = In::kSubIac;
          break;
        }
        if (in_ == In::kSubIac && b == kSe) {
          EndSubnegotiation(replies);
          in_ = In::kData;
          break;
        }
        in_ = In::kSub;
        if (subLength_ < kMaxSubnegotiation) {
          sub_[subLength_++] = b;
        } else {
          subTooLong_ = true;
        }
        break;
    }
  }
}

void TelnetCodec::EncodeData(const std::uint8_t* bytes, std::size_t n,
                             std::vector<std::uint8_t>& out) {
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(bytes[i]);
    if (bytes[i] == kIac) out.push_back(kIac);
  }
}

void TelnetCodec::EncodeComPort(std::uint8_t command, std::uint32_t value,
                                int width, std::vector<std::uint8_t>& out) {
  out.insert(out.end(), {kIac, kSb, kOptComPort, command});
  for (int shift = (width - 1) * 8; shift >= 0; shift -= 8) {
    const auto b = static_cast<std::uint8_t>(value >> shift);
    EncodeData(&b, 1, out);
  }
  out.insert(out.end(), {kIac, kSe});
}

void TelnetCodec::EncodeLine(const LineRequest& line,
                             std::vector<std::uint8_t>& out) {
  EncodeComPort(kSetBaudRate, line.baud, 4, out);
  EncodeComPort(kSetDataSize, line.dataSize, 1, out);
  EncodeComPort(kSetParity, line.parity, 1, out);
  EncodeComPort(kSetStopSize, line.stopSize, 1, out);
  EncodeComPort(kSetControl, kControlNoFlow, 1, out);
  EncodeComPort(kSetControl, kControlDtrOn, 1, out);
  EncodeComPort(kSetControl, kControlRtsOn, 1, out);
}

}  // namespace plat::net
