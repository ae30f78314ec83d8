// The command-line options, the same on every target; only the list of
// serial ports that --help ends with is the backend's own.
#pragma once

namespace plat {

// --help (or -h) prints the usage and then calls `printPorts`; --version
// prints the version. True when the process should end with *exitCode
// without running the program: after either option, or (code 2) after
// anything else on the command line.
bool HandleOptions(int argc, char** argv, int* exitCode,
                   void (*printPorts)());

}  // namespace plat
