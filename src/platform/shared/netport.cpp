// SPDX-License-Identifier: MIT
#include "platform/shared/netport.h"

#include "platform/shared/end_notes.h"
#include "platform/shared/line_settings.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace plat::net {

namespace {

constexpr std::string_view kRawPrefix = "socket://";
constexpr std::string_view kRfc2217Prefix = "rfc2217://";

// Answers the client owes but the server does not read are not kept for
// ever: past this the connection counts as broken.
constexpr std::size_t kMaxUnsent = 65536;
// DTR and RTS off at close get this long to leave.
constexpr int kCloseFlushMs = 100;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
      return false;
    }
  }
  return true;
}

bool Fail(std::string* why, const char* text) {
  if (why != nullptr) *why = text;
  return false;
}

bool HostChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '.' ||
         c == '-' || c == '_';
}

bool Ipv6Char(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' ||
         c == '.' || c == '%' || std::isalnum(static_cast<unsigned char>(c));
}

LineRequest ToRequest(const DCB& d) {
  static constexpr std::uint8_t kParity[] = {kParityNone, kParityOdd,
                                             kParityEven, kParityMark,
                                             kParitySpace};
  static constexpr std::uint8_t kStop[] = {kStopOne, kStopOneAndHalf,
                                           kStopTwo};
  LineRequest r;
  r.baud = d.BaudRate;
  r.dataSize = d.ByteSize;
  r.parity = kParity[std::min<std::uint8_t>(d.Parity, 4)];
  r.stopSize = kStop[std::min<std::uint8_t>(d.StopBits, 2)];
  return r;
}

int MsUntil(std::chrono::steady_clock::time_point t) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      t - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<std::int64_t>(left.count(), 0));
}

}  // namespace

bool IsNetUrl(std::string_view text) {
  return StartsWithNoCase(text, kRawPrefix) ||
         StartsWithNoCase(text, kRfc2217Prefix);
}

bool ParseHostPort(std::string_view text, std::uint16_t defaultPort, std::string* host,
                   std::uint16_t* port, std::string* why) {
  std::size_t portAt = 0;
  if (!text.empty() && text[0] == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos || close == 1) {
      return Fail(why, "an IPv6 address needs its closing bracket");
    }
    *host = std::string(text.substr(1, close - 1));
    if (!std::all_of(host->begin(), host->end(), Ipv6Char)) {
      return Fail(why, "not an IPv6 address in the brackets");
    }
    portAt = close + 1;
  } else {
    portAt = std::min(text.find(':'), text.size());
    if (portAt == text.size() && defaultPort == 0) {
      return Fail(why, "the address needs a port: HOST:PORT");
    }
    *host = std::string(text.substr(0, portAt));
    if (host->empty() || host->size() > 253 ||
        !std::all_of(host->begin(), host->end(), HostChar)) {
      return Fail(why,
                  "the host must be a name or an address (IPv6 in brackets)");
    }
  }
  if (portAt >= text.size() && defaultPort != 0) {
    *port = defaultPort;
    return true;
  }
  if (portAt >= text.size() || text[portAt] != ':') {
    return Fail(why, "the address needs a port: HOST:PORT");
  }
  const std::string_view digits = text.substr(portAt + 1);
  std::uint32_t value = 0;
  if (digits.empty() || digits.size() > 5 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) {
        return c >= '0' && c <= '9';
      })) {
    return Fail(why, "the port must be a number from 1 to 65535");
  }
  for (char c : digits) value = value * 10 + static_cast<std::uint32_t>(c - '0');
  if (value == 0 || value > 65535) {
    return Fail(why, "the port must be a number from 1 to 65535");
  }
  *port = static_cast<std::uint16_t>(value);
  return true;
}

bool ParseNetUrl(std::string_view text, NetAddress* out, std::string* why) {
  NetAddress a;
  if (StartsWithNoCase(text, kRawPrefix)) {
    a.scheme = Scheme::kRaw;
    text.remove_prefix(kRawPrefix.size());
  } else if (StartsWithNoCase(text, kRfc2217Prefix)) {
    a.scheme = Scheme::kRfc2217;
    text.remove_prefix(kRfc2217Prefix.size());
  } else {
    return Fail(why, "not a socket:// or rfc2217:// address");
  }
  if (!ParseHostPort(text, 0, &a.host, &a.port, why)) return false;
  if (out != nullptr) *out = std::move(a);
  return true;
}

DCB NetOpenLine() {
  DCB d = FreshPortDcb();
  d.Flags = 0x1011;  // binary, DTR and RTS on, no flow control
  d.Parity = EVENPARITY;
  return d;
}

NetPort::NetPort(NetAddress where, std::unique_ptr<Socket> socket)
    : where_(std::move(where)), socket_(std::move(socket)) {}

NetPort::~NetPort() { Close(); }

std::uint32_t NetPort::FailOpen(std::uint32_t code, std::string why) {
  socket_->Close();
  state_ = State::kClosed;
  opened_ = false;
  held_.clear();
  heldAt_ = 0;
  out_.clear();
  reason_ = std::move(why);
  return code;
}

std::uint32_t NetPort::Open(const DCB& line) {
  Close();
  reason_.clear();
  line_ = line;
  asked_ = ToRequest(line);
  const auto by = Clock::now() + std::chrono::milliseconds(kOpenTimeoutMs);
  NetStatus status = socket_->StartConnect(where_.host, where_.port);
  while (status == NetStatus::kPending && MsUntil(by) > 0) {
    status = socket_->FinishConnect(MsUntil(by));
  }
  switch (status) {
    case NetStatus::kOk:
      break;
    case NetStatus::kNotFound:
      return FailOpen(ERROR_FILE_NOT_FOUND, "the host name does not resolve");
    case NetStatus::kRefused:
      return FailOpen(ERROR_FILE_NOT_FOUND,
                      "the connection was refused or the host is unreachable");
    case NetStatus::kPending:
      return FailOpen(ERROR_GEN_FAILURE, "no connection within " +
                                             std::to_string(kOpenTimeoutMs) +
                                             " ms");
    case NetStatus::kFailed:
      return FailOpen(ERROR_GEN_FAILURE, "the connection failed");
  }
  StartSession();
  if (!Negotiate(MsUntil(by))) return FailOpen(ERROR_GEN_FAILURE, reason_);
  opened_ = true;
  return ERROR_SUCCESS;
}

void NetPort::StartSession() {
  held_.clear();
  heldAt_ = 0;
  out_.clear();
  confirmed_ = 0;
  lineSent_ = false;
  mismatch_.clear();
  if (where_.scheme == Scheme::kRaw) {
    state_ = State::kUp;
    return;
  }
  state_ = State::kNegotiating;
  negotiateBy_ = Clock::now() + std::chrono::milliseconds(kOpenTimeoutMs);
  codec_.Start(out_);
  Flush(0);
}

bool NetPort::Negotiate(int timeoutMs) {
  const auto by = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (!Pump()) {
      reason_ = "the server closed the connection while the line was set";
      return false;
    }
    if (codec_.ComPortRefused()) {
      reason_ = "the server refused the RFC 2217 com-port option";
      return false;
    }
    if (!mismatch_.empty()) {
      reason_ = mismatch_;
      return false;
    }
    if (state_ == State::kUp) return true;
    const int left = MsUntil(by);
    if (left <= 0) {
      reason_ = codec_.ComPortAccepted()
                    ? "the server did not confirm the line settings"
                    : "the server did not take the RFC 2217 com-port option";
      return false;
    }
    socket_->Wait(kReadable, left);
  }
}

void NetPort::Advance() {
  if (state_ != State::kNegotiating) return;
  if (!lineSent_ && codec_.ComPortAccepted()) {
    TelnetCodec::EncodeLine(asked_, out_);
    lineSent_ = true;
  }
  if (confirmed_ == 0xF) state_ = State::kUp;
}

void NetPort::Confirm(const ComPortReply& r) {
  if (!lineSent_) return;
  struct Setting {
    std::uint8_t command;
    std::uint32_t asked;
    const char* name;
  };
  const Setting settings[] = {
      {kSetBaudRate, asked_.baud, "baud rate"},
      {kSetDataSize, asked_.dataSize, "data size"},
      {kSetParity, asked_.parity, "parity"},
      {kSetStopSize, asked_.stopSize, "stop size"},
  };
  for (unsigned i = 0; i < 4; ++i) {
    if (r.command != settings[i].command + kServerOffset) continue;
    if (r.value == settings[i].asked) {
      confirmed_ |= 1u << i;
    } else if (mismatch_.empty()) {
      mismatch_ = std::string("the server set the ") + settings[i].name +
                  " to " + std::to_string(r.value) + ", not " +
                  std::to_string(settings[i].asked);
    }
  }
  // Line and modem state notifications, and the answers to control and
  // purge requests, tell the program nothing it asks for.
}

bool NetPort::Pump() {
  if (state_ != State::kNegotiating && state_ != State::kUp) return true;
  if (heldAt_ == held_.size()) {
    held_.clear();
    heldAt_ = 0;
  }
  std::uint8_t buf[4096];
  std::vector<ComPortReply> replies;
  while (held_.size() - heldAt_ < kMaxHeld) {
    // Decoding never makes more line bytes than it is given, so the
    // bound holds.
    const std::size_t room =
        std::min(sizeof buf, kMaxHeld - (held_.size() - heldAt_));
    const std::ptrdiff_t n = socket_->Recv(buf, room);
    if (n < 0) {
      Lost();
      return false;
    }
    if (n == 0) break;
    const auto got = static_cast<std::size_t>(n);
    if (where_.scheme == Scheme::kRaw) {
      held_.insert(held_.end(), buf, buf + got);
    } else {
      replies.clear();
      const bool settled = state_ == State::kUp;
      codec_.Decode(buf, got, held_, out_, replies);
      for (const ComPortReply& r : replies) Confirm(r);
      Advance();
      // Bytes from before the line was set are not the controller's
      // replies; dropping them also keeps a flood from filling the buffer
      // while the open waits.
      if (!settled) held_.resize(heldAt_);
    }
    if (got < room) break;
  }
  if (!Flush(0)) {
    Lost();
    return false;
  }
  return true;
}

bool NetPort::Flush(int timeoutMs) {
  if (out_.empty()) return true;
  const auto by = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t sent = 0;
  bool ok = true;
  while (sent < out_.size()) {
    const std::ptrdiff_t n = socket_->Send(out_.data() + sent,
                                           out_.size() - sent);
    if (n < 0) {
      ok = false;
      break;
    }
    sent += static_cast<std::size_t>(n);
    if (n > 0) continue;
    const int left = MsUntil(by);
    if (left <= 0) break;
    if (socket_->Wait(kWritable, std::min(left, 50)) & kBroken) {
      ok = false;
      break;
    }
  }
  out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(sent));
  return ok && out_.size() <= kMaxUnsent;
}

void NetPort::Lost() {
  socket_->Close();
  state_ = State::kClosed;
  held_.clear();
  heldAt_ = 0;
  out_.clear();
  nextTry_ = Clock::now() + std::chrono::milliseconds(kReconnectEveryMs);
}

void NetPort::Reconnect() {
  const auto now = Clock::now();
  if (state_ == State::kClosed) {
    if (!opened_ || now < nextTry_) return;
    nextTry_ = now + std::chrono::milliseconds(kReconnectEveryMs);
    connectBy_ = now + std::chrono::milliseconds(kOpenTimeoutMs);
    const NetStatus status = socket_->StartConnect(where_.host, where_.port);
    if (status == NetStatus::kOk) {
      StartSession();
    } else if (status == NetStatus::kPending) {
      state_ = State::kConnecting;
    }
    return;
  }
  if (state_ == State::kConnecting) {
    const NetStatus status = socket_->FinishConnect(0);
    if (status == NetStatus::kOk) {
      StartSession();
    } else if (status != NetStatus::kPending || now >= connectBy_) {
      Lost();
    }
    return;
  }
  // A server back but no longer taking the settings is not run on: it is
  // dropped and tried again.
  if (state_ == State::kNegotiating &&
      (codec_.ComPortRefused() || !mismatch_.empty() || now >= negotiateBy_)) {
    Lost();
  }
}

std::uint32_t NetPort::SetLine(const DCB& line) {
  const LineRequest asked = ToRequest(line);
  if (where_.scheme == Scheme::kRaw || (state_ == State::kUp && asked == asked_)) {
    line_ = line;
    asked_ = asked;
    return ERROR_SUCCESS;
  }
  line_ = line;
  asked_ = asked;
  if (state_ != State::kUp) return ERROR_SUCCESS;  // taken on reconnecting
  state_ = State::kNegotiating;
  negotiateBy_ = Clock::now() + std::chrono::milliseconds(kOpenTimeoutMs);
  confirmed_ = 0;
  lineSent_ = false;
  mismatch_.clear();
  Advance();
  if (!Negotiate(kOpenTimeoutMs)) {
    // Never run on a line that could not be set.
    FailOpen(ERROR_GEN_FAILURE, reason_);
    return ERROR_GEN_FAILURE;
  }
  return ERROR_SUCCESS;
}

void NetPort::Purge(std::uint32_t purgeFlags) {
  const bool rx = (purgeFlags & PURGE_RXCLEAR) != 0;
  const bool tx = (purgeFlags & PURGE_TXCLEAR) != 0;
  if (rx) {
    // What has reached this side by now goes, as the driver's queue would.
    Pump();
    held_.clear();
    heldAt_ = 0;
  }
  if (where_.scheme == Scheme::kRfc2217 && state_ == State::kUp && (rx || tx)) {
    TelnetCodec::EncodeComPort(kPurgeData, rx && tx ? 3u : rx ? 1u : 2u, 1,
                               out_);
    if (!Flush(kWriteTimeoutMs)) Lost();
  }
}

std::uint32_t NetPort::Pending() {
  if (state_ != State::kUp) Reconnect();
  // The socket is asked every time: a byte that came after the last wait
  // must be seen by the stale-input check before a request.
  Pump();
  if (state_ != State::kUp) Reconnect();
  return static_cast<std::uint32_t>(held_.size() - heldAt_);
}

std::uint32_t NetPort::Read(void* buffer, std::uint32_t n) {
  if (heldAt_ == held_.size()) Pump();
  const auto take = static_cast<std::uint32_t>(
      std::min<std::size_t>(n, held_.size() - heldAt_));
  std::copy_n(held_.begin() + static_cast<std::ptrdiff_t>(heldAt_), take,
              static_cast<std::uint8_t*>(buffer));
  heldAt_ += take;
  return take;
}

bool NetPort::Write(const void* buffer, std::uint32_t n,
                    std::uint32_t* written) {
  if (written != nullptr) *written = n;
  // Down a lost connection, or one whose line is not set yet, the bytes
  // go nowhere, as down a pulled cable.
  if (state_ != State::kUp) return true;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  if (where_.scheme == Scheme::kRaw) {
    out_.insert(out_.end(), bytes, bytes + n);
  } else {
    TelnetCodec::EncodeData(bytes, n, out_);
  }
  if (Flush(kWriteTimeoutMs)) return true;
  // A server that takes nothing for that long is as good as gone.
  const bool stalled = state_ == State::kUp && !out_.empty();
  Lost();
  if (stalled && written != nullptr) *written = 0;
  return !stalled;
}

void NetPort::Close() {
  if (where_.scheme == Scheme::kRfc2217 && state_ == State::kUp) {
    TelnetCodec::EncodeComPort(kSetControl, kControlDtrOff, 1, out_);
    TelnetCodec::EncodeComPort(kSetControl, kControlRtsOff, 1, out_);
    Flush(kCloseFlushMs);
  }
  socket_->Close();
  state_ = State::kClosed;
  opened_ = false;
  out_.clear();
  held_.clear();
  heldAt_ = 0;
}

std::intptr_t NetPort::WaitHandle() const {
  if (state_ == State::kClosed || heldAt_ < held_.size()) return -1;
  return socket_->Descriptor();
}

void NetPort::NoteWait(bool readable, bool broken) {
  if (broken) {
    Lost();
  } else if (readable) {
    Pump();
  }
}

std::uint32_t NetPort::PathDelayMs() const {
  return state_ == State::kUp ? socket_->RoundTripMs() : 0;
}

std::unique_ptr<NetPort> OpenNetPort(int port, const std::string& url,
                                     std::unique_ptr<Socket> socket,
                                     std::uint32_t* error) {
  auto fail = [&](std::uint32_t code, const std::string& why) {
    NoteForUser("COM" + std::to_string(port) + " (" + url + "): " + why);
    *error = code;
    return std::unique_ptr<NetPort>();
  };
  NetAddress where;
  std::string why;
  if (!ParseNetUrl(url, &where, &why)) return fail(ERROR_FILE_NOT_FOUND, why);
  auto netPort = std::make_unique<NetPort>(where, std::move(socket));
  if (const std::uint32_t err = netPort->Open(NetOpenLine());
      err != ERROR_SUCCESS) {
    return fail(err, netPort->Reason());
  }
  *error = ERROR_SUCCESS;
  return netPort;
}

}  // namespace plat::net
