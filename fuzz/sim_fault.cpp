// SPDX-License-Identifier: MIT
// zrvsim's --fault and --reply rule parsers, and its whole command line,
// over arbitrary text: one argument a line. Whatever they accept is a rule
// the controller can apply; whatever they refuse comes with a reason.
#include <string>
#include <vector>

#include "fuzz/harness.h"
#include "sim/model/cli.h"
#include "sim/model/model.h"

namespace {

void CheckRule(const zrvsim::FaultRule& rule) {
  FUZZ_CHECK(!rule.match.empty());
  FUZZ_CHECK(zrvsim::ParseFaultKind(zrvsim::FaultKindName(rule.kind)) ==
             rule.kind);
  FUZZ_CHECK(rule.after >= 0 && rule.times >= -1);
  FUZZ_CHECK(rule.probability >= 0.0 && rule.probability <= 1.0);
  FUZZ_CHECK(rule.seen == 0 && rule.applied == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  for (std::size_t pos = 0; pos <= text.size();) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    args.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }

  for (const std::string& arg : args) {
    std::string error;
    if (const auto rule = zrvsim::ParseFaultRule(arg, error)) {
      CheckRule(*rule);
    } else {
      FUZZ_CHECK(!error.empty());
    }
    error.clear();
    if (const auto rule = zrvsim::ParseReplyRule(arg, error)) {
      CheckRule(*rule);
      FUZZ_CHECK(rule->kind == zrvsim::FaultKind::kReply);
    } else {
      FUZZ_CHECK(!error.empty());
    }
  }

  zrvsim::ServerConfig config;
  std::string error;
  if (!zrvsim::ParseServerArgs(args, config, error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  FUZZ_CHECK(config.baud >= 50 && config.baud <= 4000000);
  FUZZ_CHECK(config.speed > 0);
  for (const zrvsim::FaultRule& rule : config.model.faults.rules) {
    CheckRule(rule);
  }
  // The unit so configured runs a few seconds and answers, or keeps quiet,
  // on a few requests; a reply never starts before its request.
  zrvsim::Controller controller(config.model);
  controller.AdvanceTo(3 * zrvsim::kSecond);
  for (const char* request : {"CR", "RD DM992", "RD T106", "WR DM300 1"}) {
    const zrvsim::Response response = controller.Handle(request);
    FUZZ_CHECK(response.delay >= 0);
    FUZZ_CHECK(response.sent || response.bytes.empty());
  }
  return 0;
}
