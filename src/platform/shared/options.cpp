#include "platform/shared/options.h"

#include <cstdio>
#include <string>

#ifndef ZRV_VERSION
#define ZRV_VERSION "unknown"
#endif

namespace plat {

namespace {

const char* const kHelp =
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
    "  Esc  disconnect and end the program\n";

}  // namespace

bool HandleOptions(int argc, char** argv, int* exitCode,
                   void (*printPorts)()) {
  if (argc < 2) return false;
  const std::string arg = argv[1];
  if (argc == 2 && (arg == "--help" || arg == "-h")) {
    std::fputs(kHelp, stdout);
    printPorts();
    *exitCode = 0;
  } else if (argc == 2 && arg == "--version") {
    std::printf("zrvmon %s\n", ZRV_VERSION);
    *exitCode = 0;
  } else {
    const bool known = arg == "--help" || arg == "-h" || arg == "--version";
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
