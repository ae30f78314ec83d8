// SPDX-License-Identifier: MIT
// Runs the whole program in process on the fake platform, against the
// controller model bound to a COM device, in virtual time.
//
//   ProgramRun run;                    // fresh machine, model on COM3
//   run.TypePort("3\r");
//   run.PressEsc(2 * fake::kSecond);
//   EXPECT_EQ(run.Run(), 0);
//   EXPECT_EQ(fake::RowTrimmed(3), ...);
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/fake/fake.h"
#include "sim/model/model.h"
#include "sim_wire.h"

struct ProgramRun {
  // A fresh machine (console and all program state as at process start)
  // with the model behind `device`; an empty device name binds nothing.
  explicit ProgramRun(const zrvsim::Options& model = {},
                      const fake::Options& console = {},
                      const std::string& device = "COM3");
  ~ProgramRun();
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  SimWire& Wire() { return *wire; }
  // The operator's entry at the prompt, typed at `at`: by default once the
  // prompt is up (keys typed before the library start-up are discarded).
  void TypePort(const std::string& entry = "3\r", fake::Micros at = kTypeAt);
  static constexpr fake::Micros kTypeAt = 20 * zrvsim::kMillisecond;
  void PressEsc(fake::Micros at);

  // Runs the program, with `args` on its command line, to its end and
  // returns its exit code. A run that blocks for a key that never comes
  // ends with `starved` set and -1.
  int Run(std::vector<std::string> args = {});

  // The program up to the end of its start-up (console, library start-up,
  // the monitor's start-up), for tests that drive the polling cycle
  // themselves. False when start-up stopped on the port entry.
  bool Start();
  // One polling cycle; the requests the controller saw during it.
  std::vector<std::string> Cycle();

  std::unique_ptr<SimWire> wire;
  std::string device;
  int exitCode = -1;
  bool starved = false;
};

// The whole program's process-wide state and the fake machine back to
// process start.
void ResetProgramState(const fake::Options& console = {});
