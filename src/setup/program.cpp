#include "setup/program.h"

#include "console/screen.h"
#include "monitor/monitor.h"

namespace {
// Exit code when no console could be opened (the report is already made).
constexpr int kConsoleFailureExitCode = 1;
}  // namespace

int ZrvMain(int /*argc*/, char** /*argv*/) {
  if (!ConsoleSetup()) return kConsoleFailureExitCode;
  LibraryStartup();
  const int code = RunMonitor();
  ConsoleClose();
  return code;
}
