// SPDX-License-Identifier: MIT
// A fresh fake machine with the console bound and COM3 open on a small
// scripted controller; shared by the terminal and monitor tests.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "console/editor.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "link/host_link.h"
#include "link/serial_port.h"
#include "platform/fake/fake.h"

// Kept in a namespace of its own: other tests in the same binaries have
// fixtures of their own.
namespace scripted_wire {

inline constexpr fake::Micros kMs = 1000;

// The far end of a wire that takes command lines (up to each carriage
// return), keeps them in `lines` and answers each through OnLine.
class CommandLineEndpoint : public fake::SerialEndpoint {
 public:
  std::vector<std::string> lines;

  void OnByte(std::uint8_t byte, fake::Micros at,
              std::vector<Emission>& out) override {
    if (byte != '\r') {
      pending_ += static_cast<char>(byte);
      return;
    }
    lines.push_back(pending_);
    OnLine(pending_, at, out);
    pending_.clear();
  }

 protected:
  virtual void OnLine(const std::string& line, fake::Micros at,
                      std::vector<Emission>& out) = 0;

 private:
  std::string pending_;
};

// Answers each command line after `latency`. A request with several
// scripted answers gets them in turn, the last one again and again;
// requests without a script get `fallback`; an empty answer is silence.
// Every answer goes out with CR LF.
class ReplyScript : public CommandLineEndpoint {
 public:
  std::map<std::string, std::deque<std::string>> replies;
  std::string fallback;
  fake::Micros latency = 2 * kMs;
  // Called as each command line arrives, before it is answered: lets a test
  // look at the screen while the program waits for the reply.
  std::function<void(const std::string& line, fake::Micros at)> onRequest;

  void Set(const std::string& request, std::deque<std::string> answers) {
    replies[request] = std::move(answers);
  }

  int Count(const std::string& request) const {
    int n = 0;
    for (const std::string& line : lines) n += line == request ? 1 : 0;
    return n;
  }

 protected:
  void OnLine(const std::string& line, fake::Micros at,
              std::vector<Emission>& out) override {
    if (onRequest) onRequest(line, at);
    std::string answer = fallback;
    if (auto it = replies.find(line); it != replies.end()) {
      if (!it->second.empty()) {
        answer = it->second.front();
        if (it->second.size() > 1) it->second.pop_front();
      }
    }
    if (!answer.empty()) out.push_back({answer + "\r\n", at + latency});
  }
};

class MachineTest : public ::testing::Test {
 protected:
  static constexpr PortNumber kPort = 3;

  void StartMachine(int columns = 80, int rows = 25,
                    std::uint16_t attribute = 0x07) {
    fake::Options options;
    options.bufferColumns = options.windowColumns = columns;
    options.bufferRows = options.windowRows = rows;
    options.attribute = attribute;
    fake::Reset(options);
    ResetConsoleStateForTests();
    ResetKeyboardStateForTests();
    ResetPortTableForTests();
    ResetHostLinkForTests();
    ConsoleSetup();
    SaveScreenSize();
    fake::BindSerial("COM3", &wire);
    LinkOpen(kPort);
  }

  void TearDown() override { ResetPortTableForTests(); }

  static std::string Sent() { return fake::SentText("COM3"); }

  // The text of a screen row between two 1-based columns, inclusive.
  static std::string Cells(int row, int first, int last) {
    return fake::Row(row).substr(static_cast<std::size_t>(first - 1),
                                 static_cast<std::size_t>(last - first + 1));
  }

  ReplyScript wire;
};

}  // namespace scripted_wire
