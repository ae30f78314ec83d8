// The command-line options, the same on every target; only the list of
// serial ports that --help ends with is the backend's own.
#pragma once

namespace plat {

// --help (or -h) prints the usage and then calls `printPorts`; --version
// prints the version. True when the process should end with *exitCode
// without running the program: after either option, or (code 2) after
// anything but them and --log on the command line.
bool HandleOptions(int argc, char** argv, int* exitCode,
                   void (*printPorts)());

// The file named by a --log option ("--log FILE" or "--log=FILE") at
// argv[at]; null when there is none there.
const char* LogOption(int argc, char** argv, int at);

}  // namespace plat
