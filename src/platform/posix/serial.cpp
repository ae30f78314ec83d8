// SPDX-License-Identifier: MIT
// Serial ports over termios. Ports are opened non-blocking and polled, as
// the program polls them; a device that goes away (USB adapter pulled, the
// far end of a pty closed) reads as a port that answers nothing until it is
// back at its path, when it is opened again with the same settings. A
// network port (ZRVMON_COM<n> set to a socket:// or rfc2217:// address) is
// the shared NetPort, a lost connection being its unplugged device.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "platform/posix/posix_internal.h"
#include "platform/shared/line_settings.h"
#include "platform/shared/netport.h"

namespace plat::posix {

// The line settings onto the device; 0, or the errno of the failure. Only
// a pty (`pseudo`) may run without the parity it was asked for.
int ApplyDcb(int fd, const DCB& settings, bool pseudo);

namespace {

// A vanished device is looked for again at most this often.
constexpr std::int64_t kReopenEveryMs = 250;

struct Port {
  int fd = -1;  // -1 while the device is gone
  std::string path;
  bool pseudo = false;  // a pty: no line, so no parity and no modem lines
  DCB dcb{};
  bool dcbSet = false;  // the program set the line: a reopen sets it again
  COMMTIMEOUTS timeouts{};
  bool drained = false;  // the last status query found nothing waiting
  // Bytes the last status query took from the device and no read has yet:
  // one read() both asks what is waiting and fetches it, and a query while
  // some are held needs no system call at all.
  std::string ahead;
  std::int64_t nextLookMs = 0;  // while gone: when to look for it again
  std::unique_ptr<net::NetPort> net;  // a network port: all of the above unused
};

std::map<Handle, Port> g_ports;
Handle g_nextHandle = 0x20000;

Port* Find(Handle h) {
  auto it = g_ports.find(h);
  if (it == g_ports.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return &it->second;
}

int Fail(int err) {
  SetLastError(ErrnoToWin32(err));
  return 0;
}

bool DeviceGone(int err) { return err == EIO || err == ENXIO || err == ENODEV; }

// The device hung up or went away. Its descriptor goes at once: a USB
// adapter plugged back in only gets its old name once nothing holds the old
// device open.
void MarkGone(Port& p) {
  if (p.fd < 0) return;
  ::close(p.fd);
  p.fd = -1;
  p.drained = false;
  p.ahead.clear();  // the device's queue went with it
  p.nextLookMs = MonotonicMs() + kReopenEveryMs;
}

// Opened as the program asks for a port: read-write, non-blocking, and no
// sharing. Returns the descriptor, or -1 with errno set.
int OpenDevice(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  // A second program on the same port is turned away. The lock holds even
  // for root, whom TIOCEXCL does not stop.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    ::close(fd);
    errno = err == EWOULDBLOCK ? EBUSY : err;
    return -1;
  }
  if (::isatty(fd)) ::ioctl(fd, TIOCEXCL);
  return fd;
}

// A gone device is looked for from the status and read calls the program
// polls with, at most every kReopenEveryMs and by a stat() first; once its
// path is back it is opened as before and given the line settings again.
// True when the port is there.
bool Present(Port& p) {
  if (p.fd >= 0) return true;
  const std::int64_t now = MonotonicMs();
  if (now < p.nextLookMs) return false;
  p.nextLookMs = now + kReopenEveryMs;
  struct stat st {};
  if (::stat(p.path.c_str(), &st) != 0) return false;
  const int fd = OpenDevice(p.path);
  if (fd < 0) return false;
  if (p.dcbSet && ApplyDcb(fd, p.dcb, p.pseudo) != 0) {
    ::close(fd);
    return false;
  }
  p.fd = fd;
  return true;
}

struct Speed {
  std::uint32_t baud;
  speed_t code;
};
constexpr Speed kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},
    {150, B150},       {200, B200},       {300, B300},       {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

speed_t NearestSpeed(std::uint32_t baud) {
  const Speed* best = &kSpeeds[0];
  for (const Speed& s : kSpeeds) {
    auto diff = [baud](std::uint32_t b) {
      return b > baud ? b - baud : baud - b;
    };
    if (diff(s.baud) < diff(best->baud)) best = &s;
  }
  return best->code;
}

}  // namespace

bool IsSerialHandle(Handle h) { return g_ports.contains(h); }

void AddSerialWaits(std::vector<pollfd>& fds) {
  for (const auto& [handle, port] : g_ports) {
    if (port.net) {
      const std::intptr_t fd = port.net->WaitHandle();
      if (fd >= 0) fds.push_back({static_cast<int>(fd), POLLIN, 0});
    } else if (port.drained && port.fd >= 0) {
      fds.push_back({port.fd, POLLIN, 0});
    }
  }
}

bool NoteSerialWaits(const pollfd* fds, std::size_t n) {
  bool arrived = false;
  for (std::size_t i = 0; i < n; ++i) {
    const short events = fds[i].revents;
    for (auto& [handle, port] : g_ports) {
      if (port.net) {
        if (port.net->WaitHandle() != fds[i].fd) continue;
        port.net->NoteWait((events & POLLIN) != 0,
                           (events & (POLLHUP | POLLERR | POLLNVAL)) != 0);
        break;
      }
      if (port.fd != fds[i].fd) continue;
      // A device that has gone stays ready for ever: waking for it again
      // would spin. It is closed, and looked for at its path again.
      if (events & (POLLHUP | POLLERR | POLLNVAL)) MarkGone(port);
      break;
    }
    arrived = arrived || (events & POLLIN) != 0;
  }
  return arrived;
}

namespace {

// A failed open leaves no handle and the error, as a device that is not
// there does.
Handle OpenNetPort(int port, const std::string& url) {
  std::uint32_t error = ERROR_SUCCESS;
  auto netPort = net::OpenNetPort(port, url, net::MakeSocket(), &error);
  if (netPort == nullptr) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  Handle h = g_nextHandle++;
  Port& p = g_ports[h];
  p.path = url;
  p.dcb = net::NetOpenLine();
  p.dcbSet = true;
  p.net = std::move(netPort);
  SetLastError(ERROR_SUCCESS);
  return h;
}

}  // namespace

Handle OpenSerial(const char* name) {
  int port = ParseComName(name);
  std::string device =
      port == 0 ? std::string() : DeviceForPort(port, ListSerialDevices());
  if (device.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (net::IsNetUrl(device)) return OpenNetPort(port, device);
  int fd = OpenDevice(device);
  if (fd < 0) {
    Fail(errno);
    return INVALID_HANDLE_VALUE;
  }
  Handle h = g_nextHandle++;
  Port& p = g_ports[h];
  p.fd = fd;
  p.path = device;
  p.pseudo = IsPseudoTerminal(fd);
  p.dcb = FreshPortDcb();
  SetLastError(ERROR_SUCCESS);
  return h;
}

int CloseSerial(Handle h) {
  Port* p = Find(h);
  if (p == nullptr) return 0;
  if (p->net) p->net->Close();
  if (p->fd >= 0) {
    if (::isatty(p->fd)) {
      // DTR and RTS drop with the port, as on Windows; HUPCL drops them
      // too when the process ends without closing it.
      int lines = TIOCM_DTR | TIOCM_RTS;
      if (!p->pseudo) ::ioctl(p->fd, TIOCMBIC, &lines);
      ::ioctl(p->fd, TIOCNXCL);
    }
    ::close(p->fd);
  }
  g_ports.erase(h);
  return 1;
}

}  // namespace plat::posix

namespace plat {

using posix::Find;
using posix::Port;

int GetCommState(Handle h, DCB* dcb) {
  Port* p = Find(h);
  if (p == nullptr || dcb == nullptr) return 0;
  *dcb = p->dcb;
  SetLastError(ERROR_SUCCESS);
  return 1;
}

int SetCommState(Handle h, const DCB* dcb) {
  Port* p = Find(h);
  if (p == nullptr) return 0;
  if (dcb == nullptr || dcb->BaudRate == 0 || dcb->ByteSize < 5 ||
      dcb->ByteSize > 8 || dcb->Parity > 4 || dcb->StopBits > 2) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (p->net) {
    if (const std::uint32_t err = p->net->SetLine(*dcb); err != 0) {
      SetLastError(err);
      return 0;
    }
  } else if (p->fd >= 0) {  // a gone device takes them when it is back
    if (const int err = posix::ApplyDcb(p->fd, *dcb, p->pseudo); err != 0) {
      return posix::Fail(err);
    }
  }
  p->dcb = *dcb;
  p->dcbSet = true;
  SetLastError(ERROR_SUCCESS);
  return 1;
}

}  // namespace plat

namespace plat::posix {

bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  // Unix 98 pty slaves (/dev/pts/N), and the old BSD ones.
  const unsigned m = major(st.st_rdev);
  return (m >= 136 && m <= 143) || m == 3;
}

int ApplyDcb(int fd, const DCB& settings, bool pseudo) {
  const DCB* dcb = &settings;
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return errno;
  ::cfmakeraw(&t);
  speed_t speed = posix::NearestSpeed(dcb->BaudRate);
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB |
                                      CRTSCTS | HUPCL);
#ifdef CMSPAR
  t.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[dcb->ByteSize - 5] | CLOCAL | CREAD;
  if (!pseudo) t.c_cflag |= HUPCL;
  switch (dcb->Parity) {
    case ODDPARITY:
      t.c_cflag |= PARENB | PARODD;
      break;
    case EVENPARITY:
      t.c_cflag |= PARENB;
      break;
#ifdef CMSPAR
    case 3:
      t.c_cflag |= PARENB | PARODD | CMSPAR;
      break;  // mark
    case 4:
      t.c_cflag |= PARENB | CMSPAR;
      break;  // space
#endif
    default:
      break;
  }
  if (dcb->StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
  // Parity is generated but not checked, as the line settings ask.
  t.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;

  termios applied{};
  bool ok = ::tcsetattr(fd, TCSANOW, &t) == 0 && ::tcgetattr(fd, &applied) == 0;
  if (ok && (t.c_cflag & PARENB) && !(applied.c_cflag & PARENB)) {
    // A real line that cannot take the parity would talk past an 8E1
    // controller: refused, as Windows refuses such settings.
    if (!pseudo) return EINVAL;
    ok = false;
  }
  if (!ok && (t.c_cflag & PARENB) && pseudo) {
    // Pseudo-terminals on recent kernels refuse parity; a pty has no line
    // to put parity bits on, so the rest of the settings are what counts.
    t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
#ifdef CMSPAR
    t.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    ok = ::tcsetattr(fd, TCSANOW, &t) == 0;
  }
  if (!ok) return errno;

  int lines = TIOCM_DTR | TIOCM_RTS;
  ::ioctl(fd, TIOCMBIS, &lines);  // a pty has no modem lines: ignored
  return 0;
}

}  // namespace plat::posix

namespace plat {

int GetCommTimeouts(Handle h, COMMTIMEOUTS* timeouts) {
  Port* p = Find(h);
  if (p == nullptr || timeouts == nullptr) return 0;
  *timeouts = p->timeouts;
  return 1;
}

int SetCommTimeouts(Handle h, const COMMTIMEOUTS* timeouts) {
  Port* p = Find(h);
  if (p == nullptr || timeouts == nullptr) return 0;
  p->timeouts = *timeouts;
  return 1;
}

std::uint32_t GetCommPathDelay(Handle h) {
  Port* p = Find(h);
  return p != nullptr && p->net ? p->net->PathDelayMs() : 0;
}

int PurgeComm(Handle h, std::uint32_t flags) {
  Port* p = Find(h);
  if (p == nullptr) return 0;
  bool rx = (flags & PURGE_RXCLEAR) != 0, tx = (flags & PURGE_TXCLEAR) != 0;
  if (p->net) {
    p->net->Purge(flags);
  } else if ((rx || tx) && p->fd >= 0) {
    if (rx) p->ahead.clear();
    int which = rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH;
    if (::tcflush(p->fd, which) != 0) return posix::Fail(errno);
  }
  return 1;
}

namespace {

// The status query of a device: what is held, else what one non-blocking
// read() finds waiting, taken into `ahead`. 0, or -1 with errno set.
int FillAhead(Port& p) {
  if (!p.ahead.empty() || !posix::Present(p)) return 0;
  char buf[256];
  ssize_t n = ::read(p.fd, buf, sizeof buf);
  if (n > 0) p.ahead.assign(buf, static_cast<std::size_t>(n));
  if (n >= 0 || errno == EAGAIN || errno == EINTR) return 0;
  if (posix::DeviceGone(errno)) {
    posix::MarkGone(p);
    return 0;
  }
  return -1;
}

}  // namespace

int ClearCommError(Handle h, std::uint32_t* errors, COMSTAT* stat) {
  Port* p = Find(h);
  if (p == nullptr) return 0;
  if (errors != nullptr) *errors = 0;
  if (p->net) {
    if (stat != nullptr) *stat = COMSTAT{p->net->Pending(), 0};
    return 1;
  }
  if (FillAhead(*p) != 0) {
    p->drained = false;
    if (stat != nullptr) *stat = COMSTAT{0, 0};
    return posix::Fail(errno);
  }
  // A tty whose far end is gone reads as empty; the wait that follows an
  // empty query watches its descriptor and finds the hang-up.
  p->drained = p->ahead.empty() && p->fd >= 0;
  // The output queue goes unasked: writes return once the driver holds
  // them, and an idle line should cost one query per poll, not two.
  if (stat != nullptr) {
    stat->cbInQue = static_cast<std::uint32_t>(p->ahead.size());
    stat->cbOutQue = 0;
  }
  return 1;
}

int ReadFile(Handle h, void* buffer, std::uint32_t toRead,
             std::uint32_t* read) {
  if (read != nullptr) *read = 0;
  Port* p = Find(h);
  if (p == nullptr) return 0;
  if (p->net) {
    const std::uint32_t got = toRead == 0 ? 0 : p->net->Read(buffer, toRead);
    if (read != nullptr) *read = got;
    return 1;
  }
  p->drained = false;  // what is left is unknown until the next query
  const std::size_t held = std::min<std::size_t>(toRead, p->ahead.size());
  if (held > 0) {
    std::memcpy(buffer, p->ahead.data(), held);
    p->ahead.erase(0, held);
    toRead -= static_cast<std::uint32_t>(held);
    buffer = static_cast<char*>(buffer) + held;
    if (read != nullptr) *read = static_cast<std::uint32_t>(held);
  }
  if (toRead == 0 || !posix::Present(*p)) return 1;
  ssize_t n = ::read(p->fd, buffer, toRead);
  if (n < 0) {
    if (errno == EAGAIN || errno == EINTR) return 1;  // nothing waiting
    if (posix::DeviceGone(errno)) {
      posix::MarkGone(*p);
      return 1;
    }
    return held > 0 ? 1 : posix::Fail(errno);
  }
  if (n == 0 && held == 0) {
    // The queue was reported non-empty, or the call came unasked: a tty
    // whose far end is gone reads as empty, and says so to a poll.
    pollfd pfd{p->fd, POLLIN, 0};
    if (::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))) {
      posix::MarkGone(*p);
    }
  }
  if (read != nullptr) *read = static_cast<std::uint32_t>(held + static_cast<std::size_t>(n));
  return 1;
}

int WriteFile(Handle h, const void* buffer, std::uint32_t toWrite,
              std::uint32_t* written) {
  if (written != nullptr) *written = 0;
  Port* p = Find(h);
  if (p == nullptr) return 0;
  if (p->net) {
    if (p->net->Write(buffer, toWrite, written)) return 1;
    SetLastError(ERROR_GEN_FAILURE);
    return 0;
  }
  if (p->fd < 0) {  // gone: the bytes go down a pulled cable
    if (written != nullptr) *written = toWrite;
    return 1;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  std::uint32_t done = 0;
  // A stalled line gets about a second, so a dead port cannot hang a write.
  const std::int64_t deadline = posix::MonotonicMs() + 1000;
  while (done < toWrite) {
    ssize_t n = ::write(p->fd, bytes + done, toWrite - done);
    if (n > 0) {
      done += static_cast<std::uint32_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      if (written != nullptr) *written = done;
      const int err = errno;
      if (posix::DeviceGone(err)) posix::MarkGone(*p);
      return posix::Fail(err);
    }
    std::int64_t left = deadline - posix::MonotonicMs();
    if (left <= 0) break;
    pollfd pfd{p->fd, POLLOUT, 0};
    ::poll(&pfd, 1, static_cast<int>(std::min<std::int64_t>(left, 50)));
  }
  if (written != nullptr) *written = done;
  if (done < toWrite) {
    SetLastError(ERROR_GEN_FAILURE);
    return 0;
  }
  return 1;
}

}  // namespace plat
