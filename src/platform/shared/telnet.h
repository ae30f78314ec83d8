// SPDX-License-Identifier: MIT
// The Telnet side of an RFC 2217 port (RFC 854, 855, 856, 858, 2217) as a
// pure encoder and decoder: bytes from the server in, line bytes, the
// answers owed to the server and the server's com-port replies out. Its
// state is bounded whatever the server sends.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace plat::net {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kOptBinary = 0;
inline constexpr std::uint8_t kOptSuppressGoAhead = 3;
inline constexpr std::uint8_t kOptComPort = 44;

// Com-port commands from the client; the server answers each with the
// command plus kServerOffset.
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kSetControl = 5;
inline constexpr std::uint8_t kPurgeData = 12;
inline constexpr std::uint8_t kServerOffset = 100;

// RFC 2217 values.
inline constexpr std::uint8_t kParityNone = 1;
inline constexpr std::uint8_t kParityOdd = 2;
inline constexpr std::uint8_t kParityEven = 3;
inline constexpr std::uint8_t kParityMark = 4;
inline constexpr std::uint8_t kParitySpace = 5;
inline constexpr std::uint8_t kStopOne = 1;
inline constexpr std::uint8_t kStopTwo = 2;
inline constexpr std::uint8_t kStopOneAndHalf = 3;
inline constexpr std::uint8_t kControlNoFlow = 1;
inline constexpr std::uint8_t kControlDtrOn = 8;
inline constexpr std::uint8_t kControlDtrOff = 9;
inline constexpr std::uint8_t kControlRtsOn = 11;
inline constexpr std::uint8_t kControlRtsOff = 12;
inline constexpr std::uint8_t kPurgeBoth = 3;

// Subnegotiation bytes kept at most; a longer one is read to its end and
// dropped.
inline constexpr std::size_t kMaxSubnegotiation = 64;

// The four line settings a server confirms, in RFC 2217 terms.
struct LineRequest {
  std::uint32_t baud = 0;
  std::uint8_t dataSize = 0;
  std::uint8_t parity = 0;
  std::uint8_t stopSize = 0;
  bool operator==(const LineRequest&) const = default;
};

// A com-port subnegotiation from the server: its command (101 and up for
// answers) and value (big-endian; 0 when it had none).
struct ComPortReply {
  std::uint8_t command = 0;
  std::uint32_t value = 0;
  bool operator==(const ComPortReply&) const = default;
};

class TelnetCodec {
 public:
  // The client's opening offers: WILL COM-PORT, WILL and DO BINARY, DO
  // SUPPRESS-GO-AHEAD. Starts the negotiation afresh.
  void Start(std::vector<std::uint8_t>& out);
  // Takes bytes from the server. Line bytes (IAC IAC as one 255) go to
  // `data`, the answers the client owes to `reply`, com-port replies to
  // `replies`. Options other than those offered are refused, each once per
  // direction; an option is never answered in a way that asks for another
  // answer, so negotiation cannot loop.
  void Decode(const std::uint8_t* in, std::size_t n,
              std::vector<std::uint8_t>& data,
              std::vector<std::uint8_t>& reply,
              std::vector<ComPortReply>& replies);

  // The server agreed to (DO) or refused (DONT) the com-port option.
  bool ComPortAccepted() const { return local_[kOptComPort] == kYes; }
  bool ComPortRefused() const { return comPortRefused_; }

  // Line bytes with each IAC doubled.
  static void EncodeData(const std::uint8_t* bytes, std::size_t n,
                         std::vector<std::uint8_t>& out);
  // IAC SB COM-PORT command value IAC SE; `width` value bytes (1 or 4),
  // big-endian, IAC doubled.
  static void EncodeComPort(std::uint8_t command, std::uint32_t value,
                            int width, std::vector<std::uint8_t>& out);
  // The four line settings, then no flow control, DTR on and RTS on.
  static void EncodeLine(const LineRequest& line,
                         std::vector<std::uint8_t>& out);

 private:
  enum Side : std::uint8_t { kNo, kYes, kAsked };
  enum class In : std::uint8_t { kData, kIac, kVerb, kSub, kSubIac };

  void Verb(std::uint8_t verb, std::uint8_t option,
            std::vector<std::uint8_t>& reply);
  void EndSubnegotiation(std::vector<ComPortReply>& replies);

  In in_ = In::kData;
  std::uint8_t verb_ = 0;
  Side local_[256] = {};   // options this client performs (DO/DONT)
  Side remote_[256] = {};  // options the server performs (WILL/WONT)
  std::bitset<256> refusedLocal_, refusedRemote_;
  bool comPortRefused_ = false;
  std::uint8_t sub_[kMaxSubnegotiation] = {};
  std::size_t subLength_ = 0;
  bool subTooLong_ = false;
};

}  // namespace plat::net
