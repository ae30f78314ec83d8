// SPDX-License-Identifier: MIT
#include "monitor/counters.h"
#include "monitor/link_state.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "monitor/state.h"
#include "unit/monitor/monitor_fixture.h"

namespace {

using monitor_fixture::MonitorTest;

class CountersTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    const char* labels[5] = {"_Heater    ", "t_Cooler   ", "_Cooler    ",
                             "t_Defrost  ", "_Humidiy   "};
    for (int i = 0; i < 5; ++i) CounterLabels[i] = labels[i];
    MinT106 = MinT107 = 65535;
    wire.fallback = "0";
    wire.Set("RD DM109", {"12"});
    wire.Set("RD T106", {"OK00500 00600"});
    wire.Set("RD T107", {"OK00800 00900"});
  }

  void Counter(int low, const std::string& lowReply,
               const std::string& highReply) {
    wire.Set("RD DM" + std::to_string(low), {lowReply});
    wire.Set("RD DM" + std::to_string(low + 1), {highReply});
  }

  // The row from column 1, as long as `expected`.
  static void ExpectRow(int row, const std::string& expected) {
    EXPECT_EQ(fake::Row(row).substr(0, expected.size()), expected)
        << "row " << row;
  }
};

TEST_F(CountersTest, RowsForATotalOfTwoHours) {
  Counter(117, "7200", "0");
  Counter(125, "3600", "0");  // row 15
  Counter(119, "1800", "0");  // row 16
  Counter(127, "720", "0");   // row 17
  Counter(121, "7200", "0");  // row 18
  Counter(131, "1", "0");     // row 19
  PaintCounters();
  EXPECT_EQ(fake::RowTrimmed(1), " System        #  12    ComPort 3");
  EXPECT_EQ(fake::RowTrimmed(14), std::string(" tTotal      ") + "   7200" +
                                      " s  /  " + "   2.0" + " h");
  ExpectRow(15, std::string(" t_Heater    ") + "   3600" + " s  / " +
                    "   50.0" + " % ");
  ExpectRow(16, std::string(" tt_Cooler   ") + "   1800" + " s  / " +
                    "   25.0" + " % ");
  ExpectRow(17, std::string(" t_Cooler    ") + "    720" + " s  / " +
                    "   10.0" + " % ");
  ExpectRow(18, std::string(" tt_Defrost  ") + "   7200" + " s  / " +
                    "  100.0" + " % ");
  ExpectRow(19, std::string(" t_Humidiy   ") + "      1" + " s  / " +
                    "    0.0" + " % ");
  EXPECT_EQ(fake::RowTrimmed(20), " t106            500  t107   800");
}

TEST_F(CountersTest, ReadsInTheirOrder) {
  PaintCounters();
  const std::vector<std::string> expected = {
      "RD DM109", "RD DM117", "RD DM117", "RD DM118", "RD DM118", "RD DM119",
      "RD DM120", "RD DM121", "RD DM122", "RD DM125", "RD DM126", "RD DM127",
      "RD DM128", "RD DM131", "RD DM132", "RD T106",  "RD T107"};
  EXPECT_EQ(wire.lines, expected);
}

TEST_F(CountersTest, HighWordCountsSixtyFiveThousandFiveHundredThirtySix) {
  Counter(117, "0", "1");
  Counter(125, "65535", "65535");
  PaintCounters();
  EXPECT_EQ(fake::RowTrimmed(14), std::string(" tTotal      ") + "  65536" +
                                      " s  /  " + "  18.2" + " h");
  // The largest count takes more than its seven characters.
  ExpectRow(15, std::string(" t_Heater    ") + "4294967295" + " s  / " +
                    "6553600.0" + " % ");
}

TEST_F(CountersTest, LargestTotal) {
  Counter(117, "65535", "65535");
  Counter(125, "0", "32768");
  PaintCounters();
  EXPECT_EQ(fake::RowTrimmed(14), std::string(" tTotal      ") + "4294967295" +
                                      " s  /  " + "1193046.5" + " h");
  ExpectRow(15, std::string(" t_Heater    ") + "2147483648" + " s  / " +
                    "   50.0" + " % ");
}

TEST_F(CountersTest, ShareOfLargeCounts) {
  // 60000000 and 30000000 seconds as their two words.
  Counter(117, "34560", "915");
  Counter(127, "50048", "457");
  PaintCounters();
  ExpectRow(17, std::string(" t_Cooler    ") + "30000000" + " s  / " +
                    "   50.0" + " % ");
}

TEST_F(CountersTest, ZeroTotalShowsTheZeroShareText) {
  Counter(125, "100", "0");
  Counter(131, "5", "7");
  PaintCounters();
  EXPECT_EQ(fake::RowTrimmed(14), std::string(" tTotal      ") + "      0" +
                                      " s  /  " + "   0.0" + " h");
  for (int row = 15; row <= 19; ++row) {
    EXPECT_EQ(fake::Row(row).substr(20, 16), " s  /     0.0 % ") << row;
  }
  ExpectRow(15, " t_Heater        100");
}

TEST_F(CountersTest, TotalOfOneSecondAlreadyGivesShares) {
  Counter(117, "1", "0");
  Counter(131, "1", "0");
  PaintCounters();
  ExpectRow(19, std::string(" t_Humidiy   ") + "      1" + " s  / " +
                    "  100.0" + " % ");
  ExpectRow(15, std::string(" t_Heater    ") + "      0" + " s  / " +
                    "    0.0" + " % ");
}

TEST_F(CountersTest, TotalIsReadUntilTwoReadsAgree) {
  wire.Set("RD DM117", {"5", "6", "7", "7"});
  wire.Set("RD DM118", {"1", "1"});
  PaintCounters();
  EXPECT_EQ(wire.Count("RD DM117"), 4);
  EXPECT_EQ(wire.Count("RD DM118"), 2);
  EXPECT_EQ(fake::Row(14).substr(13, 7), "  65543");
}

TEST_F(CountersTest, TimerMinimaOnlyGoDown) {
  MinT106 = 12;
  MinT107 = 345;
  PaintCounters();  // 500 and 800 are higher
  EXPECT_EQ(fake::RowTrimmed(20), " t106             12  t107   345");
  EXPECT_EQ(Cells(20, 23, 32), "t107   345");

  wire.Set("RD T106", {"OK00000 00600"});
  wire.Set("RD T107", {""});
  PaintCounters();
  EXPECT_EQ(MinT106, 0);
  EXPECT_EQ(MinT107, 345);
  EXPECT_EQ(fake::RowTrimmed(20), " t106              0  t107   345");
}

TEST_F(CountersTest, TimerValueMustBeAWholeNumber) {
  wire.Set("RD T106",
           {"OK00123 00600", "OK0012a 00600", "E1", "", "OK", "OK  042 00600"});
  EXPECT_EQ(ReadTimerValue(106), 123);
  EXPECT_EQ(ReadTimerValue(106), 65535);
  EXPECT_EQ(ReadTimerValue(106), 65535);
  EXPECT_EQ(ReadTimerValue(106), 65535);
  EXPECT_EQ(ReadTimerValue(106), 65535);
  EXPECT_EQ(ReadTimerValue(106), 42);
  EXPECT_EQ(wire.lines.back(), "RD T106");
}

TEST_F(CountersTest, ResetWritesTwelveZerosAndClearsTheSums) {
  SampleCount = 40;
  TempSum = 123456;
  RhSum = -5;
  CycleCounter = 8;
  ResetRequested = true;
  CounterReset();
  const std::vector<std::string> expected = {
      "WR DM117 0", "WR DM118 0", "WR DM119 0", "WR DM120 0",
      "WR DM121 0", "WR DM122 0", "WR DM125 0", "WR DM126 0",
      "WR DM127 0", "WR DM128 0", "WR DM131 0", "WR DM132 0"};
  EXPECT_EQ(wire.lines, expected);
  EXPECT_EQ(SampleCount, 0);
  EXPECT_EQ(TempSum, 0);
  EXPECT_EQ(RhSum, 0);
  EXPECT_EQ(CycleCounter, 0);
  EXPECT_FALSE(ResetRequested);
}

// A write refused for stale input goes out once more; a write that still
// gets no good reply leaves the sums alone, and row 22 says so.
TEST_F(CountersTest, ResetIsCompletedOrNotClaimed) {
  wire.fallback = "OK";
  wire.Set("WR DM120 0", {"OK\r\nXX"});  // a stray line after its reply
  TempSum = 123456;
  TempSamples = 3;
  ResetRequested = true;
  CounterReset();
  EXPECT_EQ(wire.Count("WR DM121 0"), 1);  // refused once, then sent
  EXPECT_EQ(TempSum, 0);

  TempSum = 77;
  wire.Set("WR DM122 0", {""});  // never answered
  ResetRequested = true;
  CounterReset();
  EXPECT_EQ(TempSum, 77);
  EXPECT_FALSE(ResetRequested);
  EXPECT_TRUE(std::regex_match(
      LinkStateText().str(),
      std::regex(R"(Counter reset at \d\d:\d\d:\d\d not completed \(DM122 not written\))")))
      << LinkStateText().str();
}

TEST_F(CountersTest, PendingResetLeavesTheSkippedRowsThenClears) {
  Counter(117, "7200", "0");
  MinT106 = 700;
  ResetRequested = true;
  CycleCounter = 4;
  PaintCounters();
  // Guarded reads are refused; the timers are read all the same.
  const std::vector<std::string> expected = {
      "RD T106",    "RD T107",    "WR DM117 0", "WR DM118 0", "WR DM119 0",
      "WR DM120 0", "WR DM121 0", "WR DM122 0", "WR DM125 0", "WR DM126 0",
      "WR DM127 0", "WR DM128 0", "WR DM131 0", "WR DM132 0"};
  EXPECT_EQ(wire.lines, expected);
  // Rows whose reads were not made stay as they were; the timers are real.
  EXPECT_EQ(fake::RowTrimmed(1), "");
  EXPECT_EQ(fake::RowTrimmed(15), "");
  EXPECT_EQ(fake::RowTrimmed(20), " t106            500  t107   800");
  EXPECT_EQ(CycleCounter, 0);
  EXPECT_FALSE(ResetRequested);
}

}  // namespace
