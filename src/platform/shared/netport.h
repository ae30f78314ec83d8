// SPDX-License-Identifier: MIT
// Serial ports behind a serial device server, for every backend: the URL
// that names one, the few socket calls a backend provides, and the port
// itself (the connection, the Telnet com-port session and the reconnect
// after a lost connection) on top of them.
//
// A backend keeps a NetPort for each such port it has open and forwards
// its serial calls to it: CreateFileA -> Open, SetCommState -> SetLine,
// PurgeComm -> Purge, ClearCommError -> Pending, ReadFile -> Read,
// WriteFile -> Write, CloseHandle -> Close. Its waits watch WaitHandle()
// and report what they saw with NoteWait(). No call blocks for long: Open
// and SetLine wait for the server within kOpenTimeoutMs, Write for a
// stalled socket within kWriteTimeoutMs; everything else returns at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/shared/telnet.h"

namespace plat::net {

// ---- names ------------------------------------------------------------------
enum class Scheme {
  kRaw,      // socket://HOST:PORT: bytes as they are, the server owns the line
  kRfc2217,  // rfc2217://HOST:PORT: Telnet, the client sets the line
};

struct NetAddress {
  Scheme scheme = Scheme::kRaw;
  std::string host;  // a name or an IPv4 or IPv6 address, without brackets
  std::uint16_t port = 0;
};

// Whether the text is meant as a network port: it starts with one of the
// schemes above (any case). Such a name is never a device path.
bool IsNetUrl(std::string_view text);
// "HOST:PORT", HOST a name, an IPv4 address or a bracketed IPv6 one, PORT
// 1-65535; without ":PORT" the port is `defaultPort`, or an error when it
// is 0. False, with the reason in *why when given, for anything else.
bool ParseHostPort(std::string_view text, std::uint16_t defaultPort, std::string* host,
                   std::uint16_t* port, std::string* why = nullptr);
// "socket://HOST:PORT" or "rfc2217://HOST:PORT", HOST a name, an IPv4
// address or a bracketed IPv6 one, PORT 1-65535, nothing after it. False,
// with the reason in *why when given, for anything else.
bool ParseNetUrl(std::string_view text, NetAddress* out,
                 std::string* why = nullptr);

// ---- what a backend provides -----------------------------------------------
enum class NetStatus {
  kOk,
  kPending,   // a connection is still being made
  kNotFound,  // the host name does not resolve
  kRefused,   // nobody listens there, or the host cannot be reached
  kFailed,    // any other failure
};

// Ready bits of Socket::Wait.
inline constexpr int kReadable = 1;
inline constexpr int kWritable = 2;
inline constexpr int kBroken = 4;  // hung up or failed: only in results

// One TCP connection. Every call returns at once except Wait and
// FinishConnect, which wait at most the time given. The session calls
// StartConnect only on a closed socket, and Close before connecting again.
class Socket {
 public:
  virtual ~Socket() = default;
  // Resolves the host and starts connecting, TCP_NODELAY set and the socket
  // non-blocking. kOk when connected at once, kPending while the connection
  // is being made, else why it failed (the socket then stays closed). The
  // addresses of an earlier call for the same host may be used again for a
  // while: reconnecting must not wait on the resolver each time.
  virtual NetStatus StartConnect(const std::string& host,
                                 std::uint16_t port) = 0;
  // Waits at most timeoutMs for a pending connection: kOk once made,
  // kPending while still going on, else why it failed (the socket is then
  // closed). A name with several addresses tries each in turn.
  virtual NetStatus FinishConnect(int timeoutMs) = 0;
  // Bytes taken (0 when the socket takes none just now); -1 when the
  // connection is lost.
  virtual std::ptrdiff_t Send(const std::uint8_t* bytes, std::size_t n) = 0;
  // Bytes received (0 when none are waiting); -1 when the peer closed the
  // connection or it is lost.
  virtual std::ptrdiff_t Recv(std::uint8_t* bytes, std::size_t n) = 0;
  // Waits at most timeoutMs (0: just looks) until the socket is readable
  // and/or writable as `events` asks; the ready bits, kBroken included when
  // the connection hung up or failed, 0 on time-out.
  virtual int Wait(int events, int timeoutMs) = 0;
  virtual void Close() = 0;
  // What a wait of the backend's watches (a POSIX descriptor, a Winsock
  // SOCKET) while connected or connecting; -1 when closed.
  virtual std::intptr_t Descriptor() const = 0;
  // The connection's smoothed round-trip time plus four times its
  // variation, in milliseconds, as the system's TCP keeps them; 0 when
  // closed or not known.
  virtual std::uint32_t RoundTripMs() const { return 0; }
};

// A socket that resolves its host itself and tries each address it gave
// in turn. The addresses are kept a while: reconnecting every 250 ms must
// not ask the resolver every time, since one that does not answer would
// stall each attempt for seconds. `Address` is the system's addrinfo.
template <class Address>
class ResolvingSocket : public Socket {
 public:
  NetStatus StartConnect(const std::string& host, std::uint16_t port) final {
    Close();
    const auto now = std::chrono::steady_clock::now();
    if (list_ == nullptr || host != host_ || port != port_ ||
        now - resolvedAt_ >= kKeepAddresses) {
      ForgetAddresses();
      if (const NetStatus resolved = Resolve(host, port, &list_);
          resolved != NetStatus::kOk) {
        list_ = nullptr;
        return resolved;
      }
      host_ = host;
      port_ = port;
      resolvedAt_ = now;
    }
    next_ = list_;
    last_ = NetStatus::kRefused;
    return TryNext();
  }

 protected:
  // Resolves host:port afresh into *list: kOk, else why not (kNotFound,
  // kFailed).
  virtual NetStatus Resolve(const std::string& host, std::uint16_t port,
                            Address** list) = 0;
  virtual void FreeAddresses(Address* list) = 0;
  // Starts connecting to one address: kOk when connected at once, kPending
  // while it goes on, else why it failed (nothing left open).
  virtual NetStatus ConnectTo(const Address& address) = 0;

  // Connects to the next address the name gave; kPending while that goes
  // on, else the last failure once none is left.
  NetStatus TryNext() {
    while (next_ != nullptr) {
      const Address* a = next_;
      next_ = a->ai_next;
      const NetStatus status = ConnectTo(*a);
      if (status == NetStatus::kOk || status == NetStatus::kPending) {
        return status;
      }
      last_ = status;
    }
    return last_;
  }

  // For the backend's destructor, which still has FreeAddresses.
  void ForgetAddresses() {
    if (list_ != nullptr) FreeAddresses(list_);
    list_ = nullptr;
    next_ = nullptr;
  }

  NetStatus last_ = NetStatus::kRefused;

 private:
  static constexpr std::chrono::seconds kKeepAddresses{30};
  std::string host_;
  std::uint16_t port_ = 0;
  std::chrono::steady_clock::time_point resolvedAt_{};
  Address* list_ = nullptr;
  const Address* next_ = nullptr;
};

// The backend's socket; defined in each backend.
std::unique_ptr<Socket> MakeSocket();

// ---- the port ---------------------------------------------------------------
// The line a network port is opened with, and what GetCommState reports of
// it until the program sets another: 9600 baud 8E1, DTR and RTS on, no flow
// control, as the program sets a local port.
DCB NetOpenLine();

// How long the open waits for the connection, and then for the server to
// take the com-port option and confirm the line settings.
inline constexpr int kOpenTimeoutMs = 3000;
// A lost connection is tried again at most this often.
inline constexpr int kReconnectEveryMs = 250;
// A write the socket does not take within this long is cut short.
inline constexpr int kWriteTimeoutMs = 1000;
// Line bytes held for the program at most; beyond that the socket is left
// unread, so a flood waits in the network rather than in memory.
inline constexpr std::size_t kMaxHeld = 65536;

class NetPort {
 public:
  NetPort(NetAddress where, std::unique_ptr<Socket> socket);
  ~NetPort();
  NetPort(const NetPort&) = delete;
  NetPort& operator=(const NetPort&) = delete;

  // Connects and, for RFC 2217, negotiates the com-port option and sets the
  // line to `line` (9600 8E1 as a freshly opened local port is set by the
  // program), DTR and RTS on, waiting for the server to confirm the baud
  // rate, data size, parity and stop size. ERROR_SUCCESS, or the Win32 error
  // of the failure with Reason() telling it in words; a failed port stays
  // closed.
  std::uint32_t Open(const DCB& line);
  // New line settings: for RFC 2217 sent and confirmed as at the open (a
  // lost connection takes them when it is back); raw TCP takes any. A
  // failure closes the port for good: it never runs on a line it could not
  // set.
  std::uint32_t SetLine(const DCB& line);
  // PURGE_RXCLEAR drops the line bytes held; for RFC 2217 the server is
  // asked to purge its buffers too (not waited for).
  void Purge(std::uint32_t purgeFlags);
  // Takes in what the socket holds and answers the server, reconnecting a
  // lost connection when due; the line bytes ready for Read. Never blocks.
  std::uint32_t Pending();
  // Up to n held line bytes; the count.
  std::uint32_t Read(void* buffer, std::uint32_t n);
  // Sends the bytes (IAC doubled for RFC 2217). Down a lost connection
  // they are taken and go nowhere, as down a pulled cable. False (with
  // *written 0) when the socket stalls for kWriteTimeoutMs; the connection
  // then counts as lost.
  bool Write(const void* buffer, std::uint32_t n, std::uint32_t* written);
  // DTR and RTS off (RFC 2217), then the connection closed. Idempotent.
  void Close();

  // What a wait for line bytes watches: the socket while connected (or
  // connecting again) with nothing held, since held bytes would end the
  // wait at once; -1 otherwise.
  std::intptr_t WaitHandle() const;
  // What such a wait saw on it: `readable` says bytes (or a hang-up) are
  // there, `broken` that the connection hung up, which counts as lost;
  // neither spares the next Pending its look at the socket.
  void NoteWait(bool readable, bool broken);
  // What the path adds to a reply's round trip (Socket::RoundTripMs).
  std::uint32_t PathDelayMs() const;

  bool Connected() const { return state_ == State::kUp; }
  // Why the open failed, in words for the user (without the address);
  // empty after a good open.
  const std::string& Reason() const { return reason_; }
  const NetAddress& Address() const { return where_; }

 private:
  enum class State { kClosed, kConnecting, kNegotiating, kUp };
  using Clock = std::chrono::steady_clock;

  bool Negotiate(int timeoutMs);
  void StartSession();
  void Advance();
  void Confirm(const ComPortReply& reply);
  void Lost();
  void Reconnect();
  bool Pump();
  bool Flush(int timeoutMs);
  std::uint32_t FailOpen(std::uint32_t code, std::string why);

  NetAddress where_;
  std::unique_ptr<Socket> socket_;
  TelnetCodec codec_;
  State state_ = State::kClosed;
  bool opened_ = false;  // Open succeeded: a loss reconnects
  DCB line_{};
  LineRequest asked_{};
  unsigned confirmed_ = 0;  // bit per confirmed setting, as in LineRequest
  bool lineSent_ = false;
  std::string mismatch_;  // a setting the server confirmed otherwise
  Clock::time_point nextTry_{};
  Clock::time_point connectBy_{};
  Clock::time_point negotiateBy_{};
  std::vector<std::uint8_t> held_;  // line bytes for Read
  std::size_t heldAt_ = 0;          // the next of them
  std::vector<std::uint8_t> out_;   // bytes for the socket
  std::string reason_;
};

// The network port `url` names for COM`port`, opened with NetOpenLine over
// `socket`; null, with *error for GetLastError, when it cannot be. Why is
// noted for the user at the end: the program runs on without the port,
// and its screen would hide the reason.
std::unique_ptr<NetPort> OpenNetPort(int port, const std::string& url,
                                     std::unique_ptr<Socket> socket,
                                     std::uint32_t* error);

}  // namespace plat::net
