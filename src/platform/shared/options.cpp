#include "platform/shared/options.h"

#include <cstdio>
#include <string>
#include <string_view>

#ifndef ZRV_VERSION
#define ZRV_VERSION "unknown"
#endif

namespace plat {

namespace {

const char* const kTitle =
    "zrvmon - monitoring terminal for a ZRV climate-unit controller\n\n";

const char* const kUsage = "Usage: zrvmon [--log FILE] [--help | --version]\n";

const char* const kHelp =
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
    "Options:\n"
    "  --log FILE  append a CSV row per polling cycle to FILE\n"
    "              (time, readings, indicators, counters, link errors)\n"
    "  --help      this text and the serial ports\n"
    "  --version   the program's version\n";

}  // namespace

bool HandleOptions(int argc, char** argv, int* exitCode,
                   void (*printPorts)()) {
  bool help = false;
  bool version = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--version") {
      version = true;
    } else if (LogOption(argc, argv, i) != nullptr) {
      if (arg == "--log") ++i;
    } else {
      if (arg == "--log" || arg == "--log=") {
        std::fputs("zrvmon: --log needs a file name\n", stderr);
      } else {
        std::fprintf(stderr, "zrvmon: unexpected argument '%s'\n", argv[i]);
      }
      std::fputs(kUsage, stderr);
      *exitCode = 2;
      return true;
    }
  }
  if (help) {
    std::fputs(kTitle, stdout);
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    printPorts();
  } else if (version) {
    std::printf("zrvmon %s\n", ZRV_VERSION);
  } else {
    return false;
  }
  *exitCode = 0;
  std::fflush(stdout);
  return true;
}

const char* LogOption(int argc, char** argv, int at) {
  if (at < 1 || at >= argc) return nullptr;
  const std::string_view arg = argv[at];
  if (arg == "--log") {
    return at + 1 < argc && argv[at + 1][0] != '\0' ? argv[at + 1] : nullptr;
  }
  if (arg.substr(0, 6) == "--log=" && arg.size() > 6) return argv[at] + 6;
  return nullptr;
}

}  // namespace plat
