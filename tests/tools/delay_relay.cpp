// SPDX-License-Identifier: MIT
// A slow network path on loopback: a TCP relay that holds every chunk for a
// fixed time in each direction, as a VPN or a cellular router would.
//   delay_relay LISTEN_PORT TARGET_PORT DELAY_MS
// One client at a time, to 127.0.0.1:TARGET_PORT; ends on SIGTERM.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

struct Chunk {
  Clock::time_point due;
  std::string bytes;
};

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// Relays one connection until either side closes it.
void Relay(int client, int target, std::chrono::milliseconds delay) {
  int fds[2] = {client, target};
  std::deque<Chunk> queued[2];  // queued[i]: read from fds[i], for the other
  for (;;) {
    int wait = -1;
    const auto now = Clock::now();
    for (auto& q : queued) {
      while (!q.empty() && q.front().due <= now) {
        const int to = fds[&q == &queued[0] ? 1 : 0];
        if (::send(to, q.front().bytes.data(), q.front().bytes.size(), MSG_NOSIGNAL) < 0) return;
        q.pop_front();
      }
      if (!q.empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            q.front().due - now);
        const int ms = static_cast<int>(left.count()) + 1;
        wait = wait < 0 ? ms : std::min(wait, ms);
      }
    }
    pollfd p[2] = {{client, POLLIN, 0}, {target, POLLIN, 0}};
    if (::poll(p, 2, wait) < 0) return;
    for (int i = 0; i < 2; ++i) {
      if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      const ssize_t n = ::recv(fds[i], buf, sizeof buf, 0);
      if (n <= 0) return;
      queued[i].push_back({Clock::now() + delay, std::string(buf, static_cast<std::size_t>(n))});
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s LISTEN_PORT TARGET_PORT DELAY_MS\n", argv[0]);
    return 2;
  }
  const int listenPort = std::atoi(argv[1]), targetPort = std::atoi(argv[2]);
  const std::chrono::milliseconds delay(std::atoi(argv[3]));
  const int server = ::socket(AF_INET, SOCK_STREAM, 0);
  const int on = 1;
  ::setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in at = Loopback(listenPort);
  if (::bind(server, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      ::listen(server, 1) != 0) {
    std::perror("delay_relay: listen");
    return 1;
  }
  for (;;) {
    const int client = ::accept(server, nullptr, nullptr);
    if (client < 0) continue;
    const int target = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to = Loopback(targetPort);
    if (::connect(target, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
      ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      ::setsockopt(target, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      Relay(client, target, delay);
    }
    ::close(target);
    ::close(client);
  }
}
