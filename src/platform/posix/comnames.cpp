// SPDX-License-Identifier: MIT
// COM port numbers to serial devices, and the command-line options that
// explain them.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/posix_internal.h"
#include "platform/shared/netport.h"
#include "platform/shared/options.h"

namespace plat::posix {

namespace {

constexpr int kMaxPort = kMaxComPort;

bool DeviceExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

const char* kPortHelp =
    "\n"
    "COM port numbers: the environment variable ZRVMON_COM<n> names the\n"
    "device for port n, for example ZRVMON_COM3=/dev/ttyUSB0. Without it,\n"
    "the existing devices /dev/ttyS0, /dev/ttyS1, ... that have a UART\n"
    "behind them, then /dev/ttyUSB0, ..., then /dev/ttyACM0, ... are COM1,\n"
    "COM2, ... in that order; missing numbers are skipped.\n"
    "A port of a serial device server is named by its address instead:\n"
    "ZRVMON_COM7=rfc2217://HOST:PORT (Telnet, RFC 2217: the monitor sets\n"
    "the line) or ZRVMON_COM7=socket://HOST:PORT (raw TCP: the server's\n"
    "line settings). HOST is a name, an IPv4 address or [an IPv6 one].\n";

void PrintMapping() {
  std::vector<std::string> devices = ListSerialDevices();
  std::printf("\nCurrent mapping:\n");
  bool any = false;
  for (int port = 1; port <= kMaxPort; ++port) {
    std::string device = DeviceForPort(port, devices);
    if (device.empty()) continue;
    char name[32];
    std::snprintf(name, sizeof name, "ZRVMON_COM%d", port);
    const char* env = std::getenv(name);
    bool fromEnv = env != nullptr && env[0] != '\0';
    std::printf("  COM%-4d %s%s%s%s\n", port, device.c_str(),
                fromEnv ? "  (set by " : "", fromEnv ? name : "",
                fromEnv ? ")" : "");
    any = true;
  }
  if (!any) std::printf("  (no serial devices found)\n");
}

// The kernel's own word on the port's UART; false when it cannot be asked.
bool KernelKnowsUart(const std::string& device) {
  const int fd =
      ::open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct info{};
  const bool known = ::ioctl(fd, TIOCGSERIAL, &info) == 0 &&
                     info.type != PORT_UNKNOWN;
  ::close(fd);
  return known;
}

std::string LinkName(const std::string& path) {
  char target[512];
  const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
  if (n <= 0) return {};
  std::string t(target, static_cast<std::size_t>(n));
  return t.substr(t.rfind('/') + 1);
}

bool TtySHasUart(const std::string& name, const std::string& sysRoot,
                 const std::function<bool(const std::string&)>& uartKnown) {
  const std::string entry = sysRoot + "/class/tty/" + name;
  if (!DeviceExists(entry)) return uartKnown("/dev/" + name);  // no sysfs
  if (!DeviceExists(entry + "/device/driver")) return false;
  // The 8250 driver keeps placeholder ports on its platform device whether
  // or not a UART answers there; those only count when the kernel found one.
  if (LinkName(entry + "/device/subsystem") == "platform") {
    return uartKnown("/dev/" + name);
  }
  return true;
}

}  // namespace

std::vector<std::string> ListSerialDevices(
    const std::function<bool(const std::string&)>& exists,
    const std::string& sysRoot,
    const std::function<bool(const std::string&)>& uartKnown) {
  std::vector<std::string> out;
  for (const char* series : {"ttyS", "ttyUSB", "ttyACM"}) {
    const bool uart = std::strcmp(series, "ttyS") == 0;
    // Numbers may be missing anywhere (an adapter unplugged, a UART that
    // is not there): the whole range is looked at.
    for (int i = 0; i < kMaxPort; ++i) {
      const std::string name = series + std::to_string(i);
      const std::string path = "/dev/" + name;
      if (!exists(path)) continue;
      if (uart && !TtySHasUart(name, sysRoot, uartKnown)) continue;
      out.push_back(path);
    }
  }
  return out;
}

std::vector<std::string> ListSerialDevices() {
  return ListSerialDevices(DeviceExists, "/sys", KernelKnowsUart);
}

std::string DeviceForPort(int port, const std::vector<std::string>& devices) {
  if (port < 1) return {};
  std::string var = "ZRVMON_COM" + std::to_string(port);
  if (const char* env = std::getenv(var.c_str()); env && env[0] != '\0') {
    return env;
  }
  if (static_cast<std::size_t>(port) <= devices.size()) {
    return devices[static_cast<std::size_t>(port) - 1];
  }
  return {};
}

std::uint32_t ErrnoToWin32(int err) {
  switch (err) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case EBUSY:
    case EWOULDBLOCK:
      return ERROR_SHARING_VIOLATION;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EINVAL:
    case ENOTTY:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace plat::posix

namespace plat {

bool HandleCommandLine(int argc, char** argv, int* exitCode) {
  if (HandleOptions(
          argc, argv, exitCode,
          [] {
            std::fputs(posix::kPortHelp, stdout);
            posix::PrintMapping();
          },
          true)) {
    return true;
  }
  RunOptions options;
  std::string why;
  if (ParseRunOptions(argc, argv, &options, &why) && options.Headless) {
    posix::SetHeadless();
  }
  // Before any thread of the program's (the log's writer) is made, so that
  // every thread inherits the blocked signals and only the signal thread
  // takes them.
  posix::StartSignalThread();
  return false;
}

// The COM names are the ports whose device is there; a name's target is
// that device's path.
std::uint32_t QueryDosDeviceA(const char* deviceName, char* targetPath,
                              std::uint32_t max) {
  // The devices are listed only for a port that its variable does not
  // name: a listing looks at some hundred paths.
  std::vector<std::string> devices;
  bool listed = false;
  auto present = [&](int port) {
    std::string device = posix::DeviceForPort(port, {});
    if (device.empty()) {
      if (!listed) devices = posix::ListSerialDevices();
      listed = true;
      device = posix::DeviceForPort(port, devices);
    }
    // A network port is listed with its address; whether its server
    // answers shows when it is opened.
    return net::IsNetUrl(device) || posix::DeviceExists(device)
               ? device
               : std::string();
  };
  std::string out;
  if (deviceName == nullptr) {
    for (int port = 1; port <= kMaxComPort; ++port) {
      if (!present(port).empty()) out += "COM" + std::to_string(port) + '\0';
    }
  } else {
    out = present(ParseComName(deviceName));
    if (out.empty()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return 0;
    }
    out += '\0';
  }
  out += '\0';
  if (out.size() > max) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(out.begin(), out.end(), targetPath);  // both NULs included
  return static_cast<std::uint32_t>(out.size());
}

const char* SerialPortHint() { return "set ZRVMON_COM<n>=<device>"; }

}  // namespace plat
