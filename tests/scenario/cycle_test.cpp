// SPDX-License-Identifier: MIT
// The polling cycle on a controller in a known state: the exact screen
// rows, the averages, the defrost line, which cycles paint the counters and
// refresh the set points.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "console/screen.h"
#include "monitor/monitor.h"
#include "monitor/rows.h"
#include "monitor/state.h"
#include "platform/platform.h"
#include "record/control.h"
#include "record/metrics.h"
#include "record/mqtt.h"
#include "record/record.h"
#include "known_unit.h"
#include "scenario.h"

namespace {

using scenario::Cells;
using scenario::Contains;
using scenario::CountOf;
using scenario::kMs;
using known_unit::Cycle;
using known_unit::KnownState;
using known_unit::Replies;

}  // namespace

void known_unit::Cycle::ExpectKnownScreen() {
  EXPECT_EQ(fake::RowTrimmed(1), " System        #  12    ComPort 3");
  EXPECT_EQ(fake::RowTrimmed(2), "");
  EXPECT_EQ(fake::RowTrimmed(3), std::string(" Temp.        ") + " 22.50" +
                                     " C  /  " + " 22.50" + " C  /  " +
                                     " 22.50" + " C");
  EXPECT_EQ(fake::RowTrimmed(4), std::string(" RH           ") + " 50.00" +
                                     " %  /  " + " 50.00" + " %  /  " +
                                     " 50.00" + " %");
  EXPECT_EQ(fake::RowTrimmed(5), std::string(" CO2          ") + "  0.40" +
                                     " %  /  " + "  0.30" + " %");
  EXPECT_EQ(fake::RowTrimmed(6),
            std::string(" Evap.Temp.   ") + " 20.00" + " C");
  // DM88 480 less the interval of 360 minutes: two hours.
  EXPECT_EQ(fake::RowTrimmed(7), std::string(" Defrost in   ") + "  2.00" +
                                     " hrs to" + " 10.00" + " C");
  EXPECT_EQ(Cells(9, 1, 21), " Vent.         (512) ");
  EXPECT_EQ(Cells(10, 1, 22), " Temp.Ctl      (513) -");
  EXPECT_EQ(Cells(11, 1, 21), " FloorHtr      (514) ");
  EXPECT_EQ(fake::RowTrimmed(12), " TempMode      (515) C");
  EXPECT_EQ(fake::RowTrimmed(13), "");
  EXPECT_EQ(fake::RowTrimmed(14), std::string(" tTotal      ") + "   7200" +
                                      " s  /  " + "   2.0" + " h");
  ExpectHead(15, std::string(" t_Heater    ") + "   3600" + " s  / " +
                     "   50.0" + " % ");
  ExpectHead(16, std::string(" tt_Cooler   ") + "      0" + " s  / " +
                     "    0.0" + " % ");
  ExpectHead(17, std::string(" t_Cooler    ") + "      0" + " s  / " +
                     "    0.0" + " % ");
  ExpectHead(18, std::string(" tt_Defrost  ") + "      0" + " s  / " +
                     "    0.0" + " % ");
  ExpectHead(19, std::string(" t_Humidiy   ") + "      1" + " s  / " +
                     "    0.0" + " % ");
  EXPECT_EQ(fake::RowTrimmed(20), " t106             12  t107   345");
  EXPECT_EQ(fake::RowTrimmed(21), "");
}

namespace {

TEST_F(Cycle, KnownControllerStatePaintsTheseRows) {
  Start();
  run.Cycle();
  ExpectKnownScreen();
}

// A controller with a long scan time, or a slow path, in ms: every reply
// still comes within the wait and is taken for its own request alone, also
// when only one in five is slow.
class SlowController : public Cycle,
                       public ::testing::WithParamInterface<const char*> {};

TEST_P(SlowController, PaintsTheSameRows) {
  Script();
  std::string why;
  const auto rule = zrvsim::ParseFaultRule(GetParam(), why);
  ASSERT_TRUE(rule) << why;
  run.Wire().AddFault(*rule);
  Begin();
  run.Cycle();
  ExpectKnownScreen();
}

INSTANTIATE_TEST_SUITE_P(Latency, SlowController,
                         ::testing::Values("*:latency:45", "*:latency:200",
                                           "*:latency:600",
                                           "*:latency,every=5:500"));

TEST_F(Cycle, PlainScaleDividesByForty) {
  Start({{"RD DM108", "6999"}, {"RD DM992", "900"}, {"RD DM993", "2000"}});
  ASSERT_FALSE(OffsetScale);
  run.Cycle();
  EXPECT_EQ(Cells(3, 15, 20), " 22.50");
  EXPECT_EQ(Cells(4, 15, 20), " 50.00");
  EXPECT_EQ(Cells(4, 28, 33), " 50.00");
}

TEST_F(Cycle, SignedReadingAboveTheBoundArrivesNegative) {
  Start({{"RD DM992", "32769"}});
  run.Cycle();
  EXPECT_EQ(TempSum, -32767);
  // -32767 / 320 - 50, wider than its field.
  EXPECT_EQ(fake::RowTrimmed(3), std::string(" Temp.        ") + "-152.40" +
                                     " C  /  " + " 22.50" + " C  /  " +
                                     "-152.40" + " C");
}

TEST_F(Cycle, AveragesRunOverSixtyFourBitSums) {
  Start();
  zrvsim::FaultRule later;
  later.match = "RD DM992";
  later.kind = zrvsim::FaultKind::kReply;
  later.arg = "16000";
  later.after = 1;  // the first cycle's read
  run.Wire().AddFault(later);

  run.Cycle();  // first cycle: the average is the value itself
  EXPECT_EQ(SampleCount, 1);
  EXPECT_EQ(Cells(3, 15, 20), " 22.50");
  EXPECT_EQ(Cells(3, 41, 46), " 22.50");

  run.Cycle();  // (23200 + 16000) / 2 / 320 - 50
  EXPECT_EQ(Cells(3, 15, 20), "  0.00");
  EXPECT_EQ(Cells(3, 41, 46), " 11.25");

  // Far beyond 32 bits: a billion readings of 16000.
  SampleCount = TempSamples = RhSamples = 1000000000;
  TempSum = std::int64_t{16000} * SampleCount;
  RhSum = std::int64_t{16000} * SampleCount;
  run.Cycle();
  EXPECT_EQ(Cells(3, 41, 46), "  0.00");
  EXPECT_EQ(Cells(4, 41, 46), " 50.00");
}

// One DM992 reply in four lost: the average counts the answered reads
// alone. A long defrost figure, then a short one, leaves no tail behind.
TEST_F(Cycle, LostRepliesLeaveTheAverageAndShortLinesLeaveNoTail) {
  Start({{"RD DM88", "100"}});
  zrvsim::FaultRule lost;
  lost.match = "RD DM992";
  lost.kind = zrvsim::FaultKind::kLost;
  lost.every = 4;
  run.Wire().AddFault(lost);
  run.Cycle();
  EXPECT_EQ(fake::RowTrimmed(7), " Defrost in   1087.93 hrs to 10.00 C");
  run.Wire().ScriptReply("RD DM88", "480");
  for (int i = 0; i < 7; ++i) run.Cycle();
  EXPECT_EQ(TempSamples, 6);
  EXPECT_EQ(Cells(3, 41, 46), " 22.50");
  EXPECT_EQ(fake::RowTrimmed(7), " Defrost in     2.00 hrs to 10.00 C");
}

// Row 22 speaks once three requests in a row failed, and is blank again
// after a cycle of good replies.
TEST_F(Cycle, LinkStateRowTellsOfGarbageAndSilence) {
  Start();
  run.Wire().Fault("*", zrvsim::FaultKind::kGarbage, "", 30);  // a cycle's
  run.Cycle();
  EXPECT_TRUE(std::regex_match(
      fake::RowTrimmed(22),
      std::regex(R"(Replies unusable since \d\d:\d\d:\d\d \(wrong baud rate or device\?\))")))
      << fake::RowTrimmed(22);
  run.Cycle();
  run.Cycle();
  EXPECT_EQ(fake::RowTrimmed(22), "");
  run.Wire().SetSilent(true);
  run.Cycle();
  EXPECT_EQ(fake::RowTrimmed(22).substr(0, 35), "No reply from the controller since ");
  run.Wire().SetSilent(false);
  run.Cycle();
  EXPECT_EQ(fake::RowTrimmed(22), "");
}

TEST_F(Cycle, NextDefrostInMinutesWithTheSecondRelaySet) {
  Start({{"RD 7000", "E1"}, {"RD DM87", "45"}, {"RD 605", "1"}});
  const auto requests = run.Cycle();
  EXPECT_EQ(fake::RowTrimmed(7), std::string("  Next Def. in ") + "    45" +
                                     " min to" + " 10.00" + " C");
  EXPECT_FALSE(Contains(requests, "RD DM88"));
}

TEST_F(Cycle, DefrostCountdownWrapsAsASixteenBitWord) {
  // Interval 4320 and DM88 100: 61316 minutes to go.
  Start({{"RD DM108", "7122"}, {"RD DM88", "100"}, {"RD DM87", "10"}});
  const auto requests = run.Cycle();
  EXPECT_EQ(fake::RowTrimmed(7), std::string(" Defrost in   ") + "1021.93" +
                                     " hrs to" + " 10.00" + " C");
  // DM88 before DM87, both unguarded, after the CO2 line.
  EXPECT_EQ(scenario::Between(requests, "RD DM991", "RD DM109"),
            (std::vector<std::string>{"RD DM88", "RD DM87"}));
}

TEST_F(Cycle, DefrostInSecondsWhileTemperatureControlIsOn) {
  // 120 minutes to go; DM87 counts seconds.
  Start({{"RD DM108", "7122"},
         {"RD DM88", "4440"},
         {"RD DM87", "7000"},
         {"RD 513", "1"}});
  run.Cycle();
  EXPECT_EQ(Cells(7, 15, 20), "  1.94");  // 7000 < 7200: 7000 / 3600

  run.Wire().ScriptReply("RD DM87", "7200");
  run.Cycle();
  EXPECT_EQ(Cells(7, 15, 20), "  2.00");  // not less: 120 / 60

  run.Wire().ScriptReply("RD DM87", "7000");
  run.Wire().ScriptReply("RD 513", "1 ");
  run.Cycle();
  EXPECT_EQ(Cells(7, 15, 20), "  2.00");  // Temp.Ctl not exactly "1"
}

TEST_F(Cycle, VariantTwoHasNoEvaporatorRows) {
  Start({{"RD 3000", "0"}, {"RD 3004", "0"}, {"RD 3001", "1"}});
  ASSERT_EQ(ControllerVariant, 2);
  std::vector<std::string> all;
  for (int i = 0; i < 3; ++i) {
    const auto requests = run.Cycle();
    all.insert(all.end(), requests.begin(), requests.end());
  }
  EXPECT_FALSE(Contains(all, "RD DM87"));
  EXPECT_FALSE(Contains(all, "RD DM88"));
  EXPECT_FALSE(Contains(all, "RD DM991"));
  EXPECT_EQ(fake::RowTrimmed(6), "");
  EXPECT_EQ(fake::RowTrimmed(7), "");
  EXPECT_EQ(fake::Row(16).substr(0, 13), " t_HeatEff.  ");
  EXPECT_EQ(fake::Row(18).substr(0, 13), " t_CoolEff.  ");
}

TEST_F(Cycle, VariantOneWithoutEvaporatorSensor) {
  // Relay 3000 is on only for the variant detection.
  Script({{"RD 3000", "0"}, {"RD 3003", "0"}, {"RD 3004", "0"}});
  run.Wire().ScriptReply("RD 3000", "1", 1);
  Begin();
  ASSERT_EQ(ControllerVariant, 1);
  ASSERT_FALSE(EvaporatorSensor);

  const auto requests = run.Cycle();
  EXPECT_FALSE(Contains(requests, "RD DM991"));
  EXPECT_EQ(fake::RowTrimmed(6), "");
  EXPECT_EQ(fake::RowTrimmed(7), std::string(" Defrost in   ") + "  2.00" +
                                     " hrs to" + "  0.00" + " C");
}

TEST_F(Cycle, ClearedLineBlanksUpToTheLastColumnButOne) {
  Start();
  ASSERT_EQ(MonitorWidth, 80);
  MoveCursor(1, 3);
  ConsoleWrite(std::string(79, 'X'));
  MoveCursor(80, 3);
  ConsoleWrite("X");
  const std::size_t runsBefore = fake::WriteRuns().size();

  MoveCursor(2, 3);
  PrintClearedLine("ab");
  EXPECT_EQ(fake::Row(3), "Xab" + std::string(76, ' ') + "X");
  EXPECT_EQ(CursorColumn(), 4);
  EXPECT_EQ(CursorRow(), 3);
  // 78 blanks, then the text.
  int blanks = 0;
  for (std::size_t i = runsBefore; i < fake::WriteRuns().size() - 1; ++i) {
    blanks += fake::WriteRuns()[i];
  }
  EXPECT_EQ(blanks, 78);
  EXPECT_EQ(fake::WriteRuns().back(), 2);
}

TEST_F(Cycle, ClearedLineBlanksAtMost255AndReadsTheRowAfterThem) {
  Start();
  // A width beyond the screen's: the blanks wrap over the next rows.
  MonitorWidth = 400;
  for (int row = 3; row <= 8; ++row) {
    MoveCursor(1, row);
    ConsoleWrite(std::string(row == 8 ? 79 : 80, 'X'));
  }
  MoveCursor(2, 3);
  PrintClearedLine("ab");
  // 255 blanks from column 2 of row 3 end in column 16 of row 6, and the
  // text goes to that row, in the column the cursor started in.
  EXPECT_EQ(fake::Row(3), "X" + std::string(79, ' '));
  EXPECT_EQ(fake::RowTrimmed(5), "");
  EXPECT_EQ(fake::Row(6), " ab" + std::string(13, ' ') + std::string(64, 'X'));
  EXPECT_EQ(fake::Row(7), std::string(80, 'X'));
}

TEST_F(Cycle, ClearedLineAtOrBeyondTheWidthBlanksNothing) {
  Start();
  MonitorWidth = 10;
  MoveCursor(1, 3);
  ConsoleWrite(std::string(40, 'X'));
  for (int column : {10, 13}) {
    MoveCursor(column, 3);
    PrintClearedLine("ab");
  }
  EXPECT_EQ(fake::RowTrimmed(3),
            std::string(9, 'X') + "abXab" + std::string(26, 'X'));
}

// Any reply, however large or negative, shows as some number: nothing in
// the cycle divides by zero or overflows.
class HostileController : public ::testing::TestWithParam<const char*> {};

TEST_P(HostileController, EveryReplyTheSame) {
  ProgramRun run;
  run.Wire().ScriptReply("*", GetParam());
  // An evaporator unit, so that the defrost arithmetic runs too.
  for (const char* relay : {"RD 3000", "RD 3003", "RD 513"}) {
    run.Wire().ScriptReply(relay, "1");
  }
  run.TypePort();
  ASSERT_TRUE(run.Start());
  ASSERT_EQ(ControllerVariant, 9);
  for (int cycle = 1; cycle <= 11; ++cycle) run.Cycle();
  EXPECT_EQ(SampleCount, 11);
  EXPECT_EQ(fake::RowTrimmed(3).substr(0, 14), " Temp.        ");
  EXPECT_EQ(fake::RowTrimmed(7).substr(0, 14), " Defrost in   ");
  EXPECT_EQ(fake::RowTrimmed(14).substr(0, 13), " tTotal      ");
}

INSTANTIATE_TEST_SUITE_P(Replies, HostileController,
                         ::testing::Values("65535", "32768", "99999999999",
                                           "-99999999999", "-2147483648",
                                           "\xff\xfe", ""));

TEST_F(Cycle, AllOnesFromTheController) {
  Script();
  run.Wire().ScriptReply("RD DM*", "65535");
  Begin();
  run.Cycle();
  EXPECT_EQ(DefrostInterval, 65535);
  EXPECT_EQ(Cells(3, 15, 46), "-50.00 C  /   -0.10 C  /  -50.00");
  EXPECT_EQ(Cells(6, 15, 20), "-50.05");
  // DM88 less an interval of 65535 leaves no time to go.
  EXPECT_EQ(fake::RowTrimmed(7), std::string(" Defrost in   ") + "  0.00" +
                                     " hrs to" + " -0.10" + " C");
  EXPECT_EQ(fake::RowTrimmed(14), std::string(" tTotal      ") + "4294967295" +
                                      " s  /  " + "1193046.5" + " h");
  EXPECT_EQ(fake::Row(15).substr(0, 39), std::string(" t_Heater    ") +
                                             "4294967295" + " s  / " +
                                             "  100.0" + " % ");
}

TEST_F(Cycle, CycleCounterWrapsAfterItsLargestValue) {
  Start();
  CycleCounter = 2147483647;
  EXPECT_FALSE(Contains(run.Cycle(), "RD DM117"));
  EXPECT_EQ(CycleCounter, -2147483647 - 1);
  // Even and odd keep alternating across the wrap.
  EXPECT_TRUE(Contains(run.Cycle(), "RD DM117"));
  EXPECT_FALSE(Contains(run.Cycle(), "RD DM117"));
}

TEST_F(Cycle, CountersOnOddCyclesSetPointsOnTheNinth) {
  Start();
  for (int cycle = 1; cycle <= 20; ++cycle) {
    const auto requests = run.Cycle();
    EXPECT_EQ(Contains(requests, "RD DM117"), cycle % 2 == 1) << cycle;
    EXPECT_EQ(Contains(requests, "RD T106"), cycle % 2 == 1) << cycle;
    const bool refresh = cycle == 9 || cycle == 19;
    EXPECT_EQ(CountOf(requests, "RD DM890"), refresh ? 1 : 0) << cycle;
    if (refresh) {
      // After the counters block, in set-point order.
      EXPECT_EQ(scenario::Between(requests, "RD T107", "none"),
                (std::vector<std::string>{"RD DM890", "RD DM893", "RD DM894"}));
    }
  }
  EXPECT_EQ(CycleCounter, 22);
  EXPECT_EQ(SampleCount, 20);
}

TEST_F(Cycle, SetPointRefreshShowsTheNewValues) {
  Start();
  for (int cycle = 1; cycle <= 8; ++cycle) run.Cycle();
  run.Wire().ScriptReply("RD DM890", "180");
  run.Cycle();  // the ninth refreshes after painting
  EXPECT_EQ(TempSetPoint, 180);
  EXPECT_EQ(Cells(3, 28, 33), " 22.50");
  run.Cycle();
  EXPECT_EQ(Cells(3, 28, 33), " 18.00");
  // A refresh that got no usable reply leaves the fall-back shown, and
  // the next one counts only from the row that shows its value.
  run.Wire().ScriptReply("RD DM890", "xx");
  for (int cycle = 11; cycle <= 20; ++cycle) run.Cycle();
  EXPECT_EQ(Cells(3, 28, 33), "  0.00");
  EXPECT_EQ(TakeSnapshot()[kTempColumn + 1].text, "");
  run.Wire().ScriptReply("RD DM890", "225");
  for (int cycle = 21; cycle <= 29; ++cycle) run.Cycle();
  EXPECT_EQ(TakeSnapshot()[kTempColumn + 1].outcome, ReadOutcome::kFailed);
  run.Cycle();
  EXPECT_EQ(TakeSnapshot()[kTempColumn + 1].text, "22.50");
}

// The line read when T came goes on on its own row after the terminal: the
// system line at the next counters page has nothing beside it.
TEST_F(Cycle, LineAfterTheTerminalLeavesTheSystemLineAlone) {
  Start();
  run.Cycle();
  fake::Key("T", fake::Now() + 30 * kMs);
  fake::Type("RD DM109\r", fake::Now() + 800 * kMs, 10 * kMs);
  fake::Key("Esc", fake::Now() + 1500 * kMs);
  for (int cycle = 0; cycle < 3; ++cycle) run.Cycle();
  EXPECT_EQ(fake::RowTrimmed(1), " System        #  12    ComPort 3");
}

std::vector<std::string> FileLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string FreshPath(const char* name) {
  const std::string path = ::testing::TempDir() + name;
  std::remove(path.c_str());
  return path;
}

// Every value of a cycle is filled in, and each one read off the screen
// stands on the row the layout names, after its label, in column order.
TEST_F(Cycle, SnapshotFindsEveryFieldOnItsRow) {
  Start();
  run.Cycle();
  const CycleSnapshot shot = TakeSnapshot();
  for (std::size_t column = 0; column < kSnapshotColumns; ++column) {
    EXPECT_EQ(shot[column].outcome, ReadOutcome::kRead) << column;
    EXPECT_FALSE(shot[column].text.empty()) << column;
  }
  std::vector<std::pair<std::size_t, RowLabel>> fields = {
      {kSystemColumn, kSystemLine},   {kTempColumn, kTempLine},
      {kTempColumn + 1, kTempLine},   {kTempColumn + 2, kTempLine},
      {kRhColumn, kRhLine},           {kRhColumn + 1, kRhLine},
      {kRhColumn + 2, kRhLine},       {kCo2Column, kCo2Line},
      {kCo2Column + 1, kCo2Line},     {kEvapColumn, kEvapLine},
      {kDefrostColumn, kDefrostLine}, {kDefrostColumn + 2, kDefrostLine},
      {kCounterColumn, kTotalLine},   {kTimerColumn, kT106Field},
      {kTimerColumn + 1, kT107Field}};
  std::string components[kComponentCount];
  for (std::int32_t i = 0; i < kComponentCount; ++i) {
    components[i] = ComponentLabel(i).str();
    fields.push_back(
        {kCounterColumn + 1 + static_cast<std::size_t>(i),
         {kComponentLine.Row + i, kComponentLine.Column, components[i]}});
  }
  const RowLabel* previous = nullptr;
  std::size_t from = 0;
  for (const auto& [column, line] : fields) {
    const std::string row = fake::Row(line.Row);
    const auto at = static_cast<std::size_t>(line.Column - 1);
    ASSERT_EQ(row.substr(at, line.Label.size()), line.Label) << column;
    if (previous == nullptr || previous->Label != line.Label) {
      from = at + line.Label.size();
    }
    from = row.find(shot[column].text, from);
    ASSERT_NE(from, std::string::npos) << column << ": " << shot[column].text;
    from += shot[column].text.size();
    previous = &line;
  }
}

// A row holds what the screen showed of the cycle's own readings (a read
// that failed or was not made leaves its field empty), the counters only
// on their cycle, and the cycle's own requests and failed replies; the end
// gets the run.
TEST_F(Cycle, LogRowsHoldWhatTheScreenShowed) {
  const std::string path = FreshPath("cycle_log.csv");
  std::string why;
  ASSERT_TRUE(RecordOpen(path, why)) << why;
  Start();
  RecordStarted();
  run.Wire().Fault("RD T106", zrvsim::FaultKind::kLost, "", 1);
  run.Wire().ScriptReply("RD T107", "OK0x345 00900", 1);
  const auto even = run.Cycle();
  RecordCycle();
  const auto odd = run.Cycle();
  RecordCycle();
  ResetRequested = true;  // Y answered: the cycle's reads are skipped
  run.Cycle();
  RecordCycle();
  RecordFinish();

  const std::vector<std::string> lines = FileLines(path);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(std::regex_match(lines[3], std::regex(R"([^,]+,{11}2\.00,h,10\.00,1,0,1,1,{7}12,345,\d+,0,0,3,3,0)")))
      << lines[3];
  EXPECT_EQ(lines[0], kRecordHeader);
  const std::string shown =
      "22.50,22.50,22.50,50.00,50.00,50.00,0.40,0.30,20.00,2.00,h,10.00,"
      "1,0,1,1,";
  // The timer reads failed: their minima are no readings of the cycle.
  EXPECT_EQ(lines[1].substr(30),
            "12," + shown + "7200,3600,0,0,0,1,,," +
                std::to_string(even.size()) + ",1,1,1,1,0");
  EXPECT_EQ(lines[2].substr(30),
            "," + shown + ",,,,,,,," + std::to_string(odd.size()) + ",0,0,2,,0");
  EXPECT_TRUE(std::regex_match(
      lines[1].substr(0, 30),
      std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[-+]\d\d:\d\d,)")))
      << lines[1];
  EXPECT_TRUE(std::regex_match(
      fake::ExitText(),
      std::regex(R"(zrvmon ran .* s: 3 cycles of .* s\n  \d+ requests, )"
                 R"(1 unanswered \(.* %\), 1 unusable \(.* %\)\n)"
                 R"(  log: 3 rows written, 0 lost, 0 reopenings\n)")))
      << fake::ExitText();
}

// Where nothing can be shown after the end (a Windows console), the log
// keeps the summary as its last line; a log that cannot be kept stops the
// run before anything is sent, and what is there stays as it was.
// The metrics file: the screen's readings in base units, the unit label,
// a lost read's series left out (the counters of the last counters cycle
// kept), and no file after the end.
TEST_F(Cycle, MetricsHoldTheReadingsInBaseUnits) {
  const std::string path = FreshPath("unit.prom");
  std::string why;
  ASSERT_TRUE(MetricsOpen(path, "cell-7", why)) << why;
  Start();
  // zrv_info keeps the system number start-up read.
  run.Wire().Fault("RD DM109", zrvsim::FaultKind::kLost, "", 1);
  RecordStarted();
  run.Cycle();
  RecordCycle();
  std::string text;
  for (const std::string& line : FileLines(path)) text += line + "\n";
  for (const char* series :
       {"zrv_up{unit=\"cell-7\"} 1\n", "zrv_temperature_celsius{unit=\"cell-7\"} 22.5\n",
        "zrv_temperature_average_celsius{unit=\"cell-7\"} 22.5\n",
        "zrv_relative_humidity_ratio{unit=\"cell-7\"} 0.5\n",
        "zrv_co2_ratio{unit=\"cell-7\"} 0.004\n", "zrv_co2_setpoint_ratio{unit=\"cell-7\"} 0.003\n",
        "zrv_evaporator_temperature_celsius{unit=\"cell-7\"} 20\n",
        "zrv_defrost_remaining_seconds{unit=\"cell-7\"} 7200\n",
        "zrv_indicator_on{unit=\"cell-7\",indicator=\"temp_mode\"} 1\n",
        "zrv_running_seconds_total{unit=\"cell-7\",component=\"total\"} 7200\n",
        "zrv_timer_minimum{unit=\"cell-7\",timer=\"T107\"} 345\n",
        "# TYPE zrv_running_seconds_total counter\n",
        "zrv_info{unit=\"cell-7\",system=\"12\",variant=\"9\",revision=\"7123\","}) {
    EXPECT_NE(text.find(series), std::string::npos) << series << text;
  }
  run.Wire().Fault("RD DM984", zrvsim::FaultKind::kLost, "", 1);
  fake::AdvanceTo(fake::Now() + 1000 * kMs);
  run.Cycle();
  RecordCycle();
  text.clear();
  for (const std::string& line : FileLines(path)) text += line + "\n";
  EXPECT_EQ(text.find("zrv_co2_ratio{"), std::string::npos) << text;
  EXPECT_NE(text.find("component=\"heater\"} 3600\n"), std::string::npos) << text;
  EXPECT_NE(text.find("zrv_unanswered_total{unit=\"cell-7\"} 2\n"), std::string::npos);
  RecordFinish();
  EXPECT_FALSE(std::filesystem::exists(path));
}

// The MQTT state: the screen's values in the keys' units; a lost read is
// null, not its fall-back zero; a value not read this cycle is kept.
TEST_F(Cycle, MqttStateHoldsTheReadingsAndNullForALostOne) {
  ResetMqttForTests();
  Start();
  run.Cycle();
  const std::string first = MqttStateJson(TakeSnapshot(), LinkTally{10, 1, 0}, "T");
  if (first.empty()) GTEST_SKIP() << "no MQTT client on this platform";
  for (const char* pair :
       {"{\"time\":\"T\",\"temperature\":22.5,", "\"co2\":4000,\"co2_setpoint\":3000,",
        "\"evaporator_temperature\":20,\"defrost_remaining\":7200,", "\"ventilation\":\"ON\",",
        "\"temperature_control\":\"OFF\",", "\"temperature_mode\":\"C\",",
        "\"running_heater\":3600,", "\"system\":12,\"requests\":10,\"unanswered\":1,"}) {
    EXPECT_NE(first.find(pair), std::string::npos) << pair << "\n" << first;
  }
  run.Wire().Fault("RD DM984", zrvsim::FaultKind::kLost, "", 1);
  run.Cycle();
  const std::string second = MqttStateJson(TakeSnapshot(), LinkTally{}, "T");
  EXPECT_NE(second.find("\"co2\":null,\"co2_setpoint\":3000,"), std::string::npos) << second;
  EXPECT_NE(second.find("\"running_heater\":3600,"), std::string::npos) << second;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  for (std::string f; std::getline(in, f, ',');) fields.push_back(f);
  if (!line.empty() && line.back() == ',') fields.emplace_back();
  return fields;
}

// A log begun by release 1.1 gets the header of today's columns below its
// rows. With an interval, a row holds the latest cycle's readings, the
// counters page of the last cycle that read it (and says which), and the
// requests of every cycle since the row before; the end adds the last row.
TEST(Log, AnIntervalRowAndALogOfTheLastRelease) {
  const std::string path = FreshPath("interval_log.csv");
  const std::string old = std::string(kRecordHeader11) + "\n" +
                          "2026-01-01T00:00:00.000+00:00" + std::string(28, ',') + "\n";
  std::ofstream(path) << old;
  ProgramRun run;
  run.TypePort();
  run.PressEsc(10 * scenario::kSecond);
  ASSERT_EQ(run.Run({"--log", path, "--log-interval", "3"}), 0);
  const std::vector<std::string> lines = FileLines(path);
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[2], kRecordHeader);
  std::int64_t requests = 0;
  std::int64_t lastCycle = 0;
  for (std::size_t i = 3; i < lines.size(); ++i) {
    const std::vector<std::string> f = Fields(lines[i]);
    ASSERT_EQ(f.size(), 32u) << lines[i];
    EXPECT_NE(f[19], "") << "counters on every row: " << lines[i];
    const std::int64_t cycle = std::stoll(f[29]);
    EXPECT_GT(cycle, lastCycle + (i > 3 && i + 1 < lines.size() ? 1 : 0)) << lines[i];
    EXPECT_TRUE(f[30] == f[29] || std::stoll(f[30]) == cycle - 1) << lines[i];
    EXPECT_EQ(f[31], "0");
    requests += std::stoll(f[26]);
    lastCycle = cycle;
  }
  std::smatch m;
  ASSERT_TRUE(std::regex_search(fake::ExitText(), m,
                                std::regex(R"(: (\d+) cycles of .*\n  (\d+) requests)")))
      << fake::ExitText();
  EXPECT_EQ(std::to_string(lastCycle), m[1].str());
  EXPECT_EQ(std::to_string(requests), m[2].str());
}

TEST(Log, SummaryLineAndFilesThatCannotBeKept) {
  const std::string path = FreshPath("run_log.csv");
  {
    fake::Options console;
    console.showOnExit = false;
    ProgramRun run({}, console);
    run.TypePort();
    run.PressEsc(3 * scenario::kSecond);
    ASSERT_EQ(run.Run({"--log", path}), 0);
  }
  std::vector<std::string> lines = FileLines(path);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[lines.size() - 3].rfind("# zrvmon ran ", 0), 0u) << lines.back();
  EXPECT_EQ(lines.back().rfind("#   log: ", 0), 0u) << lines.back();
  {
    ProgramRun run;  // a second run appends below the first
    run.TypePort();
    run.PressEsc(2 * scenario::kSecond);
    ASSERT_EQ(run.Run({"--log=" + path}), 0);
  }
  const std::vector<std::string> more = FileLines(path);
  EXPECT_GT(more.size(), lines.size());
  EXPECT_TRUE(std::equal(lines.begin(), lines.end(), more.begin()));
  EXPECT_EQ(std::count(more.begin(), more.end(), std::string(kRecordHeader)), 1)
      << "the summary's comment lines are no row of another layout";

  const std::string other = FreshPath("not_a_log.txt");
  std::ofstream(other) << "notes\n";
  for (const std::string& bad : {other, ::testing::TempDir()}) {
    ProgramRun run;
    run.TypePort();
    EXPECT_EQ(run.Run({"--log", bad}), 2) << bad;
    EXPECT_TRUE(run.Wire().RequestTexts().empty());
  }
  EXPECT_EQ(FileLines(other), std::vector<std::string>{"notes"});
}

}  // namespace
