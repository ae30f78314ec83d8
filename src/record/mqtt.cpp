// SPDX-License-Identifier: MIT
#include "record/mqtt.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "monitor/state.h"
#include "record/control.h"
#include "record/metrics.h"
#include "record/mqtt_state.h"

#ifndef ZRV_VERSION
#define ZRV_VERSION "unknown"
#endif

namespace {

using namespace mqtt;
using Clock = std::chrono::steady_clock;

// A killed monitor goes offline within one and a half of these.
constexpr int kKeepAliveSeconds = 20;
// A clean end waits no longer for the broker to take `offline`.
constexpr auto kFinishWait = std::chrono::seconds(2);
// The wait before the next try doubles from the first to the last.
constexpr int kFirstRetrySeconds = 1;
constexpr int kLastRetrySeconds = 60;
// How long the client's thread waits on the broker at a time: how soon a
// state the polling thread left goes out.
constexpr int kLoopMs = 100;

// Answers kept while the broker is away, the oldest going first.
constexpr std::size_t kMostResults = 32;

// The number entities of --mqtt-control, in the order of the set points.
struct Control {
  const char* name;
  const char* deviceClass;
  const char* unit;
};
constexpr Control kControls[kSetPointKeys] = {
    {"Set temperature", "temperature", "°C"},
    {"Set humidity", "humidity", "%"},
    {"Set CO2", "carbon_dioxide", "ppm"},
};

// ---- shared with the client's thread -----------------------------------------

struct Settings {
  std::string host;
  int port = 0;
  bool tls = false;
  std::string url;  // as said to the user
  std::string user;
  std::string password;
  std::string ca;
  int interval = 10;
  std::string unit;
  std::string uid;  // the unit as Home Assistant's ids take it
  std::string topics;  // <prefix>/<unit>
  std::string haPrefix;
  bool discovery = true;
  bool control = false;  // --mqtt-control
  int comPort = 0;       // for lines to the user
};

struct Client {
  Settings settings;
  mosquitto* mosq = nullptr;
  std::thread thread;

  std::mutex lock;  // guards what follows, up to the client thread's own
  std::condition_variable wake;
  std::string state;   // the mailbox: the latest state, one slot
  std::string device;  // discovery's device, once start-up is over
  Clock::time_point stopBy;
  std::int64_t published = 0;        // states the broker took
  std::int64_t lost = 0;             // times a connection to it was lost
  std::string failure;               // why it is not reached now
  std::vector<std::string> results;  // answers the polling thread left
  int link = -1;                     // -1 not known yet, 0 down, 1 up
  bool stateFresh = false;           // not published yet
  bool urgent = false;  // goes out without waiting for the interval
  bool linkFresh = false;
  bool stop = false;
  bool done = false;
  std::array<bool, kEntityCount> shown{};

  // The client thread's own.
  std::set<int> stateMids;
  std::string told;      // the last line said
  std::string tlsError;  // what the library last said went wrong
  Clock::time_point lastState{};
  int offlineMid = -1;
  bool connected = false;
  bool announce = false;  // discovery is due
  bool offlineTaken = false;

  bool running = false;  // the polling thread's: the client thread runs
};
Client* g_client = nullptr;  // kept to the end: a hung thread may hold it

void Tell(Client& c, const std::string& line, bool failure) {
  {
    std::lock_guard<std::mutex> hold(c.lock);
    c.failure = failure ? line : "";
  }
  if (line == c.told) return;
  c.told = line;
  RecordNews(line);
}

std::string Where(const Client& c) { return "zrvmon: MQTT broker " + c.settings.url; }

void Publish(Client& c, const std::string& topic, const std::string& payload,
             int* mid = nullptr, bool retain = true) {
  mosquitto_publish(c.mosq, mid, topic.c_str(), static_cast<int>(payload.size()),
                    payload.data(), 1, retain);
}

// The sensors' availability: the monitor runs and its controller answers.
std::string Availability(const Client& c) {
  const Settings& s = c.settings;
  return ",\"availability_mode\":\"all\",\"availability\":[{\"topic\":" +
         JsonText(s.topics + "/status") + "},{\"topic\":" + JsonText(s.topics + "/link") +
         ",\"payload_available\":\"up\",\"payload_not_available\":\"down\"}]";
}

// A set point as Home Assistant's number entity, its range the limits'.
std::string NumberDiscovery(const Client& c, SetPointKey key, const std::string& device) {
  const Settings& s = c.settings;
  const SetPointKind& kind = kSetPointKinds[key];
  const Control& control = kControls[key];
  return "{\"name\":" + JsonText(control.name) + ",\"unique_id\":\"zrvmon_" + s.uid + "_" +
         kind.key + "_set\",\"command_topic\":" + JsonText(s.topics + "/set/" + kind.key) +
         ",\"retain\":false,\"state_topic\":" + JsonText(s.topics + "/state") +
         ",\"value_template\":\"{{ value_json." + kind.key + " }}\",\"min\":" +
         SetPointText(key, SetPointLimits[key].low) +
         ",\"max\":" + SetPointText(key, SetPointLimits[key].high) +
         ",\"step\":" + SetPointText(key, 1) + ",\"mode\":\"box\",\"device_class\":\"" +
         control.deviceClass + "\",\"unit_of_measurement\":" + JsonText(control.unit) +
         Availability(c) + ",\"device\":" + device + "}";
}

// Now in UTC, RFC 3339 with milliseconds; safe on any thread.
std::string UtcNow() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));
  return text;
}

// The answer to a command; `requested` and `written` are JSON already.
std::string ResultJson(SetPointKey key, const std::string& requested,
                       const std::string& written, const std::string& reason) {
  return "{\"key\":\"" + std::string(kSetPointKinds[key].key) + "\",\"requested\":" +
         requested + ",\"written\":" + (written.empty() ? "null" : written) +
         ",\"ok\":" + (reason.empty() ? "true" : "false") +
         ",\"reason\":" + (reason.empty() ? "null" : JsonText(reason)) +
         ",\"time\":" + JsonText(UtcNow()) + "}";
}

// A command answered without the polling thread: it goes nowhere.
void Refuse(Client& c, SetPointKey key, const std::string& requested,
            const std::string& shown, const std::string& reason) {
  CountSetPoint(key, kWriteRefused);
  Publish(c, c.settings.topics + "/set/result", ResultJson(key, requested, "", reason),
          nullptr, false);
  RecordNews(SetPointNews(c.settings.comPort, key, shown + " refused", reason));
}

// A payload as it may be shown: printable, and short.
std::string Printable(std::string_view payload) {
  std::string out;
  for (const char ch : payload.substr(0, 32)) {
    out += static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) > 0x7e ? '?' : ch;
  }
  return "'" + out + (payload.size() > 32 ? "...'" : "'");
}

// A command came: refused at once when it cannot be written, else the
// latest for its set point (one waiting before it is answered).
void TakeCommand(Client& c, std::string_view name, std::string_view payload, bool retained) {
  int found = 0;
  while (found < kSetPointKeys && name != kSetPointKinds[found].key) ++found;
  if (found == kSetPointKeys) return;  // our own answers, or no set point
  const auto key = static_cast<SetPointKey>(found);
  constexpr std::int32_t kNone = INT32_MIN;
  std::int32_t value = kNone;
  std::string why;
  const bool parsed = ParseSetPoint(key, payload, value, why);
  const bool number = value != kNone;
  const std::string requested =
      number ? SetPointText(key, value) : JsonText(std::string(payload.substr(0, 64)));
  const std::string shown = number ? SetPointShown(key, value) : Printable(payload);
  if (retained) why = "a retained command is a replay, not a request";
  if (retained || !parsed) {
    Refuse(c, key, requested, shown, why);
    return;
  }
  SetPointCommand before;
  if (OfferSetPoint({key, value, plat::GetTickCount64()}, before)) {
    Refuse(c, key, SetPointText(key, before.value), SetPointShown(key, before.value),
           "a later command came before it was written");
  }
}

std::string Discovery(const Client& c, const Entity& e, const std::string& device) {
  const Settings& s = c.settings;
  const std::string id = "zrvmon_" + s.uid + "_" + e.key;
  std::string json = "{\"name\":" + JsonText(e.name) + ",\"unique_id\":\"" + id +
                     "\",\"state_topic\":" + JsonText(s.topics + "/state") +
                     ",\"value_template\":\"{{ value_json." + e.key + " }}\"";
  if (e.deviceClass != nullptr) json += ",\"device_class\":\"" + std::string(e.deviceClass) + "\"";
  if (e.unit != nullptr) json += ",\"unit_of_measurement\":\"" + std::string(e.unit) + "\"";
  if (e.stateClass != nullptr) json += ",\"state_class\":\"" + std::string(e.stateClass) + "\"";
  if (e.form == Form::kSwitch) json += ",\"payload_on\":\"ON\",\"payload_off\":\"OFF\"";
  if (e.form == Form::kMode) json += ",\"options\":[\"C\",\"H\"]";
  if (e.diagnostic) json += ",\"entity_category\":\"diagnostic\"";
  // A state older than a few intervals is no reading: the monitor hangs.
  json += ",\"expire_after\":" + std::to_string(3 * s.interval + 60) + Availability(c);
  return json + ",\"device\":" + device + "}";
}

void PublishDiscovery(Client& c, const std::string& device,
                      const std::array<bool, kEntityCount>& shown) {
  const Settings& s = c.settings;
  const std::string node = s.haPrefix + "/";
  const std::string object = "/zrvmon_" + s.uid + "/";
  // An entity this run does not show (another variant, no --mqtt-control)
  // is withdrawn: an earlier run's retained config would keep it in Home
  // Assistant, dead, or offering writes nobody carries out.
  for (std::size_t i = 0; i < kEntityCount; ++i) {
    const Entity& e = kEntities[i];
    const bool binary = e.form == Form::kSwitch;
    std::string topic = node + (binary ? "binary_sensor" : "sensor");
    topic.append(object).append(e.key).append("/config");
    Publish(c, topic, shown[i] ? Discovery(c, e, device) : "");
  }
  for (int key = 0; key < kSetPointKeys; ++key) {
    std::string topic = node + "number";
    topic.append(object).append(kSetPointKinds[key].key).append("/config");
    Publish(c, topic,
            s.control ? NumberDiscovery(c, static_cast<SetPointKey>(key), device) : "");
  }
  // The controller's line itself, available whenever the monitor is.
  Publish(c, node + "binary_sensor" + object + "link/config",
          "{\"name\":\"Controller link\",\"unique_id\":\"zrvmon_" + s.uid +
              "_link\",\"state_topic\":" + JsonText(s.topics + "/link") +
              ",\"payload_on\":\"up\",\"payload_off\":\"down\",\"device_class\":"
              "\"connectivity\",\"entity_category\":\"diagnostic\",\"availability\":"
              "[{\"topic\":" + JsonText(s.topics + "/status") + "}],\"device\":" +
              device + "}");
}

// The answers the polling thread left; never retained.
void PublishResults(Client& c, const std::vector<std::string>& results) {
  for (const std::string& result : results) {
    Publish(c, c.settings.topics + "/set/result", result, nullptr, false);
  }
}

// What the mailbox holds goes out when it is due; called while connected.
void PublishDue(Client& c) {
  std::unique_lock<std::mutex> hold(c.lock);
  const Clock::time_point now = Clock::now();
  if (c.announce && !c.device.empty()) {
    const std::string device = c.device;
    const auto shown = c.shown;
    c.announce = false;
    hold.unlock();
    if (c.settings.discovery) PublishDiscovery(c, device, shown);
    hold.lock();
  }
  std::string link;
  if (c.linkFresh && c.link >= 0) link = c.link == 1 ? "up" : "down";
  c.linkFresh = false;
  std::string state;
  if (c.stateFresh &&
      (c.urgent || now - c.lastState >= std::chrono::seconds(c.settings.interval))) {
    state = c.state;
    c.stateFresh = c.urgent = false;
    c.lastState = now;
  }
  std::vector<std::string> results;
  results.swap(c.results);
  hold.unlock();
  PublishResults(c, results);
  if (!link.empty()) Publish(c, c.settings.topics + "/link", link);
  if (!state.empty()) {
    int mid = 0;
    Publish(c, c.settings.topics + "/state", state, &mid);
    c.stateMids.insert(mid);
  }
}

// After a (re)connection or Home Assistant's return, everything once more.
void AllAgain(Client& c) {
  std::lock_guard<std::mutex> hold(c.lock);
  c.announce = true;
  c.linkFresh = c.link >= 0;
  c.stateFresh = c.urgent = !c.state.empty();
}

void OnConnect(mosquitto*, void*, int rc) {
  Client& c = *g_client;
  if (rc != 0) {
    // MQTT 5's codes where control asked for it.
    const char* why = rc == 4 || rc == 134 ? "a bad user name or password"
                      : rc == 5 || rc == 135 ? "not authorised (user name or password refused)"
                      : rc >= 128            ? mosquitto_reason_string(rc)
                                             : mosquitto_connack_string(rc);
    Tell(c, Where(c) + " refused the connection: " + why + "; trying again", true);
    return;
  }
  c.connected = true;
  Tell(c, Where(c) + " connected, unit " + c.settings.unit, false);
  Publish(c, c.settings.topics + "/status", "online");
  if (c.settings.discovery) {
    mosquitto_subscribe(c.mosq, nullptr, (c.settings.haPrefix + "/status").c_str(), 1);
  }
  if (c.settings.control) {
    // Retained as published: a replay is told from a request by its flag.
    mosquitto_subscribe_v5(c.mosq, nullptr, (c.settings.topics + "/set/+").c_str(), 1,
                           MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr);
  }
  AllAgain(c);
}

void OnDisconnect(mosquitto*, void*, int) {
  Client& c = *g_client;
  c.stateMids.clear();
  if (!c.connected) return;
  c.connected = false;
  bool stopping = false;
  {
    std::lock_guard<std::mutex> hold(c.lock);
    stopping = c.stop;
    if (!stopping) ++c.lost;
  }
  if (!stopping) Tell(c, Where(c) + " was lost: trying again", true);
}

void OnPublish(mosquitto*, void*, int mid) {
  Client& c = *g_client;
  if (c.stateMids.erase(mid) > 0) {
    std::lock_guard<std::mutex> hold(c.lock);
    ++c.published;
  }
  if (mid == c.offlineMid) c.offlineTaken = true;
}

void OnMessage(mosquitto*, void*, const mosquitto_message* m) {
  Client& c = *g_client;
  const std::string_view payload(static_cast<const char*>(m->payload),
                                 static_cast<std::size_t>(std::max(m->payloadlen, 0)));
  const std::string_view topic = m->topic;
  const std::string commands = c.settings.topics + "/set/";
  if (c.settings.control && topic.substr(0, commands.size()) == commands) {
    TakeCommand(c, topic.substr(commands.size()), payload, m->retain);
  } else if (topic == c.settings.haPrefix + "/status" && payload == "online") {
    AllAgain(c);
  }
}

void OnLog(mosquitto*, void*, int level, const char* text) {
  if (level == MOSQ_LOG_ERR && text != nullptr) g_client->tlsError = text;
}

// A try that failed before the broker answered it.
void Failed(Client& c, int rc, int error) {
  std::string why;
  if (rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE) {
    std::string detail = c.tlsError;
    if (const std::size_t at = detail.rfind(':'); at != std::string::npos) {
      detail = detail.substr(at + 1);
    }
    why = " is not trusted, nothing was sent" +
          (detail.empty() ? std::string() : " (" + detail + ")") +
          (c.settings.ca.empty() ? ": --mqtt-ca names the CA that signs its certificate"
                                 : ": its certificate is not signed by " + c.settings.ca +
                                       " for its host name");
  } else if (rc == MOSQ_ERR_EAI) {
    why = " cannot be reached: its host name is not known";
  } else if (rc == MOSQ_ERR_CONN_REFUSED) {
    return;  // said when the broker answered
  } else {
    why = std::string(" cannot be reached: ") +
          (rc == MOSQ_ERR_ERRNO && error != 0 ? std::strerror(error) : mosquitto_strerror(rc));
  }
  Tell(c, Where(c) + why + "; trying again", true);
}

void ClientLoop(Client* client) {
  Client& c = *client;
  int delay = kFirstRetrySeconds;
  Clock::time_point nextTry = Clock::now();
  Clock::time_point tried{};
  bool first = true;
  auto later = [&] {
    nextTry = Clock::now() + std::chrono::seconds(delay);
    delay = std::min(delay * 2, kLastRetrySeconds);
  };
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(c.lock);
      if (c.stop) break;
      if (mosquitto_socket(c.mosq) < 0 && Clock::now() < nextTry) {
        c.wake.wait_until(hold, nextTry, [&] { return c.stop; });
        continue;
      }
    }
    if (mosquitto_socket(c.mosq) < 0) {
      c.tlsError.clear();
      errno = 0;
      const int rc = first ? mosquitto_connect_async(c.mosq, c.settings.host.c_str(),
                                                     c.settings.port, kKeepAliveSeconds)
                           : mosquitto_reconnect_async(c.mosq);
      const int error = errno;
      first = false;
      tried = Clock::now();
      if (rc != MOSQ_ERR_SUCCESS) {
        Failed(c, rc, error);
        later();
      }
      continue;
    }
    const bool wasConnected = c.connected;
    errno = 0;
    const int rc = mosquitto_loop(c.mosq, kLoopMs, 1);
    const int error = errno;
    if (c.connected) {
      delay = kFirstRetrySeconds;
      PublishDue(c);
    } else if (rc == MOSQ_ERR_SUCCESS &&
               Clock::now() - tried > std::chrono::seconds(kKeepAliveSeconds)) {
      Tell(c, Where(c) + " does not answer; trying again", true);
      mosquitto_disconnect(c.mosq);
      later();
    }
    if (rc != MOSQ_ERR_SUCCESS) {
      if (!wasConnected) Failed(c, rc, error);
      if (mosquitto_socket(c.mosq) >= 0) mosquitto_disconnect(c.mosq);
      later();
    }
  }
  if (c.connected) {
    std::vector<std::string> results;
    {
      std::lock_guard<std::mutex> hold(c.lock);
      results.swap(c.results);
    }
    PublishResults(c, results);
    Publish(c, c.settings.topics + "/status", "offline", &c.offlineMid);
    Clock::time_point by;
    {
      std::lock_guard<std::mutex> hold(c.lock);
      by = c.stopBy;
    }
    while (!c.offlineTaken && Clock::now() < by &&
           mosquitto_loop(c.mosq, kLoopMs, 1) == MOSQ_ERR_SUCCESS) {
    }
    mosquitto_disconnect(c.mosq);
  }
  std::lock_guard<std::mutex> hold(c.lock);
  c.done = true;
  c.wake.notify_all();
}

std::string DefaultUnit(int port) {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) std::strcpy(host, "localhost");
  std::string name(host, std::strcspn(host, "."));
  for (char& ch : name) {
    const bool ok = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                    (ch >= '0' && ch <= '9') || ch == '_' || ch == '-';
    if (!ok) ch = '-';
  }
  return (name.empty() ? "localhost" : name) + "-COM" + std::to_string(port);
}

// The client connects from now on.
void StartClient(Client& c, const std::string& unit) {
  Settings& s = c.settings;
  s.unit = unit;
  s.uid = unit;
  for (char& ch : s.uid) {
    if (!((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
          ch == '-')) {
      ch = '_';
    }
  }
  s.topics += "/" + unit;
  // Each unit its own id, so that two monitors never throw each other off.
  mosquitto_reinitialise(c.mosq, ("zrvmon-" + unit).c_str(), true, nullptr);
  // Control needs MQTT 5 to see a retained command as such.
  mosquitto_int_option(c.mosq, MOSQ_OPT_PROTOCOL_VERSION,
                       s.control ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
  mosquitto_connect_callback_set(c.mosq, OnConnect);
  mosquitto_disconnect_callback_set(c.mosq, OnDisconnect);
  mosquitto_publish_callback_set(c.mosq, OnPublish);
  mosquitto_message_callback_set(c.mosq, OnMessage);
  mosquitto_log_callback_set(c.mosq, OnLog);
  const std::string status = s.topics + "/status";
  mosquitto_will_set(c.mosq, status.c_str(), 7, "offline", 1, true);
  if (!s.user.empty()) {
    mosquitto_username_pw_set(c.mosq, s.user.c_str(),
                              s.password.empty() ? nullptr : s.password.c_str());
  }
  if (s.tls) {
    if (s.ca.empty()) {
      mosquitto_int_option(c.mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    } else {
      mosquitto_tls_set(c.mosq, s.ca.c_str(), nullptr, nullptr, nullptr, nullptr);
    }
    mosquitto_tls_opts_set(c.mosq, 1, nullptr, nullptr);
    mosquitto_tls_insecure_set(c.mosq, false);
  }
  c.thread = std::thread(ClientLoop, &c);
  c.running = true;
}

}  // namespace

bool MqttOpen(const plat::RunOptions& options, std::string& why) {
  Settings s;
  s.host = options.MqttHost;
  s.port = options.MqttPort;
  s.tls = options.MqttTls;
  s.url = std::string(s.tls ? "mqtts://" : "mqtt://") +
          (s.host.find(':') != std::string::npos ? "[" + s.host + "]" : s.host) + ":" +
          std::to_string(s.port);
  s.interval = options.MqttInterval;
  s.topics = options.MqttPrefix;
  s.haPrefix = options.HaPrefix;
  s.discovery = options.HaDiscovery;
  s.control = options.MqttControl;
  s.comPort = options.Port;
  if (options.MqttUser != nullptr) s.user = options.MqttUser;
  if (const char* path = options.MqttPasswordFile) {
    errno = 0;  // an empty file sets none
    std::ifstream in(path);
    if (!in || !std::getline(in, s.password)) {
      why = std::string("cannot read the MQTT password from ") + path + ": " +
            (errno != 0 ? std::strerror(errno) : "it is empty");
      return false;
    }
    if (!s.password.empty() && s.password.back() == '\r') s.password.pop_back();
  } else if (const char* password = std::getenv("ZRVMON_MQTT_PASSWORD");
             password != nullptr && !s.user.empty()) {
    s.password = password;
  }
  if (options.MqttCa != nullptr) {
    s.ca = options.MqttCa;
    errno = 0;
    if (!std::ifstream(s.ca)) {
      why = "cannot read the CA of --mqtt-ca " + s.ca + ": " +
            (errno != 0 ? std::strerror(errno) : "it cannot be opened");
      return false;
    }
  }
  mosquitto_lib_init();
  g_client = new Client;
  g_client->settings = s;
  g_client->mosq = mosquitto_new(nullptr, true, nullptr);
  if (g_client->mosq == nullptr) {
    why = std::string("cannot make an MQTT client: ") + std::strerror(errno);
    return false;
  }
  if (options.Unit != nullptr) {
    StartClient(*g_client, options.Unit);
  } else if (options.Port != 0) {
    StartClient(*g_client, DefaultUnit(options.Port));
  }
  return true;
}

void MqttStarted() {
  if (g_client == nullptr) return;
  mqtt::Latest = Kept{};
  // The system number start-up read, until a cycle reads it.
  for (std::size_t i = 0; i < kEntityCount; ++i) {
    if (std::string_view(kEntities[i].key) == "system" && SystemNumber != 0) {
      mqtt::Latest.values[i] = std::to_string(SystemNumber);
    }
  }
  if (!g_client->running) StartClient(*g_client, DefaultUnit(ActivePort));
  const std::string device =
      "{\"identifiers\":[\"zrvmon_" + g_client->settings.uid + "\"],\"name\":" +
      JsonText("ZRV " + g_client->settings.unit) + ",\"model\":\"ZRV variant " +
      std::to_string(ControllerVariant) + ", revision " +
      std::to_string(ControllerRevision) + "\",\"sw_version\":" + JsonText(ZRV_VERSION) + "}";
  std::lock_guard<std::mutex> hold(g_client->lock);
  for (std::size_t i = 0; i < kEntityCount; ++i) g_client->shown[i] = Shows(kEntities[i].row);
  g_client->device = device;
  g_client->announce = true;
}

std::string MqttStateJson(const CycleSnapshot& shot, const LinkTally& sinceStart,
                          const std::string& time) {
  Keep(shot);
  return Render(sinceStart, time);
}

void MqttCycle(const CycleSnapshot& shot, bool live, const LinkTally& sinceStart,
               const std::string& time) {
  if (g_client == nullptr) return;
  const std::string state = MqttStateJson(shot, sinceStart, time);
  const int link = live && !mqtt::Latest.linkDown ? 1 : 0;
  mqtt::Latest.linkDown = false;
  std::lock_guard<std::mutex> hold(g_client->lock);
  g_client->state = state;
  g_client->stateFresh = true;
  if (std::exchange(mqtt::Latest.written, false)) g_client->urgent = true;
  if (link != g_client->link) {
    g_client->link = link;
    g_client->linkFresh = g_client->urgent = true;
  }
}

void MqttLinkState(bool readingsCome) {
  mqtt::Latest.linkDown = !readingsCome;
  if (g_client == nullptr || readingsCome) return;
  std::lock_guard<std::mutex> hold(g_client->lock);
  if (g_client->link == 0) return;
  g_client->link = 0;
  g_client->linkFresh = true;
  // The last state again at once: it is no longer live.
  g_client->stateFresh = g_client->urgent = !g_client->state.empty();
}

void MqttFinish() {
  Client* c = g_client;
  if (c == nullptr || !c->running) return;
  std::unique_lock<std::mutex> hold(c->lock);
  c->stop = true;
  c->stopBy = Clock::now() + kFinishWait;
  c->wake.notify_all();
  const bool done = c->wake.wait_until(hold, c->stopBy, [c] { return c->done; });
  hold.unlock();
  c->running = false;
  if (!done) {
    // A broker or a name lookup that hangs keeps it: the end goes on.
    c->thread.detach();
    return;
  }
  c->thread.join();
  mosquitto_destroy(c->mosq);
  c->mosq = nullptr;
  mosquitto_lib_cleanup();
}

std::string MqttSummaryLine() {
  if (g_client == nullptr) return {};
  std::lock_guard<std::mutex> hold(g_client->lock);
  const std::int64_t n = g_client->published;
  const std::int64_t lost = g_client->lost;
  return "  mqtt: " + std::to_string(n) + (n == 1 ? " state" : " states") +
         " published, the broker lost " + std::to_string(lost) +
         (lost == 1 ? " time" : " times");
}

std::string MqttFailureLine() {
  if (g_client == nullptr) return {};
  std::lock_guard<std::mutex> hold(g_client->lock);
  return g_client->failure;
}

void MqttSetPointResult(const SetPointCommand& command, bool written,
                        const std::string& reason) {
  if (g_client == nullptr) return;
  const std::string value = SetPointText(command.key, command.value);
  const std::string result = ResultJson(command.key, value, written ? value : "", reason);
  mqtt::Latest.written = mqtt::Latest.written || written;
  std::lock_guard<std::mutex> hold(g_client->lock);
  if (g_client->results.size() >= kMostResults) {
    g_client->results.erase(g_client->results.begin());
  }
  g_client->results.push_back(result);
}

void ResetMqttForTests() { mqtt::Latest = Kept{}; }
