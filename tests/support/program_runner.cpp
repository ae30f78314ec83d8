// SPDX-License-Identifier: MIT
#include "program_runner.h"

#include "console/editor.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "link/host_link.h"
#include "link/serial_port.h"
#include "monitor/monitor.h"
#include "monitor/state.h"
#include "record/record.h"
#include "setup/program.h"

void ResetProgramState(const fake::Options& console) {
  fake::Reset(console);
  ResetConsoleStateForTests();
  ResetKeyboardStateForTests();
  ResetPortTableForTests();
  ResetMonitorStateForTests();
  ResetRecordForTests();
  ResetHostLinkForTests();
  SavedScreenColumns = 0;
  SavedScreenRows = 0;
}

ProgramRun::ProgramRun(const zrvsim::Options& model,
                       const fake::Options& console, const std::string& name)
    : wire(std::make_unique<SimWire>(model)), device(name) {
  ResetProgramState(console);
  if (!device.empty()) wire->Bind(device);
}

ProgramRun::~ProgramRun() {
  // The wire goes with this object: leave no binding behind pointing at it.
  ResetProgramState();
}

void ProgramRun::TypePort(const std::string& entry, fake::Micros at) {
  fake::Type(entry, at);
}

void ProgramRun::PressEsc(fake::Micros at) { fake::Key("Esc", at); }

int ProgramRun::Run(std::vector<std::string> args) {
  args.insert(args.begin(), "zrvmon");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  try {
    exitCode = ZrvMain(static_cast<int>(args.size()), argv.data());
  } catch (const fake::ProcessExit& exit) {
    exitCode = static_cast<int>(exit.code);
  } catch (const fake::InputStarved&) {
    starved = true;
    exitCode = -1;
  }
  return exitCode;
}

bool ProgramRun::Start() {
  if (!ConsoleSetup()) return false;
  LibraryStartup();
  if (!StartMonitor()) return false;
  PollingStarted = true;
  return true;
}

std::vector<std::string> ProgramRun::Cycle() {
  const std::size_t before = wire->Requests().size();
  PollingCycle();
  const std::vector<std::string> all = wire->RequestTexts();
  return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
}
