// SPDX-License-Identifier: MIT
// The test platform. One process-wide fake machine: the emulated console,
// the script of key events, the virtual clock and the serial wires. Every
// plat:: call first brings the machine up to the current virtual time, so
// wire bytes and keys appear in the order they would on real hardware.
// Here: the machine, its clock, and the time and process calls.
#include <filesystem>

#include "platform/fake/fake_internal.h"

namespace fake {

Machine& TheMachine() {
  static Machine* machine = [] {
    auto* m = new Machine;
    m->console.Init(80, 25, 80, 25, 0x07);
    return m;
  }();
  return *machine;
}

// Delivers every script entry and wire byte due at or before `t`, in time
// order, then sets the clock to `t` (never backwards).
void Pump(Micros t) {
  Machine& m = TheMachine();
  for (;;) {
    Micros best = t + 1;
    int kind = -1;  // 0 script, 1 to device, 2 to host
    Device* dev = nullptr;
    if (!m.script.empty() && m.script.begin()->first <= t) {
      best = m.script.begin()->first;
      kind = 0;
    }
    for (auto& [name, d] : m.devices) {
      if (!d.toDevice.empty() && d.toDevice.front().arrival < best) {
        best = d.toDevice.front().arrival;
        kind = 1;
        dev = &d;
      }
      if (!d.toHost.empty() && d.toHost.front().arrival < best) {
        best = d.toHost.front().arrival;
        kind = 2;
        dev = &d;
      }
    }
    if (kind < 0) break;
    if (best > m.now) m.now = best;
    if (kind == 0) {
      m.console.PushInput(m.script.begin()->second);
      m.script.erase(m.script.begin());
    } else if (kind == 1) {
      const Scheduled s = dev->toDevice.front();
      dev->toDevice.pop_front();
      dev->log.push_back({s.arrival, true, s.byte});
      if (dev->endpoint != nullptr) {
        std::vector<SerialEndpoint::Emission> out;
        dev->endpoint->OnByte(s.byte, s.arrival, out);
        for (const auto& e : out)
          Schedule(dev->toHost, dev->toHostFree, dev->dcb,
                   static_cast<double>(std::max(e.earliestStart, s.arrival)),
                   e.bytes);
      }
    } else {
      const Scheduled s = dev->toHost.front();
      dev->toHost.pop_front();
      dev->log.push_back({s.arrival, false, s.byte});
      // With no handle open the driver has no queue to put it in.
      if (dev->openHandles > 0) dev->received.push_back(s.byte);
    }
  }
  if (t > m.now) m.now = t;
}

void CatchUp() { Pump(TheMachine().now); }

void Reset(const Options& options) {
  Machine& m = TheMachine();
  m = Machine{};
  m.console.Init(options.bufferColumns, options.bufferRows,
                 options.windowColumns, options.windowRows, options.attribute);
  m.showOnExit = options.showOnExit;
}

Micros Now() { return TheMachine().now; }

void AdvanceTo(Micros t) { Pump(t); }

}  // namespace fake

namespace plat {

using fake::TheMachine;

std::uint32_t GetLastError() { return TheMachine().lastError; }
void SetLastError(std::uint32_t code) { TheMachine().lastError = code; }

// ---- time and process -------------------------------------------------------

void Sleep(std::uint32_t ms) {
  fake::Pump(TheMachine().now + fake::Micros{ms} * 1000);
}

std::uint64_t GetTickCount64() {
  return static_cast<std::uint64_t>(TheMachine().now / 1000);
}

bool QueryPerformanceCounter(std::int64_t* count) {
  *count = TheMachine().now;
  return true;
}

bool QueryPerformanceFrequency(std::int64_t* frequency) {
  *frequency = 1000000;
  return true;
}

bool ShowOnExit(const char* text) {
  if (!TheMachine().showOnExit) return false;
  TheMachine().exitText = text != nullptr ? text : "";
  return true;
}

void ExitProcess(std::uint32_t code) { throw fake::ProcessExit{code}; }

void ReportRuntimeError(const char* message) {
  TheMachine().runtimeErrors.emplace_back(message != nullptr ? message : "");
}

bool HandleCommandLine(int, char**, int*) { return false; }

// Nothing asks the fake machine to reopen files: tests call the handler.
void SetReopenHandler(void (*)()) {}

// The machine has no file identities: a file is taken to be the one open
// while something is at its path.
bool PathNamesFile(const char* path, std::FILE*) {
  std::error_code ec;
  return std::filesystem::exists(path, ec) || ec;
}

}  // namespace plat
