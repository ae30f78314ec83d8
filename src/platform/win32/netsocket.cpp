// SPDX-License-Identifier: MIT
// TCP connections for network ports, over Winsock (ws2_32, a system DLL).
// The shared header comes first: the Windows headers' macros must not reach
// the seam's declarations.
#include "platform/shared/netport.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <string>

namespace plat::net {

namespace {

// Winsock is started once for the process and never cleaned up: sockets
// may be open until the very end.
bool WinsockReady() {
  static const bool ready = [] {
    ::WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

bool Unreachable(int err) {
  return err == WSAECONNREFUSED || err == WSAENETUNREACH ||
         err == WSAEHOSTUNREACH || err == WSAETIMEDOUT ||
         err == WSAEADDRNOTAVAIL || err == WSAENETDOWN || err == WSAEHOSTDOWN;
}

bool WouldBlock(int err) {
  return err == WSAEWOULDBLOCK || err == WSAEINPROGRESS || err == WSAEINTR;
}

::timeval Timeout(int ms) {
  ::timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  return tv;
}

class WinSocket final : public ResolvingSocket<::addrinfo> {
 public:
  ~WinSocket() override {
    Close();
    ForgetAddresses();
  }

  NetStatus FinishConnect(int timeoutMs) override {
    if (s_ == INVALID_SOCKET) return last_;
    ::fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s_, &writable);
    FD_SET(s_, &failed);
    ::timeval tv = Timeout(timeoutMs);
    const int n = ::select(0, nullptr, &writable, &failed, &tv);
    if (n == 0) return NetStatus::kPending;
    // A failed connection shows in the exception set, not the write set.
    int err = 0;
    int len = sizeof err;
    if (n < 0 || ::getsockopt(s_, SOL_SOCKET, SO_ERROR,
                              reinterpret_cast<char*>(&err), &len) != 0) {
      err = ::WSAGetLastError();
    }
    if (err == 0 && FD_ISSET(s_, &writable)) return NetStatus::kOk;
    if (err == 0) err = WSAECONNREFUSED;
    Close();
    last_ = Unreachable(err) ? NetStatus::kRefused : NetStatus::kFailed;
    return TryNext();
  }

  std::ptrdiff_t Send(const std::uint8_t* bytes, std::size_t n) override {
    if (s_ == INVALID_SOCKET) return -1;
    const int sent = ::send(s_, reinterpret_cast<const char*>(bytes),
                            static_cast<int>(n > INT_MAX ? INT_MAX : n), 0);
    if (sent != SOCKET_ERROR) return sent;
    return WouldBlock(::WSAGetLastError()) ? 0 : -1;
  }

  std::ptrdiff_t Recv(std::uint8_t* bytes, std::size_t n) override {
    if (s_ == INVALID_SOCKET) return -1;
    const int got = ::recv(s_, reinterpret_cast<char*>(bytes),
                           static_cast<int>(n > INT_MAX ? INT_MAX : n), 0);
    if (got > 0) return got;
    if (got == 0) return -1;  // the server closed the connection
    return WouldBlock(::WSAGetLastError()) ? 0 : -1;
  }

  int Wait(int events, int timeoutMs) override {
    if (s_ == INVALID_SOCKET) return kBroken;
    ::fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    if (events & kReadable) FD_SET(s_, &readable);
    if (events & kWritable) FD_SET(s_, &writable);
    FD_SET(s_, &failed);
    ::timeval tv = Timeout(timeoutMs);
    if (::select(0, &readable, &writable, &failed, &tv) <= 0) return 0;
    int ready = 0;
    if (FD_ISSET(s_, &readable)) ready |= kReadable;
    if (FD_ISSET(s_, &writable)) ready |= kWritable;
    if (FD_ISSET(s_, &failed)) ready |= kBroken;
    return ready;
  }

  void Close() override {
    if (s_ != INVALID_SOCKET) ::closesocket(s_);
    s_ = INVALID_SOCKET;
  }

  std::intptr_t Descriptor() const override {
    return s_ == INVALID_SOCKET ? -1 : static_cast<std::intptr_t>(s_);
  }

 private:
  NetStatus Resolve(const std::string& host, std::uint16_t port,
                    ::addrinfo** list) override {
    if (!WinsockReady()) return NetStatus::kFailed;
    ::addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, list);
    if (rc == 0) return NetStatus::kOk;
    return rc == WSAHOST_NOT_FOUND || rc == WSANO_DATA || rc == WSANO_RECOVERY
               ? NetStatus::kNotFound
               : NetStatus::kFailed;
  }

  void FreeAddresses(::addrinfo* list) override { ::freeaddrinfo(list); }

  NetStatus ConnectTo(const ::addrinfo& a) override {
    const SOCKET s = ::socket(a.ai_family, a.ai_socktype, a.ai_protocol);
    if (s == INVALID_SOCKET) return NetStatus::kFailed;
    u_long nonBlocking = 1;
    const BOOL noDelay = TRUE;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
      ::closesocket(s);
      return NetStatus::kFailed;
    }
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY,
                 reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    if (::connect(s, a.ai_addr, static_cast<int>(a.ai_addrlen)) == 0) {
      s_ = s;
      return NetStatus::kOk;
    }
    const int err = ::WSAGetLastError();
    if (WouldBlock(err)) {
      s_ = s;
      return NetStatus::kPending;
    }
    ::closesocket(s);
    return Unreachable(err) ? NetStatus::kRefused : NetStatus::kFailed;
  }

  SOCKET s_ = INVALID_SOCKET;
};

}  // namespace

std::unique_ptr<Socket> MakeSocket() { return std::make_unique<WinSocket>(); }

}  // namespace plat::net
