// SPDX-License-Identifier: MIT
// Command line of the pty server, kept beside the model so that it can be
// checked without a pty.
#pragma once

#include <string>
#include <vector>

#include "sim/model/model.h"

namespace zrvsim {

struct ServerConfig {
  Options model;
  std::string link;          // symlink to the pty's slave, empty: none
  int baud = 9600;
  std::string trace;         // file, "-" for stderr, empty: none
  double speed = 1.0;        // simulated seconds per real second
  double deadAfter = -1.0;   // real seconds from start, -1: never
  double replugAfter = 3.0;  // real seconds a SIGUSR2 unplug lasts
  bool help = false;
  bool version = false;
};

// Parses argv[1..]; false with a message in `error` on a bad option.
bool ParseServerArgs(const std::vector<std::string>& args, ServerConfig& config,
                     std::string& error);
std::string ServerUsage();

// Microseconds per character: start, 8 data, parity and stop bit.
Micros CharTime(int baud);

}  // namespace zrvsim
