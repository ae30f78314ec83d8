// SPDX-License-Identifier: MIT
// The counter reset through R and Y, and the end of the run on Esc: at any
// point of a cycle, also while a reply is on its way, the disconnect goes
// out, the port is closed and the program ends with 0.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/keyboard.h"
#include "link/serial_port.h"
#include "monitor/state.h"
#include "scenario.h"

namespace {

using scenario::Between;
using scenario::Cells;
using scenario::Contains;
using scenario::CountOf;
using scenario::kMs;
using scenario::kSecond;

zrvsim::Options QuietUnit() {
  zrvsim::Options options;
  options.unit.system = 12;
  options.unit.noise = 0;
  return options;
}

TEST(CounterReset, RThenYClearsTheCountersInTheNextBlock) {
  ProgramRun run(QuietUnit());
  run.TypePort();
  ASSERT_TRUE(run.Start());
  run.Cycle();  // counters block of the first cycle
  ASSERT_GT(run.Wire().Unit().Counter(117), 0u);
  const std::string totalRow = fake::Row(14);

  fake::Key("r", fake::Now() + 50 * kMs);
  fake::Key("y", fake::Now() + 2 * kSecond);
  const auto second = run.Cycle();  // R read, prompt answered
  EXPECT_TRUE(ResetRequested);
  EXPECT_EQ(fake::RowTrimmed(21), "");  // the prompt is erased again
  // Once Y is in, guarded reads stop: the rest of the cycle sends relays,
  // the unguarded system-number read of the prompt and the defrost pair.
  const auto afterPrompt = Between(second, "RD DM109", "none");
  for (const auto& r : afterPrompt) {
    EXPECT_TRUE(r.rfind("RD DM", 0) != 0 || r == "RD DM88" || r == "RD DM87")
        << r;
  }

  const auto third = run.Cycle();
  const std::vector<std::string> writes = {
      "WR DM117 0", "WR DM118 0", "WR DM119 0", "WR DM120 0",
      "WR DM121 0", "WR DM122 0", "WR DM125 0", "WR DM126 0",
      "WR DM127 0", "WR DM128 0", "WR DM131 0", "WR DM132 0"};
  std::vector<std::string> seen;
  for (const auto& r : third) {
    if (r.rfind("WR ", 0) == 0) seen.push_back(r);
  }
  EXPECT_EQ(seen, writes);
  // The block's reads were not made: its rows stay as the last block
  // painted them, with no zeros that were never read. The set points were
  // refreshed in the same cycle.
  EXPECT_EQ(fake::RowTrimmed(1), " System        #  12    ComPort 3");
  EXPECT_EQ(fake::Row(14), totalRow);
  EXPECT_EQ(Between(third, "WR DM132 0", "none"),
            (std::vector<std::string>{"RD DM890", "RD DM893", "RD DM894"}));
  EXPECT_FALSE(ResetRequested);
  EXPECT_EQ(CycleCounter, 1);
  EXPECT_EQ(SampleCount, 0);
  EXPECT_EQ(TempSum, 0);
  EXPECT_EQ(RhSum, 0);
  EXPECT_LT(run.Wire().Unit().Counter(117), 5u);

  // Counters come back two cycles later, from the cleared registers.
  EXPECT_FALSE(Contains(run.Cycle(), "RD DM117"));
  EXPECT_TRUE(Contains(run.Cycle(), "RD DM117"));
  EXPECT_EQ(fake::RowTrimmed(1), " System        #  12    ComPort 3");
  EXPECT_EQ(SampleCount, 2);
}

// A full run with Esc at `escAt`; the model answers as the quiet unit.
struct EscRun {
  explicit EscRun(fake::Micros escAt) : run(QuietUnit()) {
    run.TypePort();
    run.PressEsc(escAt);
    code = run.Run();
  }
  ProgramRun run;
  int code = -1;
};

// When the n-th request with this text (1-based) reached the controller,
// on the same run without Esc.
fake::Micros RequestTime(const std::string& text, int n) {
  EscRun dry(8 * kSecond);
  int seen = 0;
  for (const auto& r : dry.run.Wire().Requests()) {
    if (r.text == text && ++seen == n) return r.at;
  }
  ADD_FAILURE() << text << " #" << n << " never sent";
  return 0;
}

void ExpectOrderlyEnd(EscRun& e) {
  EXPECT_EQ(e.code, 0);
  EXPECT_FALSE(e.run.starved);
  const auto all = e.run.Wire().RequestTexts();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.back(), "CQ");
  EXPECT_EQ(CountOf(all, "CQ"), 1);
  EXPECT_EQ(fake::OpenHandleCount("COM3"), 0);
  EXPECT_LT(PortHandleTable[3], 0);
  EXPECT_FALSE(AbortFlag);
}

std::vector<std::string> RequestsAfter(EscRun& e, fake::Micros t) {
  std::vector<std::string> texts;
  for (const auto& r : e.run.Wire().Requests()) {
    if (r.at > t) texts.push_back(r.text);
  }
  return texts;
}

// The rest of the cycle is not painted: the screen left behind shows the
// last complete cycle, not the raw 0 of reads never made.
void ExpectNoRawZeroFromHumidityOn() {
  EXPECT_NE(Cells(4, 15, 20), "  0.00");
  EXPECT_NE(Cells(5, 15, 20), "  0.00");
  EXPECT_NE(Cells(6, 15, 20), "-50.00");
  EXPECT_EQ(fake::RowTrimmed(7).find("1086"), std::string::npos);
}

TEST(Shutdown, EscWhileARequestAwaitsItsReply) {
  // Esc lands between the request and its reply, which then waits unread.
  const fake::Micros sent = RequestTime("RD DM992", 3);
  EscRun e(sent + 2 * kMs);
  ExpectOrderlyEnd(e);
  EXPECT_NE(Cells(3, 15, 20), "-50.00");
  ExpectNoRawZeroFromHumidityOn();
  // Nothing but the disconnect goes out after Esc.
  EXPECT_EQ(RequestsAfter(e, sent), std::vector<std::string>{"CQ"});
}

TEST(Shutdown, EscWhileTheReplyIsArriving) {
  // The reply starts 5 ms after the request; Esc comes three characters in.
  const fake::Micros sent = RequestTime("RD DM992", 3);
  EscRun e(sent + 5 * kMs + 3 * 1146);
  ExpectOrderlyEnd(e);
  EXPECT_EQ(RequestsAfter(e, sent), std::vector<std::string>{"CQ"});
  EXPECT_NE(Cells(3, 15, 20), "-50.00");
  ExpectNoRawZeroFromHumidityOn();
}

TEST(Shutdown, EscSkipsTheCountersAndTheSetPointRefreshOfItsCycle) {
  // The ninth cycle both paints the counters and refreshes the set points;
  // Esc comes after its temperature read.
  const fake::Micros sent = RequestTime("RD DM992", 10);
  EscRun e(sent + 2 * kMs);
  ExpectOrderlyEnd(e);
  EXPECT_EQ(CycleCounter, 11);
  EXPECT_EQ(TempSetPoint, 225);
  EXPECT_EQ(RhSetPoint, 500);
  EXPECT_EQ(Co2SetPoint, 30);
  // Rows 1 and 14 to 20 still show what the seventh cycle read.
  EXPECT_EQ(fake::RowTrimmed(1), " System        #  12    ComPort 3");
  EXPECT_NE(Cells(14, 14, 20), "      0");
  EXPECT_EQ(fake::Row(15).find(" s  /     0.0 % "), std::string::npos);
}

TEST(Shutdown, EscDuringTheTempModePause) {
  // Between the CO2 read and the TempMode relay read nothing is on the wire.
  const fake::Micros relay = RequestTime("RD 515", 3);
  EscRun e(relay - 50 * kMs);
  ExpectOrderlyEnd(e);
  EXPECT_NE(Cells(5, 15, 20), "  0.00");  // the CO2 line came in before Esc
  EXPECT_NE(Cells(6, 15, 20), "-50.00");
}

TEST(Shutdown, EscDuringStartUpEndsAfterTheFirstCycle) {
  const fake::Micros sent = RequestTime("RD DM890", 1);
  EscRun e(sent + 1 * kMs);
  ExpectOrderlyEnd(e);
  EXPECT_EQ(fake::Title(), " Pav (#0, C3)");
  EXPECT_EQ(ControllerRevision, 0);
  EXPECT_EQ(DefrostInterval, 4320);
  EXPECT_EQ(CycleCounter, 3);
  EXPECT_EQ(fake::RowTrimmed(3), "");  // nothing was read to show
}

}  // namespace
