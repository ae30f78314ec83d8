// SPDX-License-Identifier: MIT
// The command-line options' help, version and usage, the same on every
// target; only the list of serial ports that --help ends with is the
// backend's own.
#pragma once

#include "platform/platform.h"

namespace plat {

// --help (or -h) prints the usage and then calls `printPorts`; --version
// prints the version. True when the process should end with *exitCode
// without running the program: after either option, or (code 2, with the
// usage on standard error) after a command line ParseRunOptions refuses,
// or --headless where the backend has no headless mode.
bool HandleOptions(int argc, char** argv, int* exitCode,
                   void (*printPorts)(), bool headlessSupported);

}  // namespace plat
