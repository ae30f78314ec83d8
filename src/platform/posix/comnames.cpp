// COM port numbers to serial devices, and the command-line options that
// explain them.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/posix_internal.h"
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
  return HandleOptions(argc, argv, exitCode, [] {
    std::fputs(posix::kPortHelp, stdout);
    posix::PrintMapping();
  });
}

}  // namespace plat
