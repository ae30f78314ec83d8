#include "link/host_link.h"

#include "console/keyboard.h"
#include "console/screen.h"
#include "console/text.h"
#include "link/serial_port.h"

namespace {

constexpr std::int32_t kReplyMax = 255;
constexpr std::uint8_t kEtx = 3;
constexpr std::uint8_t kLineFeed = 10;
// Empty polls after the request before the reply counts as missing.
constexpr int kEmptyPollLimit = 50;
// Connection attempts after the first when the controller does not answer.
constexpr int kConnectRetries = 2;

bool HasSlot(std::int32_t port) { return port >= 1 && port <= kPortSlots; }

// Whether a reply came from the controller; the others are counted already.
bool Answered(const Str255& reply) {
  return !reply.empty() && !(reply == kStaleInputReply) && !(reply == kCutReply);
}

// An answer that should be a number and is not counts as unusable.
void TallyNumber(const Str255& number) {
  bool whole = false;
  ParseNumber(number.view(), &whole);
  if (!whole) ++LinkCounts.Unusable;
}

}  // namespace

LinkTally LinkCounts;

void LinkOpen(std::int32_t port) {
  ResetKeyboard();
  // A port without a slot is refused here rather than narrowed onto one.
  if (!HasSlot(port)) return;
  OpenPort(static_cast<std::uint16_t>(port), 9600, 'E', 8, 1);
}

void LinkConnect(std::int32_t port, Str255& reply) {
  Str255 answer;
  Transact(port, "CR", answer);
  for (int retry = 0; !(answer == "CC") && retry < kConnectRetries; ++retry) {
    WaitTenths(1);
    Transact(port, "CR", answer);
  }
  reply = answer;
}

void LinkDisconnect(std::int32_t port, Str255& reply) {
  Transact(port, "CQ", reply);
}

Str255 RewriteMinusSign(const Str255& command) {
  const std::string_view text = command.view();
  const std::size_t minus = text.find('-');
  if (minus == std::string_view::npos) return command;

  // The number after the minus is taken modulo 65536 digit by digit, so any
  // run of digits gives the exact residue without overflowing.
  std::size_t i = minus + 1;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::uint32_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = (v * 10 + static_cast<std::uint32_t>(text[i] - '0')) % 65536;
  }
  if (negative) v = (65536 - v) % 65536;

  return Str255(text.substr(0, minus)) + FormatInt((65536 - v) % 65536);
}

void Transact(std::int32_t port, const Str255& command, Str255& reply) {
  // The reply may be the very text the command came in, and the key buffer
  // (a common source of commands) grows while we poll: the line to send is
  // taken before anything else happens.
  Str255 line = RewriteMinusSign(command);
  line.Append('\r');  // lost when the command already fills the text

  if (AbortRequested()) {
    reply = Str255();
    return;
  }

  // Bytes already waiting belong to no request of ours: read them away and
  // let the caller know instead of sending.
  Str255 stale;
  ++LinkCounts.Requests;
  if (ReadPortText(port, stale, kReplyMax, kEtx, kLineFeed) > 0) {
    ++LinkCounts.Unusable;
    reply = Str255(kStaleInputReply);
    return;
  }

  if (HasSlot(port) && PortHandleTable[port] >= 0) {
    std::uint32_t written = 0;
    plat::WriteFile(PortHandleTable[port], line.data(),
                    static_cast<std::uint32_t>(line.size()), &written);
  }

  Str255 received;
  PauseMs(1);
  int emptyPolls = 0;
  do {
    if (ReadPortText(port, received, kReplyMax, kEtx, kLineFeed) > 0) {
      if (received.size() >= 2) received.Delete(received.size() - 2, 2);
    } else {
      ++emptyPolls;
      PauseMs(1);
    }
  } while (received.empty() && emptyPolls <= kEmptyPollLimit);

  if (received.empty()) {
    ++LinkCounts.Unanswered;
  } else if (received == kCutReply) {
    ++LinkCounts.Unusable;
  }
  if (received.empty() || AbortRequested()) {
    reply = Str255();
  } else {
    reply = received;
  }
}

void ReadRelay(std::int32_t port, std::int32_t relay, Str255& reply) {
  Transact(port, Str255("RD ") + FormatInt(relay), reply);
}

void ReadTimer(std::int32_t port, std::int32_t timer, Str255& reply) {
  Transact(port, Str255("RD T") + FormatInt(timer), reply);
  // Keep only the part of the timer reply that holds the value the
  // counters page converts.
  const bool answered = Answered(reply);
  reply.Delete(0, 2);
  reply.Delete(5, 6);
  if (answered) TallyNumber(reply);
}

void ReadDM(std::int32_t port, std::uint16_t address, Str255& reply) {
  Transact(port, Str255("RD DM") + FormatInt(address), reply);
  if (Answered(reply)) TallyNumber(reply);
}

void WriteDM(std::int32_t port, std::uint16_t address, std::uint16_t value,
             Str255& reply) {
  Transact(port, Str255("WR DM") + FormatInt(address) + ' ' + FormatInt(value),
           reply);
}
