// SPDX-License-Identifier: MIT
#include "sim/model/wire_pacer.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace zrvsim {

void WirePacer::Receive(std::string_view bytes, Micros readAt) {
  for (const char c : bytes) {
    inFree_ = std::max(readAt, inFree_) + charTime_;
    in_.push_back(Arrived{static_cast<std::uint8_t>(c), inFree_});
  }
}

std::optional<WirePacer::Arrived> WirePacer::NextArrived(Micros now) {
  if (in_.empty() || in_.front().at > now) return std::nullopt;
  const Arrived a = in_.front();
  in_.pop_front();
  return a;
}

void WirePacer::Send(std::string bytes, Micros arrival, Micros delay) {
  if (bytes.empty()) return;
  Outgoing out{arrival + std::max<Micros>(delay, 0), std::move(bytes)};
  auto pos = out_.end();
  while (pos != out_.begin()) {
    const auto prev = std::prev(pos);
    if (prev->start <= out.start || prev->next > 0) break;
    pos = prev;
  }
  out_.insert(pos, std::move(out));
}

std::optional<WirePacer::Due> WirePacer::NextDue(Micros now) {
  if (out_.empty()) return std::nullopt;
  Outgoing& out = out_.front();
  const Micros at = std::max(out.start, outFree_);
  // The pty hands a byte over the moment it is written: it is written when
  // its last bit would be in, as a receiver on a real line sees it.
  if (at + charTime_ > now) return std::nullopt;
  Due due{static_cast<std::uint8_t>(out.bytes[out.next]), at, out.next == 0, {}};
  if (due.first) due.reply = out.bytes;
  ++out.next;
  // Paced from when the byte was due, not when the caller got round to it,
  // so a late wake-up does not stretch the reply.
  outFree_ = at + charTime_;
  if (out.next >= out.bytes.size()) out_.pop_front();
  return due;
}

std::optional<Micros> WirePacer::NextEvent() const {
  std::optional<Micros> next;
  if (!in_.empty()) next = in_.front().at;
  if (!out_.empty()) {
    const Micros at = std::max(out_.front().start, outFree_) + charTime_;
    next = next ? std::min(*next, at) : at;
  }
  return next;
}

}  // namespace zrvsim
