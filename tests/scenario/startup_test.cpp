// SPDX-License-Identifier: MIT
// Start-up: the port entry, the controller identification and the title,
// each run to its end with Esc.
#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "console/editor.h"
#include "console/screen.h"
#include "monitor/state.h"
#include "scenario.h"

namespace {

using scenario::Between;
using scenario::Contains;
using scenario::kMs;
using scenario::kSecond;

struct VariantCase {
  std::map<std::string, std::string> relays;  // "RD 3000" -> reply
  int variant;
  std::vector<std::string> detection;  // the relay requests of the detection
};

std::ostream& operator<<(std::ostream& os, const VariantCase& c) {
  for (const auto& [request, reply] : c.relays) {
    os << request << "='" << reply << "' ";
  }
  return os << "-> " << c.variant;
}

class VariantTable : public ::testing::TestWithParam<VariantCase> {};

TEST_P(VariantTable, DetectsVariantReadingOnlyTheRelaysItNeeds) {
  const VariantCase& c = GetParam();
  ProgramRun run;
  for (const auto& [request, reply] : c.relays) {
    run.Wire().ScriptReply(request, reply);
  }
  run.TypePort();
  run.PressEsc(1500 * kMs);
  ASSERT_EQ(run.Run(), 0);

  EXPECT_EQ(ControllerVariant, c.variant);
  const auto all = run.Wire().RequestTexts();
  EXPECT_EQ(Between(all, "RD 7000", "RD DM890"), c.detection);

  const bool evaporatorUnit = c.variant == 1 || c.variant == 9;
  EXPECT_EQ(fake::RowTrimmed(16).substr(0, 13),
            evaporatorUnit ? " tt_Cooler   " : " t_HeatEff.  ");
  EXPECT_EQ(fake::RowTrimmed(18).substr(0, 13),
            evaporatorUnit ? " tt_Defrost  " : " t_CoolEff.  ");
  EXPECT_EQ(fake::RowTrimmed(15).substr(0, 13), " t_Heater    ");
  EXPECT_EQ(fake::RowTrimmed(17).substr(0, 13), " t_Cooler    ");
  EXPECT_EQ(fake::RowTrimmed(19).substr(0, 13), " t_Humidiy   ");
  EXPECT_EQ(Contains(all, "RD DM991") || Contains(all, "RD DM88"),
            evaporatorUnit);
}

const std::vector<VariantCase> kVariantCases = {
    {{{"RD 3000", "1"}, {"RD 3003", "0"}}, 1, {"RD 3000", "RD 3003"}},
    {{{"RD 3000", "1"}, {"RD 3003", "1"}}, 9, {"RD 3000", "RD 3003"}},
    {{{"RD 3000", "1"}, {"RD 3003", "E1"}}, 9, {"RD 3000", "RD 3003"}},
    {{{"RD 3000", "0"}, {"RD 3004", "1"}, {"RD 3003", "0"}},
     1,
     {"RD 3000", "RD 3004", "RD 3003"}},
    {{{"RD 3000", "0"}, {"RD 3004", "1"}, {"RD 3003", "1"}},
     9,
     {"RD 3000", "RD 3004", "RD 3003"}},
    {{{"RD 3000", "0"}, {"RD 3004", "0"}, {"RD 3001", "1"}},
     2,
     {"RD 3000", "RD 3004", "RD 3001"}},
    {{{"RD 3000", "0"}, {"RD 3004", "0"}, {"RD 3001", "0"}},
     3,
     {"RD 3000", "RD 3004", "RD 3001"}},
    // Relay replies match only as the whole one-character text.
    {{{"RD 3000", "1 "}, {"RD 3004", "01"}, {"RD 3001", " 1"}},
     3,
     {"RD 3000", "RD 3004", "RD 3001"}},
    {{{"RD 3000", "11"}, {"RD 3004", "1"}, {"RD 3003", "0 "}},
     9,
     {"RD 3000", "RD 3004", "RD 3003"}},
};

INSTANTIATE_TEST_SUITE_P(Relays, VariantTable,
                         ::testing::ValuesIn(kVariantCases));

// Runs start-up with scripted replies and stops in the first cycle.
ProgramRun& StartWith(ProgramRun& run,
                      const std::map<std::string, std::string>& replies) {
  for (const auto& [request, reply] : replies) {
    run.Wire().ScriptReply(request, reply);
  }
  run.TypePort();
  EXPECT_TRUE(run.Start());
  return run;
}

TEST(Startup, SendsTheHandshakeSequenceInOrder) {
  ProgramRun run;
  StartWith(run, {{"RD 3000", "1"}, {"RD 3003", "1"}});
  const std::vector<std::string> expected = {
      "CR",       "WR DM901 0", "RD 7000",  "RD 3000",  "RD 3003", "RD DM890",
      "RD DM893", "RD DM894",   "RD 3000",  "RD DM891", "RD T106", "RD T107",
      "RD DM109", "RD DM108",   "RD DM992", "RD DM89"};
  EXPECT_EQ(run.Wire().RequestTexts(), expected);
  // The prompt and the typed port are gone; the first screen is blank.
  EXPECT_EQ(fake::RowTrimmed(1), "");
  EXPECT_EQ(CycleCounter, 2);
  EXPECT_EQ(SampleCount, 0);
  EXPECT_TRUE(EvaporatorSensor);
  // Blue on light grey; the resize to 49 by 24 is only half granted, and
  // the visible window keeps its size, all of it laid out.
  EXPECT_EQ(fake::AttrAt(2, 3), 0x71);
  EXPECT_EQ(fake::ConsoleBuffer().Window().Right, 79);
  EXPECT_EQ(fake::ConsoleBuffer().Window().Bottom, 24);
  EXPECT_EQ(MonitorWidth, 80);
  // The animations start from their first frames.
  EXPECT_EQ(VentPhase, 1);
  EXPECT_EQ(TempCtlPhase, 0);
  EXPECT_EQ(FloorHtrPhase, 1);
}

TEST(Startup, SetPointsTimerMinimaAndSystemNumberFromTheController) {
  ProgramRun run;
  StartWith(run, {{"RD DM890", "225"},
                  {"RD DM893", "65036"},  // signed: -500
                  {"RD DM894", "30"},
                  {"RD DM891", "100"},
                  {"RD T106", "OK00012 00600"},
                  {"RD T107", "OK00345 00900"},
                  {"RD DM109", "65535"},
                  {"RD 3000", "1"}});
  EXPECT_EQ(TempSetPoint, 225);
  EXPECT_EQ(RhSetPoint, -500);
  EXPECT_EQ(Co2SetPoint, 30);
  EXPECT_EQ(DefrostTarget, 100);
  EXPECT_EQ(MinT106, 12);
  EXPECT_EQ(MinT107, 345);
  EXPECT_EQ(SystemNumber, 65535);
}

TEST(Startup, EvaporatorDetectionStopsAtTheFirstOn) {
  ProgramRun run;
  // Variant 3 (3000, 3004, 3001 off), then the evaporator relays.
  StartWith(
      run,
      {{"RD 3000", "0"}, {"RD 3004", "0"}, {"RD 3001", "0"}, {"RD 3003", "1"}});
  const auto all = run.Wire().RequestTexts();
  EXPECT_EQ(Between(all, "RD DM894", "RD T106"),
            (std::vector<std::string>{"RD 3000", "RD 3003", "RD DM891"}));
  EXPECT_TRUE(EvaporatorSensor);
  EXPECT_EQ(ControllerVariant, 3);
}

TEST(Startup, NoEvaporatorSensorLeavesTheDefrostTargetAtZero) {
  ProgramRun run;
  StartWith(run, {{"RD 3000", "0"},
                  {"RD 3004", "0"},
                  {"RD 3001", "1"},
                  {"RD 3003", "0"},
                  {"RD DM891", "100"}});
  const auto all = run.Wire().RequestTexts();
  EXPECT_EQ(Between(all, "RD DM894", "RD T106"),
            (std::vector<std::string>{"RD 3000", "RD 3003", "RD 3004"}));
  EXPECT_FALSE(EvaporatorSensor);
  EXPECT_EQ(DefrostTarget, 0);
}

struct ProbeCase {
  std::string reply;  // to "RD 7000"; "<none>": no reply at all
  bool error;
};

std::ostream& operator<<(std::ostream& os, const ProbeCase& c) {
  return os << "'" << c.reply << "'";
}

class RelayProbe : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(RelayProbe, ErrorReplySelectsTheSecondRelaySet) {
  ProgramRun run;
  if (GetParam().reply == "<none>") {
    run.Wire().Fault("RD 7000", zrvsim::FaultKind::kSilence);
  } else {
    run.Wire().ScriptReply("RD 7000", GetParam().reply);
  }
  run.TypePort();
  ASSERT_TRUE(run.Start());
  run.Cycle();
  const bool error = GetParam().error;
  EXPECT_EQ(Relay7000Error, error);
  const std::vector<std::string> relays =
      error ? std::vector<std::string>{"RD 604", "RD 605", "RD 606", "RD 607"}
            : std::vector<std::string>{"RD 512", "RD 513", "RD 514", "RD 515"};
  const auto all = run.Wire().RequestTexts();
  for (const auto& r : relays) EXPECT_TRUE(Contains(all, r)) << r;
  EXPECT_EQ(scenario::Cells(9, 2, 21),
            std::string("Vent.         (") + (error ? "604" : "512") + ") ");
  EXPECT_EQ(scenario::Cells(12, 2, 21),
            std::string("TempMode      (") + (error ? "607" : "515") + ") ");
}

INSTANTIATE_TEST_SUITE_P(
    Replies, RelayProbe,
    ::testing::Values(ProbeCase{"E1", true}, ProbeCase{"E", true},
                      ProbeCase{"0", false}, ProbeCase{"1", false},
                      ProbeCase{"", false}, ProbeCase{"<none>", false},
                      ProbeCase{" E1", false}));

struct RevisionCase {
  std::string revision;
  std::string raw;  // DM992 at start-up
  std::uint16_t interval;
  bool offsetScale;
  bool readsDm89;
};

std::ostream& operator<<(std::ostream& os, const RevisionCase& c) {
  return os << "revision " << c.revision << " raw " << c.raw;
}

class Revision : public ::testing::TestWithParam<RevisionCase> {};

TEST_P(Revision, DecidesDefrostIntervalAndScale) {
  const RevisionCase& c = GetParam();
  ProgramRun run;
  StartWith(
      run, {{"RD DM108", c.revision}, {"RD DM992", c.raw}, {"RD DM89", "360"}});
  EXPECT_EQ(DefrostInterval, c.interval);
  EXPECT_EQ(OffsetScale, c.offsetScale);
  EXPECT_EQ(run.Wire().Count("RD DM89"), c.readsDm89 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Thresholds, Revision,
    ::testing::Values(RevisionCase{"7122", "0", 4320, true, false},
                      RevisionCase{"7123", "0", 360, true, true},
                      RevisionCase{"65535", "0", 360, true, true},
                      RevisionCase{"7000", "0", 4320, true, false},
                      RevisionCase{"6999", "7500", 4320, false, false},
                      RevisionCase{"6999", "7501", 4320, true, false},
                      // Signed raw: 40000 arrives as -25536.
                      RevisionCase{"6999", "40000", 4320, false, false}));

TEST(Startup, DefrostIntervalTakesTheLeadingDigitsOfItsReply) {
  ProgramRun run;
  StartWith(run, {{"RD DM108", "7200"}, {"RD DM89", "70000x"}});
  EXPECT_EQ(DefrostInterval, static_cast<std::uint16_t>(70000));
}

TEST(Startup, TitleNamesSystemNumberAndPort) {
  ProgramRun run;
  StartWith(run, {{"RD DM109", "12"}});
  EXPECT_EQ(fake::Title(), " Pav (#12, C3)");
}

// R and Y typed while start-up still reads: the keys wait for polling, so
// identification, scale and title are the controller's own, and the reset
// comes in the first cycles.
TEST(Startup, HotKeysTypedDuringStartUpWaitForPolling) {
  zrvsim::Options options;
  options.unit.system = 12;
  options.unit.noise = 0;
  ProgramRun run(options);
  run.TypePort();
  fake::Type("r", 150 * kMs);  // during the handshake and relay reads
  fake::Type("y", 3 * kSecond);
  run.PressEsc(6 * kSecond);
  EXPECT_EQ(run.Run(), 0);
  EXPECT_EQ(fake::Title(), " Pav (#12, C3)");
  EXPECT_TRUE(OffsetScale);
  EXPECT_EQ(fake::RowTrimmed(1), " System        #  12    ComPort 3");
  EXPECT_EQ(scenario::Cells(3, 22, 46), "C  /   22.50 C  /   18.00");
  EXPECT_EQ(run.Wire().Count("WR DM117 0"), 1);
}

TEST(Startup, TwoDigitPortOpensTheDeviceNamespaceName) {
  ProgramRun run({}, {}, "\\\\.\\COM12");
  run.Wire().ScriptReply("RD DM109", "7");
  run.TypePort(" 12\r");
  run.PressEsc(2 * kSecond);
  EXPECT_EQ(run.Run(), 0);
  EXPECT_EQ(fake::Title(), " Pav (#7, C12)");
  EXPECT_EQ(fake::RowTrimmed(1), " System        #   7    ComPort 12");
}

TEST(Startup, NonNumericPortEntryStopsBeforeAnythingIsSent) {
  ProgramRun run;
  run.TypePort("3a\r");
  EXPECT_NE(run.Run(), 0);
  EXPECT_FALSE(run.starved);
  ASSERT_EQ(fake::RuntimeErrors().size(), 1u);
  EXPECT_NE(fake::RuntimeErrors()[0].find("Invalid numeric input"),
            std::string::npos);
  bool shown = false;
  for (int r = 1; r <= 25; ++r) {
    shown |= fake::Row(r).find("Invalid numeric input") != std::string::npos;
  }
  EXPECT_TRUE(shown);
  // The port list under the prompt is gone again.
  EXPECT_EQ(fake::RowTrimmed(3), "");
  EXPECT_EQ(fake::SentText("COM3"), "");
  EXPECT_TRUE(fake::OpenedNames().empty() ||
              std::find(fake::OpenedNames().begin(), fake::OpenedNames().end(),
                        "COM3") == fake::OpenedNames().end());
}

TEST(Startup, KeysTypedBeforeTheProgramWasReadyAreNotTheAnswer) {
  ProgramRun run({}, {.bufferColumns = 100,
                      .bufferRows = 300,
                      .windowColumns = 80,
                      .windowRows = 25});
  fake::Type("5\r", 0);
  run.TypePort();
  run.PressEsc(2 * kSecond);
  EXPECT_EQ(run.Run(), 0);
  EXPECT_EQ(ActivePort, 3);
  EXPECT_EQ(run.Wire().Requests().front().text, "CR");
  // The visible window, not the buffer behind it.
  EXPECT_EQ(SavedScreenColumns, 80);
  EXPECT_EQ(SavedScreenRows, 25);
}

// A new Windows console: a buffer of 120 x 9001 cells behind a window of
// 120 x 30. The monitor and a terminal session lie in the visible window.
TEST(Startup, LargeConsoleBufferLaysOutInTheVisibleWindow) {
  ProgramRun run({}, {.bufferColumns = 120,
                      .bufferRows = 9001,
                      .windowColumns = 120,
                      .windowRows = 30});
  run.TypePort();
  ASSERT_TRUE(run.Start());
  const plat::SMALL_RECT visible = fake::ConsoleBuffer().Window();
  EXPECT_EQ(visible.Right, 119);
  EXPECT_EQ(visible.Bottom, 29);
  EXPECT_EQ(ScreenColumns(), 120);
  EXPECT_EQ(ScreenRows(), 30);
  fake::Key("t", fake::Now() + 10 * kMs);
  fake::Type("RD DM890\r", fake::Now() + 500 * kMs, 10 * kMs);
  fake::Key("Esc", fake::Now() + 1500 * kMs);
  run.Cycle();
  // The terminal's box, shadow and closing clear stayed in view: below
  // the window the buffer keeps the console's own colours; the monitor's
  // rows are back after it.
  EXPECT_EQ(run.Wire().Count("RD DM890"), 2);  // start-up's and the typed one
  EXPECT_EQ(fake::AttrAt(120, 30), 0x71);
  for (int row = 31; row <= 9001; row += 10) ASSERT_EQ(fake::AttrAt(1, row), 0x07) << row;
  EXPECT_EQ(fake::RowTrimmed(3).substr(0, 6), " Temp.");
}

// --port takes the port without the prompt; a bad one stops the run
// before anything is opened or sent.
TEST(Startup, PortOnTheCommandLineSkipsThePrompt) {
  {
    ProgramRun run;
    run.PressEsc(3 * kSecond);
    EXPECT_EQ(run.Run({"--port", "3"}), 0);
    EXPECT_EQ(ActivePort, 3);
    EXPECT_EQ(run.Wire().Requests().front().text, "CR");
    EXPECT_NE(fake::Title().find(", C3)"), std::string::npos) << fake::Title();
  }
  for (const char* bad : {"--port=0", "--port=129", "--port=3x", "--port"}) {
    ProgramRun run;
    EXPECT_EQ(run.Run({bad}), 2) << bad;
    EXPECT_TRUE(run.Wire().Requests().empty()) << bad;
  }
}

TEST(Startup, PromptWaitsThroughEmptyLinesAndDiscardsTheRestOfTheLine) {
  ProgramRun run;
  run.TypePort("\r\r  3 x\r");
  ASSERT_TRUE(run.Start());
  EXPECT_EQ(ActivePort, 3);
  EXPECT_EQ(run.Wire().Requests().front().text, "CR");
}

// The ports there are, one a row under the prompt; the entry echoes right
// after the prompt as before. Nothing typed but a digit: the run stops
// waiting for the rest at the prompt.
TEST(PortList, ShowsEachPortUnderThePrompt) {
  SimWire other;
  ProgramRun run;
  other.Bind("COM1");
  run.TypePort("1");
  EXPECT_EQ(run.Run(), -1);
  EXPECT_EQ(fake::RowTrimmed(1), "Enter Comport 1");
  EXPECT_EQ(fake::RowTrimmed(2), "");
  EXPECT_EQ(fake::RowTrimmed(3), "COM1  \\Device\\Serial0");
  EXPECT_EQ(fake::RowTrimmed(4), "COM3  \\Device\\Serial2");
  EXPECT_EQ(fake::RowTrimmed(5), "");
  EXPECT_EQ(fake::Cursor().X, 15);
  EXPECT_EQ(fake::Cursor().Y, 0);
}

TEST(PortList, NoPortSaysSoWithThePlatformsHint) {
  ProgramRun run({}, {}, "");
  EXPECT_EQ(run.Run(), -1);
  EXPECT_EQ(fake::RowTrimmed(1), "Enter Comport");
  EXPECT_EQ(fake::RowTrimmed(3),
            "No serial port found; bind one with fake::BindSerial");
  EXPECT_EQ(fake::Cursor().X, 14);
}

// Either listed number opens its own device, and the list goes with the
// prompt.
TEST(PortList, EitherNumberOpensItsDeviceAndTheListGoes) {
  for (const int port : {1, 3}) {
    SimWire other;
    ProgramRun run;
    other.Bind("COM1");
    run.TypePort(std::to_string(port) + "\r");
    run.PressEsc(2 * kSecond);
    ASSERT_EQ(run.Run(), 0);
    EXPECT_EQ(fake::Title(), " Pav (#1, C" + std::to_string(port) + ")");
    SimWire& used = port == 1 ? other : run.Wire();
    SimWire& unused = port == 1 ? run.Wire() : other;
    ASSERT_FALSE(used.Requests().empty());
    EXPECT_EQ(used.Requests().front().text, "CR");
    EXPECT_TRUE(unused.Requests().empty());
    EXPECT_EQ(fake::RowTrimmed(3).substr(0, 6), " Temp.");
    for (int r = 1; r <= 25; ++r) {
      EXPECT_EQ(fake::Row(r).find("COM"), std::string::npos) << r;
    }
  }
}

class PortOutOfRange : public ::testing::TestWithParam<std::string> {};

// A number without a COM slot opens nothing and sends nothing; the monitor
// runs on silent replies and still ends on Esc.
TEST_P(PortOutOfRange, RunsOnSilentRepliesAndEndsOnEsc) {
  ProgramRun run;
  run.TypePort(GetParam() + "\r");
  run.PressEsc(90 * kSecond);  // every request waits its 0.8 s
  EXPECT_EQ(run.Run(), 0);
  EXPECT_FALSE(run.starved);
  for (const std::string& name : fake::OpenedNames()) {
    EXPECT_EQ(name.find("COM"), std::string::npos) << name;
  }
  EXPECT_TRUE(run.Wire().Requests().empty());
  EXPECT_EQ(fake::Title(), " Pav (#0, C" + GetParam() + ")");
  EXPECT_EQ(fake::RowTrimmed(1),
            " System        #   0    ComPort " + GetParam());
  EXPECT_EQ(fake::RowTrimmed(3),
            " Temp.          0.00 C  /    0.00 C  /    0.00 C");
  EXPECT_GE(SampleCount, 2);
}

INSTANTIATE_TEST_SUITE_P(Entries, PortOutOfRange,
                         // 65539 and -65533 are 3 in their low 16 bits.
                         ::testing::Values("0", "129", "200", "-5", "65539",
                                           "-65533", "2147483647"),
                         [](const auto& info) {
                           std::string name = info.param;
                           if (name[0] == '-') name = "minus" + name.substr(1);
                           return "port_" + name;
                         });

// A controller that never answers: every reply is empty.
void ExpectSilentControllerRun(ProgramRun& run) {
  run.TypePort();
  run.PressEsc(60 * kSecond);  // every request waits its 0.8 s
  EXPECT_EQ(run.Run(), 0);
  EXPECT_EQ(ControllerVariant, 3);
  EXPECT_FALSE(EvaporatorSensor);
  EXPECT_FALSE(Relay7000Error);
  EXPECT_EQ(MinT106, 65535);
  EXPECT_EQ(MinT107, 65535);
  EXPECT_EQ(SystemNumber, 0);
  EXPECT_EQ(DefrostInterval, 4320);
  EXPECT_FALSE(OffsetScale);
  EXPECT_EQ(scenario::Cells(9, 2, 20), "Vent.         (512)");
  EXPECT_EQ(scenario::Cells(12, 2, 20), "TempMode      (515)");
  EXPECT_EQ(fake::RowTrimmed(3),
            " Temp.          0.00 C  /    0.00 C  /    0.00 C");
  EXPECT_EQ(fake::RowTrimmed(20), " t106          65535  t107 65535");
  EXPECT_EQ(fake::RowTrimmed(6), "");
  EXPECT_EQ(fake::RowTrimmed(7), "");
  EXPECT_EQ(fake::Title(), " Pav (#0, C3)");
}

TEST(SilentController, NoDeviceAtAll) {
  ProgramRun run({}, {}, "");
  ExpectSilentControllerRun(run);
  EXPECT_EQ(fake::RowTrimmed(22), "COM3: no such device");
}

TEST(SilentController, DeadLine) {
  ProgramRun run;
  run.Wire().SetSilent(true);
  ExpectSilentControllerRun(run);
  EXPECT_TRUE(std::regex_match(
      fake::RowTrimmed(22),
      std::regex("No reply from the controller since \\d\\d:\\d\\d:\\d\\d")))
      << fake::RowTrimmed(22);
  // The disconnect still goes out, unanswered.
  EXPECT_EQ(run.Wire().RequestTexts().back(), "CQ");
  EXPECT_EQ(fake::OpenHandleCount("COM3"), 0);
}

}  // namespace
