// SPDX-License-Identifier: MIT
// The serial line's timing for the pty server. A pty delivers the host's
// bytes the moment they are written and takes ours as fast as we write
// them; a real line carries one character per char time each way. The
// pacer keeps both directions' virtual timelines so the server can act on
// each byte when the wire would have delivered it, and never sleeps itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "sim/model/model.h"

namespace zrvsim {

class WirePacer {
 public:
  explicit WirePacer(Micros charTime) : charTime_(charTime < 0 ? 0 : charTime) {}

  // Host bytes read from the pty at `readAt`. Each takes a char time to
  // cross, and a burst crosses one character after another.
  void Receive(std::string_view bytes, Micros readAt);
  struct Arrived {
    std::uint8_t byte;
    Micros at;  // when its last bit was in
  };
  // The oldest host byte that has fully arrived by `now`.
  std::optional<Arrived> NextArrived(Micros now);
  std::size_t PendingIn() const { return in_.size(); }

  // A reply to a request whose CR arrived at `arrival`, its first byte
  // `delay` later. Replies go out in start order, but one already under way
  // is finished first: the line carries one character at a time.
  void Send(std::string bytes, Micros arrival, Micros delay);
  struct Due {
    std::uint8_t byte;
    Micros at;                 // when it goes on the wire
    bool first;         // the first byte of its reply
    std::string reply;  // on the first byte: the whole reply, for the trace
  };
  // The next reply byte that has crossed the line by `now`.
  std::optional<Due> NextDue(Micros now);
  bool Sending() const { return !out_.empty(); }

  // When the next byte either way is due, or nothing when none waits.
  std::optional<Micros> NextEvent() const;

 private:
  struct Outgoing {
    Micros start;  // earliest time of the first byte
    std::string bytes;
    std::size_t next = 0;
  };

  Micros charTime_;
  std::deque<Arrived> in_;
  Micros inFree_ = 0;   // when the last host byte has crossed
  std::deque<Outgoing> out_;
  Micros outFree_ = 0;  // when the last reply byte has left
};

}  // namespace zrvsim
