// SPDX-License-Identifier: MIT
// The fake's serial wires: devices bound under names, bytes paced at the
// line settings in force, and the serial calls over them.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "platform/fake/fake_internal.h"
#include "platform/shared/line_settings.h"

namespace fake {

namespace {

// Bits on the line per character: start, data, parity, stop.
int CharBits(const plat::DCB& dcb) {
  return 1 + dcb.ByteSize + (dcb.Parity != 0 ? 1 : 0) +
         (dcb.StopBits == plat::TWOSTOPBITS ? 2 : 1);
}

// Line time of one character under the device's settings, in microseconds.
double CharTimeExact(const plat::DCB& dcb) {
  if (dcb.BaudRate == 0) return 0;
  return CharBits(dcb) * 1e6 / dcb.BaudRate;
}

plat::COMMTIMEOUTS DefaultTimeouts() {
  // Non-zero write fields, so that a caller that must keep them is seen to.
  return plat::COMMTIMEOUTS{0, 0, 0, 10, 1000};
}

const Device* FindDevice(const std::string& name) {
  auto it = TheMachine().devices.find(name);
  return it == TheMachine().devices.end() ? nullptr : &it->second;
}

}  // namespace

void Schedule(std::deque<Scheduled>& line, double& free, const plat::DCB& dcb,
              double earliest, std::string_view bytes) {
  const double t0 = std::max(free, earliest);
  const double bits = CharBits(dcb);
  const double baud = dcb.BaudRate;
  auto at = [&](std::size_t k) { return t0 + double(k) * bits * 1e6 / baud; };
  for (std::size_t k = 0; k < bytes.size(); ++k)
    line.push_back({std::llround(at(k)), std::llround(at(k + 1)),
                    static_cast<std::uint8_t>(bytes[k])});
  free = at(bytes.size());
}

Device* SerialCall(plat::Handle h) {
  CatchUp();
  Machine& m = TheMachine();
  auto it = m.serialHandles.find(h);
  if (it == m.serialHandles.end()) {
    m.lastError = plat::ERROR_INVALID_HANDLE;
    return nullptr;
  }
  Device* d = it->second.device;
  if (it->second.dead || !d->plugged) {
    m.lastError = plat::ERROR_GEN_FAILURE;
    return nullptr;
  }
  return d;
}

// ---- serial observers -------------------------------------------------------

void BindSerial(const std::string& deviceName, SerialEndpoint* endpoint) {
  Machine& m = TheMachine();
  auto [it, fresh] = m.devices.try_emplace(deviceName);
  Device& d = it->second;
  if (fresh) {
    d.dcb = plat::FreshPortDcb();
    d.timeouts = DefaultTimeouts();
  }
  d.endpoint = endpoint;
  d.plugged = true;
}

void RefuseParity(const std::string& deviceName) {
  TheMachine().devices[deviceName].refusesParity = true;
}

void SlowWrites(const std::string& deviceName, Micros extra) {
  TheMachine().devices[deviceName].slowWrites = extra;
}

void UnplugSerial(const std::string& deviceName) {
  CatchUp();
  auto it = TheMachine().devices.find(deviceName);
  if (it == TheMachine().devices.end()) return;
  Device& d = it->second;
  d.plugged = false;
  for (auto& [handle, open] : TheMachine().serialHandles)
    if (open.device == &d) open.dead = true;
  d.toDevice.clear();
  d.toHost.clear();
  d.received.clear();
}

const std::vector<WireByte>& WireLog(const std::string& deviceName) {
  static const std::vector<WireByte> kNone;
  CatchUp();
  const Device* d = FindDevice(deviceName);
  return d != nullptr ? d->log : kNone;
}

void ClearHistory() {
  CatchUp();
  for (auto& [name, device] : TheMachine().devices) device.log.clear();
  TheMachine().beeps.clear();
  TheMachine().writeRuns.clear();
}

namespace {
std::string LogText(const std::string& deviceName, bool toDevice) {
  std::string s;
  for (const auto& w : WireLog(deviceName))
    if (w.toDevice == toDevice) s.push_back(static_cast<char>(w.byte));
  return s;
}
}  // namespace

std::string SentText(const std::string& deviceName) {
  return LogText(deviceName, true);
}

std::string ReceivedText(const std::string& deviceName) {
  return LogText(deviceName, false);
}

Micros CharTime(const std::string& deviceName) {
  const Device* d = FindDevice(deviceName);
  if (d == nullptr || d->openHandles == 0) return 0;
  return std::llround(CharTimeExact(d->dcb));
}

const std::vector<std::string>& OpenedNames() {
  return TheMachine().openedNames;
}

plat::DCB LastDcb(const std::string& deviceName) {
  const Device* d = FindDevice(deviceName);
  return d != nullptr ? d->dcb : plat::FreshPortDcb();
}

plat::COMMTIMEOUTS LastTimeouts(const std::string& deviceName) {
  const Device* d = FindDevice(deviceName);
  return d != nullptr ? d->timeouts : DefaultTimeouts();
}

int PurgeCount(const std::string& deviceName) {
  const Device* d = FindDevice(deviceName);
  return d != nullptr ? d->purges : 0;
}

int OpenHandleCount(const std::string& deviceName) {
  const Device* d = FindDevice(deviceName);
  return d != nullptr ? d->openHandles : 0;
}

}  // namespace fake

namespace plat {

using fake::TheMachine;

Handle CreateFileA(const char* name, std::uint32_t, std::uint32_t,
                   std::uint32_t, std::uint32_t) {
  fake::CatchUp();
  auto& m = TheMachine();
  const std::string n = name != nullptr ? name : "";
  m.openedNames.push_back(n);
  if (n == "CONIN$" || n == "CONOUT$") {
    m.lastError = ERROR_SUCCESS;
    return n == "CONIN$" ? fake::kConsoleIn : fake::kConsoleOut;
  }
  auto it = m.devices.find(n);
  if (it == m.devices.end() || !it->second.plugged) {
    m.lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  fake::Device& d = it->second;
  if (d.openHandles > 0) {  // serial devices are never shared
    m.lastError = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  ++d.openHandles;
  d.received.clear();
  const Handle h = m.nextHandle;
  m.nextHandle += 4;
  m.serialHandles[h] = {&d, false};
  m.lastError = ERROR_SUCCESS;
  return h;
}

int CloseHandle(Handle h) {
  fake::CatchUp();
  auto& m = TheMachine();
  if (fake::IsConsole(h)) return 1;
  auto it = m.serialHandles.find(h);
  if (it == m.serialHandles.end()) {
    m.lastError = ERROR_INVALID_HANDLE;
    return 0;
  }
  fake::Device& d = *it->second.device;
  --d.openHandles;
  d.received.clear();
  m.serialHandles.erase(it);
  return 1;
}

// ---- serial -----------------------------------------------------------------

int GetCommState(Handle h, DCB* dcb) {
  fake::Device* d = fake::SerialCall(h);
  if (d == nullptr || dcb == nullptr) return 0;
  *dcb = d->dcb;
  return 1;
}

int SetCommState(Handle h, const DCB* dcb) {
  fake::Device* d = fake::SerialCall(h);
  if (d == nullptr || dcb == nullptr) return 0;
  if (dcb->BaudRate == 0 || dcb->ByteSize < 5 || dcb->ByteSize > 8 ||
      dcb->Parity > 4 || dcb->StopBits > 2 ||
      (d->refusesParity && dcb->Parity != NOPARITY)) {
    TheMachine().lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  d->dcb = *dcb;
  return 1;
}

int GetCommTimeouts(Handle h, COMMTIMEOUTS* timeouts) {
  fake::Device* d = fake::SerialCall(h);
  if (d == nullptr || timeouts == nullptr) return 0;
  *timeouts = d->timeouts;
  return 1;
}

int SetCommTimeouts(Handle h, const COMMTIMEOUTS* timeouts) {
  fake::Device* d = fake::SerialCall(h);
  if (d == nullptr || timeouts == nullptr) return 0;
  d->timeouts = *timeouts;
  return 1;
}

int PurgeComm(Handle h, std::uint32_t flags) {
  fake::Device* d = fake::SerialCall(h);
  if (d == nullptr) return 0;
  ++d->purges;
  if (flags & PURGE_RXCLEAR) d->received.clear();
  if (flags & PURGE_TXCLEAR) {
    // A byte already in the shift register goes out whole; the rest of the
    // transmit queue is dropped.
    const fake::Micros now = TheMachine().now;
    while (!d->toDevice.empty() && d->toDevice.back().start > now)
      d->toDevice.pop_back();
    d->toDeviceFree = d->toDevice.empty()
                          ? static_cast<double>(now)
                          : static_cast<double>(d->toDevice.back().arrival);
  }
  return 1;
}

std::uint32_t GetCommPathDelay(Handle) { return 0; }

int ClearCommError(Handle h, std::uint32_t* errors, COMSTAT* stat) {
  fake::Device* d = fake::SerialCall(h);
  if (d == nullptr) return 0;
  if (errors != nullptr) *errors = 0;
  if (stat != nullptr) {
    stat->cbInQue = static_cast<std::uint32_t>(d->received.size());
    stat->cbOutQue = static_cast<std::uint32_t>(d->toDevice.size());
  }
  return 1;
}

int ReadFile(Handle h, void* buffer, std::uint32_t toRead,
             std::uint32_t* read) {
  if (read != nullptr) *read = 0;
  fake::Device* d = fake::SerialCall(h);
  if (d == nullptr) return 0;
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::uint32_t n = 0;
  while (n < toRead && !d->received.empty()) {
    out[n++] = d->received.front();
    d->received.pop_front();
  }
  if (read != nullptr) *read = n;
  return 1;
}

int WriteFile(Handle h, const void* buffer, std::uint32_t toWrite,
              std::uint32_t* written) {
  if (written != nullptr) *written = 0;
  fake::Device* d = fake::SerialCall(h);
  if (d == nullptr) return 0;
  fake::Schedule(d->toDevice, d->toDeviceFree, d->dcb,
                 static_cast<double>(TheMachine().now),
                 std::string_view(static_cast<const char*>(buffer), toWrite));
  if (written != nullptr) *written = toWrite;
  if (d->slowWrites >= 0) {
    fake::Pump(static_cast<fake::Micros>(d->toDeviceFree) + d->slowWrites);
  }
  return 1;
}

// The plugged devices bound under COM names, as "COM3" with the target
// "\Device\Serial2" (numbered from 0, as Windows' serial driver does).
std::uint32_t QueryDosDeviceA(const char* deviceName, char* targetPath,
                              std::uint32_t max) {
  fake::CatchUp();
  auto comNumber = [](std::string_view name) {
    if (name.substr(0, 4) == "\\\\.\\") name.remove_prefix(4);
    if (name.size() < 4 || name.size() > 6 || name.substr(0, 3) != "COM") {
      return 0;
    }
    for (const char c : name.substr(3)) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    }
    return std::stoi(std::string(name.substr(3)));
  };
  std::string out;
  for (const auto& [name, device] : TheMachine().devices) {
    const int port = comNumber(name);
    if (!device.plugged || port == 0) continue;
    if (deviceName == nullptr) {
      out += "COM" + std::to_string(port) + '\0';
    } else if (comNumber(deviceName) == port) {
      out = "\\Device\\Serial" + std::to_string(port - 1) + '\0';
      break;
    }
  }
  if (deviceName != nullptr && out.empty()) {
    TheMachine().lastError = ERROR_FILE_NOT_FOUND;
    return 0;
  }
  out += '\0';
  if (out.size() > max) {
    TheMachine().lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  std::copy(out.begin(), out.end(), targetPath);
  return static_cast<std::uint32_t>(out.size());
}

const char* SerialPortHint() { return "bind one with fake::BindSerial"; }

}  // namespace plat
