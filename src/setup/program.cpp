#include "setup/program.h"

#include <cstdio>
#include <string>

#include "console/screen.h"
#include "monitor/monitor.h"
#include "platform/shared/options.h"
#include "record/metrics.h"
#include "record/record.h"

namespace {
// Exit code when no console could be opened (the report is already made).
constexpr int kConsoleFailureExitCode = 1;
// Exit code when the log asked for cannot be kept.
constexpr int kLogFailureExitCode = 2;

// Exit code of a command line that cannot be run.
constexpr int kUsageExitCode = 2;
}  // namespace

int ZrvMain(int argc, char** argv) {
  plat::RunOptions options;
  std::string problem;
  if (!plat::ParseRunOptions(argc, argv, &options, &problem)) {
    std::fprintf(stderr, "zrvmon: %s\n", problem.c_str());
    return kUsageExitCode;
  }
  // Before the prompt, so that a log that cannot be kept stops the run
  // before anything is sent.
  if (const char* path = options.Log) {
    std::string why;
    if (!RecordOpen(path, why)) {
      std::fprintf(stderr, "zrvmon: cannot log to %s: %s\n", path, why.c_str());
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
  const int code = RunMonitor({options.Port, RecordStarted, RecordCycle});
  RecordFinish();
  ConsoleClose();
  return code;
}
