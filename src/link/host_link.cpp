// SPDX-License-Identifier: MIT
#include "link/host_link.h"

#include <algorithm>
#include <ctime>

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
// Empty polls in a row that end a reply's read, as in ReadPortText.
constexpr int kIdlePollLimit = 100;
// Connection attempts after the first when the controller does not answer.
constexpr int kConnectRetries = 2;

bool HasSlot(std::int32_t port) { return port >= 1 && port <= kPortSlots; }

// Milliseconds that `chars` take on the line at 9600 baud, 11 bits each
// with the parity bit, rounded down: the least the request can take.
std::uint64_t WireMs(std::uint32_t chars) {
  return std::uint64_t{chars} * 11 * 1000 / 9600;
}

// The controller cannot answer a request before it has read it. Whatever
// is read before `untilMs`, when the request has left the line, is an older
// request's late reply: it is read away whole, up to its end character, so
// that no part of it is taken for this request's reply. Only what is seen
// before that moment goes: a pause that overruns it (a loaded machine, a
// coarse timer) must not cost the request its own reply, which may be
// waiting by then. False when the line is still sending at `lastMs`, the
// request's own bound: it then has no reply to be read. A piece of a line
// followed by silence is no sending: the wait for the reply goes on.
bool DiscardUntil(std::int32_t port, std::uint64_t untilMs, std::uint64_t lastMs) {
  bool midReply = false;
  std::uint64_t lastByteMs = LineClockMs();
  for (;;) {
    const std::uint64_t now = LineClockMs();
    if (!midReply && now > untilMs) return true;
    if (midReply && now >= lastMs) return PollsSince(lastByteMs) > 1;
    // A late reply cut off mid-line is given up as a reply read is.
    if (midReply && PollsSince(lastByteMs) > kIdlePollLimit) return true;
    // A byte is judged by the clock read after it was seen waiting: on a
    // loaded machine the read may come well after the look at the clock,
    // and what came by then may be the request's own reply.
    const bool waiting = midReply || InputPending(port);
    if (waiting && !midReply && LineClockMs() > untilMs) return true;
    std::uint8_t byte = 0;
    const std::int32_t got = waiting            ? ReadPortByte(port, byte)
                             : AbortRequested() ? -1
                                                : 0;
    if (got < 0) return true;
    if (got > 0) {
      midReply = byte != kEtx && byte != kLineFeed;
      lastByteMs = LineClockMs();
      continue;
    }
    // Nothing yet: look again at the moment itself, not at every tick.
    const bool wait = !midReply && untilMs > now + 1;
    PauseMs(wait ? static_cast<std::int32_t>(untilMs - now) : 1);
  }
}

// A request went unanswered: its reply may still come, and a controller
// that answers in turn sends it before the next request's. Replies are then
// in doubt until one request has been answered alone: a controller that
// stalled with several requests in its input answers them all, one after
// another, so one late reply gone says nothing of the rest.
bool ReplyInDoubt = false;
// How long the controller has lately taken to answer, from the request's
// leaving the line to the end of the reply less its wire time; it decays by
// an eighth with every answer, so one slow reply is soon forgotten.
std::uint64_t AnswerMs = 0;

// After the reply to a request that followed an unanswered one: a second
// reply line that comes within twice the controller's answer time (plus a
// tick for the polls) means the first was the late one, and the request's
// own is among them; neither can be told apart, so the reply counts as
// missing rather than risk another register's value.
bool SecondReplyFollows(std::int32_t port, std::size_t replySize) {
  const std::uint64_t until = LineClockMs() + 2 * AnswerMs +
                              WireMs(static_cast<std::uint32_t>(replySize)) +
                              kPollTickMicros / 1000 + 1;
  Str255 second;
  while (LineClockMs() < until) {
    const std::int32_t got =
        ReadPortText(port, second, kReplyMax, kEtx, kLineFeed);
    if (got > 0) return true;
    if (got < 0) return false;
    PauseMs(1);
  }
  return false;
}

// "CC" answers the connect request alone, and never with a number. A reply
// that breaks this is no garbled line: it is someone else's late reply (a
// request given up, a client that had the network port before us), and
// the replies that follow may all be a turn behind.
bool AnothersReply(const Str255& command, const Str255& reply) {
  // The terminal sends what was typed: " cr" connects too.
  std::string_view sent = command.view();
  while (!sent.empty() && sent.front() == ' ') sent.remove_prefix(1);
  while (!sent.empty() && sent.back() == ' ') sent.remove_suffix(1);
  const bool connect = sent.size() == 2 && (sent[0] == 'C' || sent[0] == 'c') &&
                       (sent[1] == 'R' || sent[1] == 'r');
  if (!connect) return reply == "CC";
  bool number = false;
  ParseNumber(reply.view(), &number);
  return number;
}

}  // namespace

LinkTally LinkCounts;
ReplyOutcome LastReplyOutcome = ReplyOutcome::kSkipped;
LinkRun LinkRuns;
std::uint32_t LinkOpenError = 0;

void ResetHostLinkForTests() {
  ReplyInDoubt = false;
  AnswerMs = 0;
  LinkCounts = LinkTally{};
  LastReplyOutcome = ReplyOutcome::kSkipped;
  LinkRuns = LinkRun{};
  LinkOpenError = 0;
}

void LinkOpen(std::int32_t port) {
  ResetKeyboard();
  // A port without a slot is refused here rather than narrowed onto one.
  if (!HasSlot(port)) {
    LinkOpenError = plat::ERROR_FILE_NOT_FOUND;
    return;
  }
  LinkOpenError = OpenPort(static_cast<std::uint16_t>(port), 9600, 'E', 8, 1);
  // A line that could not be set (a real line refusing even parity) would
  // talk past the controller: nothing goes out on it.
  if (LinkOpenError != 0) ClosePort(port);
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

  // Only the number is replaced: "WR DM-5 100" keeps its value.
  return Str255(text.substr(0, minus)) + FormatInt((65536 - v) % 65536) +
         text.substr(i);
}

namespace {

// One exchange: the reply, and what became of the request. Nothing is
// counted here; the callers judge the reply first.
ReplyOutcome Exchange(std::int32_t port, const Str255& command, Str255& reply) {
  // The reply may be the very text the command came in, and the key buffer
  // (a common source of commands) grows while we poll: the line to send is
  // taken before anything else happens.
  Str255 line = RewriteMinusSign(command);
  // The carriage return always goes out: without it the controller would
  // join the next command onto this one.
  line.Truncate(kLongestCommand);
  line.Append('\r');

  if (AbortRequested()) {
    reply = Str255();
    return ReplyOutcome::kSkipped;
  }

  // Bytes already waiting belong to no request of ours: read them away and
  // let the caller know instead of sending.
  Str255 stale;
  if (ReadPortText(port, stale, kReplyMax, kEtx, kLineFeed) > 0) {
    ReplyInDoubt = true;  // others may follow it
    reply = Str255(kStaleInputReply);
    return ReplyOutcome::kUnusable;
  }

  std::uint64_t waitFrom = LineClockMs();
  // From the write to the end of the reply read, no request takes longer
  // than the longest reply read, whatever the line sends meanwhile.
  std::uint64_t lastMs = kNoDeadline;
  if (HasSlot(port) && PortHandleTable[port] >= 0) {
    std::uint32_t written = 0;
    // The clock is read before the write: a write that returns late (a
    // driver that sends before returning, a busy machine) must not move
    // the moment the request left the line past its reply.
    const std::uint64_t sentMs = LineClockMs();
    plat::WriteFile(PortHandleTable[port], line.data(),
                    static_cast<std::uint32_t>(line.size()), &written);
    const std::uint64_t leftMs = sentMs + WireMs(written);
    // A network path's round trip comes on top of the controller's time.
    const std::uint32_t pathMs = plat::GetCommPathDelay(PortHandleTable[port]);
    // A write that returned late has not given the reply less time.
    lastMs = std::max(leftMs, LineClockMs()) + pathMs + kLongestReadMs;
    if (!DiscardUntil(port, leftMs, lastMs)) {
      // Still sending: whatever comes now is no reply of this request's.
      ReplyInDoubt = false;
      reply = Str255(kCutReply);
      return ReplyOutcome::kUnusable;
    }
    waitFrom = std::max(leftMs, LineClockMs()) + pathMs;
  }

  Str255 received;
  PauseMs(1);
  // The wait runs from when the request has left the line, in the ticks
  // that the empty-poll count was made for; Esc ends it at once, as the
  // reply is empty then anyway.
  do {
    if (ReadPortText(port, received, kReplyMax, kEtx, kLineFeed, lastMs) > 0) {
      if (received.size() >= 2) received.Delete(received.size() - 2, 2);
    } else if (!AbortRequested()) {
      PauseMs(1);
    }
  } while (received.empty() && !AbortFlag &&
           PollsSince(waitFrom) <= kEmptyPollLimit && LineClockMs() < lastMs);

  reply = Str255();
  if (AbortRequested()) return ReplyOutcome::kSkipped;
  if (received.empty()) {
    ReplyInDoubt = true;
    return ReplyOutcome::kUnanswered;
  }
  if (AnothersReply(command, received)) {
    ReplyInDoubt = true;
    reply = received;  // shown as it came, counted as no answer
    return ReplyOutcome::kUnusable;
  }
  const std::uint64_t now = LineClockMs();
  const std::uint64_t wire =
      WireMs(static_cast<std::uint32_t>(received.size() + 2));
  const std::uint64_t took = now > waitFrom + wire ? now - waitFrom - wire : 0;
  AnswerMs = std::max(took, AnswerMs - AnswerMs / 8);
  if (ReplyInDoubt && SecondReplyFollows(port, received.size() + 2)) {
    return ReplyOutcome::kUnusable;
  }
  ReplyInDoubt = false;
  reply = received;
  return received == kCutReply ? ReplyOutcome::kUnusable
                               : ReplyOutcome::kAnswered;
}

// Counts a request's outcome, and the run of failures the link is in.
void Note(ReplyOutcome outcome) {
  LastReplyOutcome = outcome;
  if (outcome == ReplyOutcome::kSkipped) return;
  ++LinkCounts.Requests;
  if (outcome == ReplyOutcome::kAnswered) {
    LinkRuns = LinkRun{};
    return;
  }
  const bool unanswered = outcome == ReplyOutcome::kUnanswered;
  std::int32_t& run = unanswered ? LinkRuns.Unanswered : LinkRuns.Unusable;
  std::int32_t& other = unanswered ? LinkRuns.Unusable : LinkRuns.Unanswered;
  ++(unanswered ? LinkCounts.Unanswered : LinkCounts.Unusable);
  if (run == 0 && other == 0) LinkRuns.Since = std::time(nullptr);
  ++run;
  other = 0;
}

// An answer that should be a number and is not is unusable.
ReplyOutcome NumberOutcome(ReplyOutcome outcome, const Str255& number) {
  if (outcome != ReplyOutcome::kAnswered) return outcome;
  bool whole = false;
  ParseNumber(number.view(), &whole);
  return whole ? outcome : ReplyOutcome::kUnusable;
}

}  // namespace

void Transact(std::int32_t port, const Str255& command, Str255& reply) {
  Note(Exchange(port, command, reply));
}

void ReadRelay(std::int32_t port, std::int32_t relay, Str255& reply) {
  ReplyOutcome outcome = Exchange(port, Str255("RD ") + FormatInt(relay), reply);
  // A relay is on or off; anything else tells nothing of it.
  if (outcome == ReplyOutcome::kAnswered && !(reply == "0") && !(reply == "1")) {
    outcome = ReplyOutcome::kUnusable;
  }
  Note(outcome);
}

void ReadTimer(std::int32_t port, std::int32_t timer, Str255& reply) {
  const ReplyOutcome outcome =
      Exchange(port, Str255("RD T") + FormatInt(timer), reply);
  // Keep only the part of the timer reply that holds the value the
  // counters page converts.
  reply.Delete(0, 2);
  reply.Delete(5, 6);
  Note(NumberOutcome(outcome, reply));
}

void ReadDM(std::int32_t port, std::uint16_t address, Str255& reply) {
  const ReplyOutcome outcome =
      Exchange(port, Str255("RD DM") + FormatInt(address), reply);
  Note(NumberOutcome(outcome, reply));
}

void WriteDM(std::int32_t port, std::uint16_t address, std::uint16_t value,
             Str255& reply) {
  Transact(port, Str255("WR DM") + FormatInt(address) + ' ' + FormatInt(value),
           reply);
}
