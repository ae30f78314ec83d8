// SPDX-License-Identifier: MIT
#include "platform/shared/options.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/shared/netport.h"

#ifndef ZRV_VERSION
#define ZRV_VERSION "unknown"
#endif

namespace plat {

namespace {

const char* const kTitle =
    "zrvmon - monitoring terminal for a ZRV climate-unit controller\n\n";

const char* const kUsage =
    "Usage: zrvmon [--port N [--headless]] [--log FILE [--log-interval S]]\n"
    "              [--metrics FILE] [--unit NAME]\n"
    "              [--mqtt URL [--mqtt-user NAME] [--mqtt-password-file FILE]\n"
    "               [--mqtt-ca FILE] [--mqtt-interval S] [--mqtt-prefix P]\n"
    "               [--ha-prefix P] [--no-ha-discovery]\n"
    "               [--mqtt-control [--setpoint-limits LIMITS]]]\n"
    "              [--help | --version]\n";

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
    "  --port N        poll COM port N (1 to 128) without the prompt\n"
    "  --headless      run without a terminal (Linux; needs --port): nothing\n"
    "                  is drawn, SIGTERM and SIGINT end the run as Esc does,\n"
    "                  SIGHUP reopens the log and rewrites the metrics, and\n"
    "                  what happens goes to standard error\n"
    "  --log FILE      append a CSV row per polling cycle to FILE\n"
    "                  (time, readings, indicators, counters, link errors);\n"
    "                  a renamed or removed FILE is begun again, a full disk\n"
    "                  pauses it and the rows lost are counted\n"
    "  --log-interval S  at most one row every S seconds (0 to 86400,\n"
    "                  default 0: every cycle), of the latest cycle\n"
    "  --metrics FILE  keep FILE as Prometheus metrics (text format 0.0.4)\n"
    "                  for node exporter's textfile collector, written after\n"
    "                  each cycle, at most once a second; removed at the end\n"
    "  --unit NAME     the unit's name in the metrics (default COM<n>) and on\n"
    "                  MQTT (default HOST-COM<n>): letters, digits, '.', '_'\n"
    "                  and '-'\n"
    "  --mqtt URL      publish the readings to an MQTT broker, mqtt://HOST[:PORT]\n"
    "                  (1883) or mqtts://HOST[:PORT] (8883, TLS; the certificate\n"
    "                  and the host name are verified): P/UNIT/status online or\n"
    "                  offline, P/UNIT/link up or down, P/UNIT/state a JSON\n"
    "                  object, all retained; Home Assistant finds the unit\n"
    "  --mqtt-user NAME  the broker's user; the password comes from the\n"
    "                  environment variable ZRVMON_MQTT_PASSWORD or from\n"
    "  --mqtt-password-file FILE  (its first line)\n"
    "  --mqtt-ca FILE  the CA that signs the broker's certificate (default:\n"
    "                  the system's CAs)\n"
    "  --mqtt-interval S  the state at most every S seconds (1 to 3600,\n"
    "                  default 10), and at once when the link goes up or down\n"
    "  --mqtt-prefix P the topics' prefix (default zrvmon)\n"
    "  --ha-prefix P   Home Assistant's discovery prefix (default homeassistant)\n"
    "  --no-ha-discovery  publish no discovery configs for Home Assistant\n"
    "  --mqtt-control  take the three set points from P/UNIT/set/KEY (KEY\n"
    "                  temperature_setpoint, humidity_setpoint or co2_setpoint;\n"
    "                  Home Assistant gets number entities): each command is\n"
    "                  checked, written between two requests, read back and\n"
    "                  answered on P/UNIT/set/result; retained ones are refused\n"
    "  --setpoint-limits temperature=MIN:MAX,humidity=MIN:MAX,co2=MIN:MAX\n"
    "                  what a command may ask, in C, % and ppm (default\n"
    "                  temperature=5:35,humidity=20:90,co2=1000:10000)\n"
    "  --help          this text and the serial ports\n"
    "  --version       the program's version\n";

// The options that take a value: "--name VALUE" or "--name=VALUE".
constexpr const char* kValueOptions[] = {
    "--log-interval", "--log", "--port", "--metrics", "--unit", "--mqtt",
    "--mqtt-user", "--mqtt-password-file", "--mqtt-ca", "--mqtt-interval",
    "--mqtt-prefix", "--ha-prefix", "--setpoint-limits"};

// A whole decimal number from `low` to `high`, or -1.
long Whole(const char* value, long low, long high) {
  char* end = nullptr;
  const long n = std::strtol(value, &end, 10);
  if (value[0] < '0' || value[0] > '9' || *end != '\0' || n < low || n > high) {
    return -1;
  }
  return n;
}

bool ValidUnit(std::string_view unit) {
  if (unit.size() > 64) return false;
  for (const char c : unit) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

// The value of option `name` at argv[at]; null when that argument is not
// it. *taken tells how many arguments it took (1 or 2); an option without
// its value gives "" (so the caller can say what is missing).
const char* ValueAt(int argc, char** argv, int at, std::string_view name,
                    int* taken) {
  const std::string_view arg = argv[at];
  *taken = 1;
  if (arg == name) {
    *taken = 2;
    return at + 1 < argc ? argv[at + 1] : "";
  }
  if (arg.size() > name.size() && arg.substr(0, name.size()) == name &&
      arg[name.size()] == '=') {
    return argv[at] + name.size() + 1;
  }
  return nullptr;
}

// mqtt://HOST[:PORT] or mqtts://HOST[:PORT], HOST in brackets when it is
// an IPv6 address; false for anything else.
bool TakeBrokerUrl(std::string_view url, RunOptions* out) {
  const bool tls = url.substr(0, 8) == "mqtts://";
  if (!tls && url.substr(0, 7) != "mqtt://") return false;
  url.remove_prefix(tls ? 8 : 7);
  if (!url.empty() && url.back() == '/') url.remove_suffix(1);
  std::string host;
  std::uint16_t port = 0;
  if (!net::ParseHostPort(url, tls ? 8883 : 1883, &host, &port)) return false;
  out->MqttHost = host;
  out->MqttPort = port;
  out->MqttTls = tls;
  return true;
}

// A topic prefix: no wildcards, no empty level at either end.
bool ValidPrefix(std::string_view prefix) {
  return !prefix.empty() && prefix.find_first_of("+#") == std::string_view::npos &&
         prefix.front() != '/' && prefix.back() != '/';
}

// The MQTT options: false, with the reason, for a bad value; *known false
// when `option` is none of them.
bool TakeMqttOption(std::string_view option, const char* value, RunOptions* out,
                    bool* known, std::string* why) {
  *known = true;
  if (option == "--mqtt") {
    out->Mqtt = value;
    if (TakeBrokerUrl(value, out)) return true;
    *why = std::string("--mqtt takes mqtt://HOST[:PORT] or mqtts://HOST[:PORT]: '") +
           value + "'";
    return false;
  }
  if (option == "--mqtt-user") {
    out->MqttUser = value;
  } else if (option == "--mqtt-password-file") {
    out->MqttPasswordFile = value;
  } else if (option == "--mqtt-ca") {
    out->MqttCa = value;
  } else if (option == "--mqtt-interval") {
    const long n = Whole(value, 1, 3600);
    if (n < 0) {
      *why = std::string("--mqtt-interval takes seconds from 1 to 3600: '") + value + "'";
      return false;
    }
    out->MqttInterval = static_cast<int>(n);
  } else if (option == "--mqtt-prefix" || option == "--ha-prefix") {
    if (!ValidPrefix(value)) {
      *why = std::string(option) +
             " takes a topic prefix without '+', '#' or a '/' at either end: '" +
             value + "'";
      return false;
    }
    (option == "--ha-prefix" ? out->HaPrefix : out->MqttPrefix) = value;
  } else if (option == "--setpoint-limits") {
    out->SetPointLimits = value;
  } else {
    *known = false;
  }
  return true;
}

// Why the MQTT options do not go together, or empty.
std::string MqttConflict(const RunOptions& o, const char* lonely) {
  if (o.Mqtt == nullptr && lonely != nullptr) return std::string(lonely) + " needs --mqtt";
  if (o.MqttCa != nullptr && !o.MqttTls) return "--mqtt-ca needs an mqtts:// URL";
  if (o.SetPointLimits != nullptr && !o.MqttControl) {
    return "--setpoint-limits needs --mqtt-control";
  }
  if (o.MqttPasswordFile != nullptr && o.MqttUser == nullptr) {
    return "--mqtt-password-file needs --mqtt-user";
  }
  return {};
}

int Usage(const std::string& why) {
  std::fprintf(stderr, "zrvmon: %s\n", why.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

bool ParseRunOptions(int argc, char** argv, RunOptions* out,
                     std::string* why) {
  RunOptions options;
  const char* mqttOnly = nullptr;  // an MQTT option that needs --mqtt
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h" || arg == "--version") continue;
    if (arg == "--headless") {
      options.Headless = true;
      continue;
    }
    if (arg == "--no-ha-discovery") {
      options.HaDiscovery = false;
      mqttOnly = "--no-ha-discovery";
      continue;
    }
    if (arg == "--mqtt-control") {
      options.MqttControl = true;
      mqttOnly = "--mqtt-control";
      continue;
    }
    bool known = false;
    for (const char* name : kValueOptions) {
      int taken = 1;
      const char* value = ValueAt(argc, argv, i, name, &taken);
      if (value == nullptr) continue;
      known = true;
      if (value[0] == '\0') {
        *why = std::string(name) + " needs a value";
        return false;
      }
      const std::string_view option = name;
      bool mqtt = false;
      if (!TakeMqttOption(option, value, &options, &mqtt, why)) return false;
      if (mqtt) {
        if (option != "--mqtt") mqttOnly = name;
      } else if (option == "--log") {
        options.Log = value;
      } else if (option == "--log-interval") {
        const long n = Whole(value, 0, 86400);
        if (n < 0) {
          *why = std::string("--log-interval takes seconds from 0 to 86400: '") +
                 value + "'";
          return false;
        }
        options.LogInterval = static_cast<int>(n);
      } else if (option == "--metrics") {
        options.Metrics = value;
      } else if (option == "--unit") {
        if (!ValidUnit(value)) {
          *why = std::string("--unit takes letters, digits, '.', '_' and '-': '") +
                 value + "'";
          return false;
        }
        options.Unit = value;
      } else {
        const long n = Whole(value, 1, 128);
        if (n < 0) {
          *why = std::string("--port takes a number from 1 to 128: '") + value + "'";
          return false;
        }
        options.Port = static_cast<int>(n);
      }
      i += taken - 1;
      break;
    }
    if (!known) {
      *why = std::string("unexpected argument '") + argv[i] + "'";
      return false;
    }
  }
  if (options.LogInterval > 0 && options.Log == nullptr) {
    *why = "--log-interval needs --log";
    return false;
  }
  if (const std::string conflict = MqttConflict(options, mqttOnly); !conflict.empty()) {
    *why = conflict;
    return false;
  }
  if (options.Headless && options.Port == 0) {
    *why = "--headless needs --port";
    return false;
  }
  *out = options;
  return true;
}

bool HandleOptions(int argc, char** argv, int* exitCode,
                   void (*printPorts)(), bool headlessSupported) {
  bool help = false;
  bool version = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    help = help || arg == "--help" || arg == "-h";
    version = version || arg == "--version";
  }
  RunOptions options;
  std::string why;
  if (!ParseRunOptions(argc, argv, &options, &why)) {
    *exitCode = Usage(why);
    return true;
  }
  if (options.Headless && !headlessSupported) {
    *exitCode = Usage("--headless is not supported on Windows");
    return true;
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

}  // namespace plat
