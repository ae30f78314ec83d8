// SPDX-License-Identifier: MIT
// The command-line options, the same on every target; only the list of
// serial ports that --help ends with is the backend's own.
#pragma once

#include <string>

namespace plat {

// What the command line asks of a run; the last of each option counts.
struct RunOptions {
  const char* Log = nullptr;      // --log FILE
  const char* Metrics = nullptr;  // --metrics FILE
  const char* Unit = nullptr;     // --unit NAME
  int Port = 0;                   // --port N, 1 to 128; 0: the prompt
  int LogInterval = 0;            // --log-interval SECONDS; 0: every cycle
  bool Headless = false;          // --headless (needs --port)
  // MQTT: the broker of --mqtt URL, taken apart, and what goes with it.
  const char* Mqtt = nullptr;
  std::string MqttHost;
  int MqttPort = 0;
  bool MqttTls = false;                     // mqtts://
  const char* MqttUser = nullptr;           // --mqtt-user NAME
  const char* MqttPasswordFile = nullptr;   // --mqtt-password-file FILE
  const char* MqttCa = nullptr;             // --mqtt-ca FILE
  int MqttInterval = 10;                    // --mqtt-interval SECONDS
  const char* MqttPrefix = "zrvmon";        // --mqtt-prefix P
  const char* HaPrefix = "homeassistant";   // --ha-prefix P
  bool HaDiscovery = true;                  // --no-ha-discovery
};

// The options of the command line (--help and --version aside); false,
// with the reason, for anything else or a bad value.
bool ParseRunOptions(int argc, char** argv, RunOptions* out, std::string* why);

// --help (or -h) prints the usage and then calls `printPorts`; --version
// prints the version. True when the process should end with *exitCode
// without running the program: after either option, or (code 2, with the
// usage on standard error) after a command line ParseRunOptions refuses,
// or --headless where the backend has no headless mode.
bool HandleOptions(int argc, char** argv, int* exitCode,
                   void (*printPorts)(), bool headlessSupported);

}  // namespace plat
