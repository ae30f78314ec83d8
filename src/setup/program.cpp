// SPDX-License-Identifier: MIT
#include "setup/program.h"

#include <cstdio>
#include <string>

#include "console/screen.h"
#include "monitor/link_state.h"
#include "monitor/monitor.h"
#include "monitor/state.h"
#include "platform/platform.h"
#include "record/control.h"
#include "record/metrics.h"
#include "record/mqtt.h"
#include "record/record.h"

namespace {
// Exit code when no console could be opened (the report is already made).
constexpr int kConsoleFailureExitCode = 1;
// Exit code when the log asked for cannot be kept.
constexpr int kLogFailureExitCode = 2;

// Exit code of a command line that cannot be run.
constexpr int kUsageExitCode = 2;

// Unattended, what an operator would read off the screen goes to standard
// error: a line whenever the link's state changes.
bool Headless = false;
Str255 ToldState;

void TellState() {
  const Str255 state = LinkStateText();
  if (!(state == ToldState)) {
    std::fprintf(stderr, "zrvmon: COM%d: %s\n", static_cast<int>(ActivePort),
                 state.empty() ? "readings come again" : state.str().c_str());
    ToldState = state;
  }
  std::fflush(stderr);
}

// What the log and the metrics say, at once; the log's writer may say it.
void TellRecord(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

void CycleEndedHeadless() {
  RecordCycle();
  TellState();
}

// Readings stopped or came again, maybe in the middle of a cycle.
void LinkStateChangedNow() {
  MetricsLinkState(ReadingsCome());
  MqttLinkState(ReadingsCome());
  if (Headless) TellState();
}

void TellStart(const plat::RunOptions& options) {
  const std::string com = "COM" + std::to_string(options.Port);
  char device[Str255::kMax + 1] = {};
  if (plat::QueryDosDeviceA(com.c_str(), device, Str255::kMax) == 0) device[0] = '\0';
  std::string records;
  if (options.Log != nullptr) records += std::string(", log ") + options.Log;
  if (options.LogInterval > 0) {
    records += " every " + std::to_string(options.LogInterval) + " s";
  }
  if (options.Metrics != nullptr) {
    records += std::string(", metrics ") + options.Metrics + " (unit " +
               (options.Unit != nullptr ? options.Unit : com) + ")";
  }
  if (options.Mqtt != nullptr) records += std::string(", MQTT ") + options.Mqtt;
  if (options.MqttControl) records += " with set point control";
  std::fprintf(stderr, "zrvmon: polling %s (%s) headless%s\n", com.c_str(),
               device[0] != '\0' ? device : "no such device",
               records.empty() ? ", recording nothing" : records.c_str());
  std::fflush(stderr);
}
}  // namespace

int ZrvMain(int argc, char** argv) {
  plat::RunOptions options;
  std::string problem;
  if (!plat::ParseRunOptions(argc, argv, &options, &problem)) {
    std::fprintf(stderr, "zrvmon: %s\n", problem.c_str());
    return kUsageExitCode;
  }
  Headless = options.Headless;
  if (Headless) {
    SetRecordNews(TellRecord);
    plat::SetReopenHandler(RecordReopen);
  }
  // Before the log, whose columns it decides.
  if (options.MqttControl) {
    std::string why;
    if (!SetPointControlOpen(options.SetPointLimits, why)) {
      std::fprintf(stderr, "zrvmon: %s\n", why.c_str());
      return kUsageExitCode;
    }
  }
  // A usage error leaves no log file behind.
  if (options.Mqtt != nullptr) {
    std::string why;
    if (!MqttOpen(options, why)) {
      std::fprintf(stderr, "zrvmon: %s\n", why.c_str());
      return kUsageExitCode;
    }
  }
  // Before the prompt, so that a log that cannot be kept stops the run
  // before anything is sent.
  if (const char* path = options.Log) {
    std::string why;
    if (!RecordOpen(path, why, options.LogInterval)) {
      std::fprintf(stderr, "zrvmon: cannot log to %s: %s\n", path, why.c_str());
      MqttFinish();
      return kLogFailureExitCode;
    }
  }
  if (const char* path = options.Metrics) {
    std::string why;
    if (!MetricsOpen(path, options.Unit != nullptr ? options.Unit : "", why)) {
      std::fprintf(stderr, "zrvmon: cannot keep metrics in %s: %s\n", path,
                   why.c_str());
      RecordFinish();
      return kLogFailureExitCode;
    }
  }
  if (!ConsoleSetup()) {
    RecordFinish();
    return kConsoleFailureExitCode;
  }
  LibraryStartup();
  if (Headless) TellStart(options);
  const int code = RunMonitor({options.Port, RecordStarted,
                               Headless ? CycleEndedHeadless : RecordCycle,
                               LinkStateChangedNow,
                               options.MqttControl ? WriteCommandedSetPoint : nullptr});
  plat::SetReopenHandler(nullptr);
  WithdrawSetPointCommands();
  RecordFinish();
  SetRecordNews(nullptr);
  ConsoleClose();
  return code;
}
