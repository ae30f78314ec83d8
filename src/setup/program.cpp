#include "setup/program.h"

#include <cstdio>
#include <string>

#include "console/screen.h"
#include "monitor/monitor.h"
#include "platform/shared/options.h"
#include "record/record.h"

namespace {
// Exit code when no console could be opened (the report is already made).
constexpr int kConsoleFailureExitCode = 1;
// Exit code when the log asked for cannot be kept.
constexpr int kLogFailureExitCode = 2;

// The last --log on the command line counts.
const char* LogPath(int argc, char** argv) {
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (const char* p = plat::LogOption(argc, argv, i)) path = p;
  }
  return path;
}
}  // namespace

int ZrvMain(int argc, char** argv) {
  // Before the prompt, so that a log that cannot be kept stops the run
  // before anything is sent.
  if (const char* path = LogPath(argc, argv)) {
    std::string why;
    if (!RecordOpen(path, why)) {
      std::fprintf(stderr, "zrvmon: cannot log to %s: %s\n", path, why.c_str());
      return kLogFailureExitCode;
    }
  }
  if (!ConsoleSetup()) {
    RecordFinish();
    return kConsoleFailureExitCode;
  }
  LibraryStartup();
  const int code = RunMonitor({RecordStarted, RecordCycle});
  RecordFinish();
  ConsoleClose();
  return code;
}
