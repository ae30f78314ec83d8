// COM port numbers to serial devices, and the command-line options that
// explain them.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/posix_internal.h"

#ifndef ZRV_VERSION
#define ZRV_VERSION "unknown"
#endif

namespace plat::posix {

namespace {

constexpr int kMaxPort = 255;

bool DeviceExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

const char* kHelp =
    "zrvmon - monitoring terminal for a ZRV climate-unit controller\n"
    "\n"
    "Usage: zrvmon [--help | --version]\n"
    "\n"
    "zrvmon connects to the unit's controller over a serial port (9600 baud,\n"
    "8 data bits, even parity, 1 stop bit) and shows temperature, humidity\n"
    "and CO2 with their set points, the status indicators and the operating\n"
    "counters, refreshed continuously.\n"
    "\n"
    "At the prompt \"Enter Comport \" type the COM port number and press "
    "Enter.\n"
    "While the monitor runs:\n"
    "  R    reset the operating counters (asks \"Reset Timers [Y/N] \")\n"
    "  T    open the interactive terminal for raw host-link commands\n"
    "       (Esc leaves it)\n"
    "  Esc  disconnect and end the program\n"
    "\n"
    "COM port numbers: the environment variable ZRVMON_COM<n> names the\n"
    "device for port n, for example ZRVMON_COM3=/dev/ttyUSB0. Without it,\n"
    "the existing devices /dev/ttyS0, /dev/ttyS1, ... (up to the first\n"
    "missing one), then /dev/ttyUSB0, ..., then /dev/ttyACM0, ... are COM1,\n"
    "COM2, ... in that order.\n";

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

}  // namespace

int ParseComName(const char* name) {
  if (name == nullptr) return 0;
  const char* p = name;
  if (std::strncmp(p, "\\\\.\\", 4) == 0) p += 4;
  if ((p[0] != 'C' && p[0] != 'c') || (p[1] != 'O' && p[1] != 'o') ||
      (p[2] != 'M' && p[2] != 'm')) {
    return 0;
  }
  p += 3;
  if (*p < '1' || *p > '9') return 0;
  int n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + (*p - '0');
    if (n > kMaxPort) return 0;
  }
  return *p == '\0' ? n : 0;
}

std::vector<std::string> ListSerialDevices(
    const std::function<bool(const std::string&)>& exists) {
  std::vector<std::string> out;
  for (const char* series : {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM"}) {
    for (int i = 0; i < kMaxPort; ++i) {
      std::string path = series + std::to_string(i);
      if (!exists(path)) break;
      out.push_back(path);
    }
  }
  return out;
}

std::vector<std::string> ListSerialDevices() {
  return ListSerialDevices(DeviceExists);
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
  if (argc < 2) return false;
  std::string arg = argv[1];
  if (argc == 2 && (arg == "--help" || arg == "-h")) {
    std::fputs(posix::kHelp, stdout);
    posix::PrintMapping();
    *exitCode = 0;
  } else if (argc == 2 && arg == "--version") {
    std::printf("zrvmon %s\n", ZRV_VERSION);
    *exitCode = 0;
  } else {
    bool known = arg == "--help" || arg == "-h" || arg == "--version";
    std::fprintf(stderr,
                 "zrvmon: unexpected argument '%s'\n"
                 "Usage: zrvmon [--help | --version]\n",
                 known ? argv[2] : argv[1]);
    *exitCode = 2;
  }
  std::fflush(stdout);
  return true;
}

}  // namespace plat
