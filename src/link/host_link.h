// SPDX-License-Identifier: MIT
// Host-link command client: one command line out, one reply line back.
#pragma once

#include <cstdint>
#include <string_view>

#include "console/str255.h"

inline constexpr std::string_view kStaleInputReply = "String in buffer ";
// The longest command that goes out, so that its carriage return fits.
inline constexpr std::size_t kLongestCommand = 254;
// A reply that came without its end character, as Transact hands it on.
inline constexpr std::string_view kCutReply = "auxStrIn Err";

// The link's health since the program started: requests made, replies that
// never came, and replies that came but could not be used (cut, stale, or
// no number where one was read).
struct LinkTally {
  std::int64_t Requests = 0;
  std::int64_t Unanswered = 0;
  std::int64_t Unusable = 0;
};
extern LinkTally LinkCounts;

// What became of a request: not sent (Esc), answered with a usable reply,
// no reply, or one that cannot be used (cut, stale input, two replies
// where one was due, no number where one was read, a relay neither 1 nor
// 0).
enum class ReplyOutcome { kSkipped, kAnswered, kUnanswered, kUnusable };
// The last request's, for the caller to judge the value it read.
extern ReplyOutcome LastReplyOutcome;

// The run of failed requests the link is in: how many in a row went
// unanswered or were unusable, and since when (the first of them, as
// std::time gives it). All 0 after a usable reply.
struct LinkRun {
  std::int32_t Unanswered = 0;
  std::int32_t Unusable = 0;
  std::int64_t Since = 0;
};
extern LinkRun LinkRuns;
// Why the port could not be opened (the operating system's code), or 0.
extern std::uint32_t LinkOpenError;

void LinkOpen(std::int32_t port);
void LinkConnect(std::int32_t port, Str255& reply);
void LinkDisconnect(std::int32_t port, Str255& reply);
void Transact(std::int32_t port, const Str255& command, Str255& reply);
void ReadRelay(std::int32_t port, std::int32_t relay, Str255& reply);
void ReadTimer(std::int32_t port, std::int32_t timer, Str255& reply);
void ReadDM(std::int32_t port, std::uint16_t address, Str255& reply);
void WriteDM(std::int32_t port, std::uint16_t address, std::uint16_t value,
             Str255& reply);

// Tests only: the link's counts and what it remembers of the line, as at
// program start.
void ResetHostLinkForTests();

// The minus-sign rewrite applied to every command before it is sent.
Str255 RewriteMinusSign(const Str255& command);
