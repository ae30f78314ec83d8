// SPDX-License-Identifier: MIT
// TCP connections for network ports, over POSIX sockets.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/shared/netport.h"

namespace plat::net {

namespace {

bool Unreachable(int err) {
  return err == ECONNREFUSED || err == ENETUNREACH || err == EHOSTUNREACH ||
         err == ETIMEDOUT || err == EADDRNOTAVAIL || err == ENETDOWN ||
         err == EHOSTDOWN;
}

class PosixSocket final : public ResolvingSocket<addrinfo> {
 public:
  ~PosixSocket() override {
    Close();
    ForgetAddresses();
  }

  NetStatus FinishConnect(int timeoutMs) override {
    if (fd_ < 0) return last_;
    pollfd p{fd_, POLLOUT, 0};
    int n = ::poll(&p, 1, timeoutMs);
    if (n < 0 && errno == EINTR) return NetStatus::kPending;
    if (n == 0) return NetStatus::kPending;
    int err = 0;
    socklen_t len = sizeof err;
    if (n < 0 || ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
      err = errno;
    }
    if (err == 0) return NetStatus::kOk;
    Close();
    last_ = Unreachable(err) ? NetStatus::kRefused : NetStatus::kFailed;
    return TryNext();
  }

  std::ptrdiff_t Send(const std::uint8_t* bytes, std::size_t n) override {
    if (fd_ < 0) return -1;
    const ssize_t sent = ::send(fd_, bytes, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) return sent;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
  }

  std::ptrdiff_t Recv(std::uint8_t* bytes, std::size_t n) override {
    if (fd_ < 0) return -1;
    const ssize_t got = ::recv(fd_, bytes, n, MSG_DONTWAIT);
    if (got > 0) {
      QuickAck();
      return got;
    }
    if (got == 0) return -1;  // the server closed the connection
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
  }

  int Wait(int events, int timeoutMs) override {
    if (fd_ < 0) return kBroken;
    pollfd p{fd_, 0, 0};
    if (events & kReadable) p.events |= POLLIN;
    if (events & kWritable) p.events |= POLLOUT;
    if (::poll(&p, 1, timeoutMs) <= 0) return 0;
    int ready = 0;
    if (p.revents & POLLIN) ready |= kReadable;
    if (p.revents & POLLOUT) ready |= kWritable;
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) ready |= kBroken;
    return ready;
  }

  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  std::intptr_t Descriptor() const override { return fd_; }

  std::uint32_t RoundTripMs() const override {
    tcp_info info{};
    socklen_t size = sizeof info;
    if (fd_ < 0 ||
        ::getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) {
      return 0;
    }
    return (info.tcpi_rtt + 4 * info.tcpi_rttvar) / 1000;  // from microseconds
  }

 private:
  NetStatus Resolve(const std::string& host, std::uint16_t port,
                    addrinfo** list) override {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    const std::string service = std::to_string(port);
    int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, list);
    if (rc == EAI_BADFLAGS || rc == EAI_NONAME) {
      // Without a configured address (a machine with loopback only),
      // AI_ADDRCONFIG finds nothing even for 127.0.0.1.
      hints.ai_flags = AI_NUMERICSERV;
      rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, list);
    }
    if (rc == 0) return NetStatus::kOk;
    return rc == EAI_NONAME || rc == EAI_FAIL ? NetStatus::kNotFound
                                              : NetStatus::kFailed;
  }

  void FreeAddresses(addrinfo* list) override { ::freeaddrinfo(list); }

  NetStatus ConnectTo(const addrinfo& a) override {
    const int fd =
        ::socket(a.ai_family, a.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                 a.ai_protocol);
    if (fd < 0) return NetStatus::kFailed;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, a.ai_addr, a.ai_addrlen) == 0) {
      fd_ = fd;
      return NetStatus::kOk;
    }
    if (errno == EINPROGRESS || errno == EINTR) {
      fd_ = fd;
      return NetStatus::kPending;
    }
    const NetStatus why =
        Unreachable(errno) ? NetStatus::kRefused : NetStatus::kFailed;
    ::close(fd);
    return why;
  }

  // A reply's bytes may come one segment each (a server that forwards
  // every byte as the line delivers it). Where the server leaves Nagle's
  // algorithm on, each segment after the first waits for the acknowledgement
  // of the one before, which a delayed ACK holds back for up to 40 ms. The
  // kernel drops back to delayed ACKs by itself, so it is asked again after
  // every read.
  void QuickAck() const {
#ifdef TCP_QUICKACK
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#endif
  }

  int fd_ = -1;
};

}  // namespace

std::unique_ptr<Socket> MakeSocket() { return std::make_unique<PosixSocket>(); }

}  // namespace plat::net
