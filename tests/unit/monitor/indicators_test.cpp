// SPDX-License-Identifier: MIT
#include "monitor/indicators.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "monitor/state.h"
#include "unit/monitor/monitor_fixture.h"

namespace {

using scripted_wire::kMs;
using monitor_fixture::MonitorTest;

class IndicatorTest : public MonitorTest {
 protected:
  // The state character of an indicator row (three-digit relay numbers).
  static char State(int row) { return fake::CharAt(22, row); }
};

TEST(IndicatorRule, OnlyTheTextOneMeansOn) {
  EXPECT_TRUE(RelayOn("1"));
  EXPECT_FALSE(RelayOn("0"));
  EXPECT_FALSE(RelayOn("11"));
  EXPECT_FALSE(RelayOn(" 1"));
  EXPECT_FALSE(RelayOn("1 "));
  EXPECT_FALSE(RelayOn(""));
  EXPECT_FALSE(RelayOn("E1"));
}

TEST_F(IndicatorTest, VentTurnsItsBarWhileOn) {
  wire.Set("RD 512", {"1"});
  const std::string expected = "\\|/-\\|";
  for (char frame : expected) {
    ShowVent(true);
    EXPECT_EQ(State(9), frame);
  }
  EXPECT_EQ(fake::RowTrimmed(9), " Vent.         (512) |");
  EXPECT_EQ(wire.Count("RD 512"), 6);
  EXPECT_EQ(VentState, "1");
}

TEST_F(IndicatorTest, TempCtlSwellsAndFadesFromPhaseZero) {
  wire.Set("RD 513", {"1"});
  MoveCursor(22, 10);
  ConsoleWrite('X');
  MoveCursor(1, 1);

  // The first drawing has no frame to show.
  ShowTempCtl(true);
  EXPECT_EQ(State(10), 'X');
  const std::string swell = "\x20\xB0\xB1\xB2\xDB\xB2\xB1\xB0\x20";
  for (char frame : swell) {
    ShowTempCtl(false);
    EXPECT_EQ(State(10), frame);
  }
  // Around again from the first frame.
  MoveCursor(22, 10);
  ConsoleWrite('X');
  ShowTempCtl(false);
  EXPECT_EQ(State(10), ' ');
  ShowTempCtl(false);
  EXPECT_EQ(State(10), '\xB0');
  EXPECT_EQ(wire.Count("RD 513"), 1);
}

TEST_F(IndicatorTest, FloorHtrGoingOffRestartsItsAnimation) {
  wire.Set("RD 514", {"1", "1", "1", "0", "1", "1"});
  ShowFloorHtr(true);
  EXPECT_EQ(State(11), ' ');
  ShowFloorHtr(true);
  EXPECT_EQ(State(11), '.');
  ShowFloorHtr(true);
  EXPECT_EQ(State(11), '\x1E');
  ShowFloorHtr(true);
  EXPECT_EQ(State(11), '-');
  EXPECT_EQ(FloorHtrPhase, 1);
  ShowFloorHtr(true);
  EXPECT_EQ(State(11), ' ');
  ShowFloorHtr(true);
  EXPECT_EQ(State(11), '.');
}

TEST_F(IndicatorTest, FloorHtrRunsThroughAllSixFrames) {
  FloorHtrState = "1";
  const std::string rise = "\x20\x2E\x1E\xDB\x1E\x2E\x20";
  for (char frame : rise) {
    ShowFloorHtr(false);
    EXPECT_EQ(State(11), frame);
  }
  EXPECT_EQ(Sent(), "");
}

TEST_F(IndicatorTest, NoReplyShowsOff) {
  VentState = "1";
  ShowVent(true);  // the wire stays silent
  EXPECT_EQ(State(9), '-');
  EXPECT_TRUE(VentState.empty());
  ShowTempMode(true);
  EXPECT_EQ(State(12), 'H');
}

TEST_F(IndicatorTest, TempModeShowsCOrHAfterItsPause) {
  wire.Set("RD 515", {"1", "0"});
  fake::Micros before = fake::Now();
  ShowTempMode(true);
  EXPECT_EQ(fake::RowTrimmed(12), " TempMode      (515) C");
  EXPECT_GE(fake::Now() - before, 100 * kMs);

  // Reading off keeps the last reply and still pauses.
  before = fake::Now();
  ShowTempMode(false);
  EXPECT_EQ(State(12), 'C');
  EXPECT_GE(fake::Now() - before, 100 * kMs);
  EXPECT_LT(fake::Now() - before, 120 * kMs);

  ShowTempMode(true);
  EXPECT_EQ(State(12), 'H');
  EXPECT_EQ(TempModeState, "0");
}

TEST_F(IndicatorTest, EscCutsTheTempModePauseShort) {
  TempModeState = "1";
  fake::Key("Esc");
  const fake::Micros before = fake::Now();
  ShowTempMode(true);
  EXPECT_LT(fake::Now() - before, 100 * kMs);
  EXPECT_TRUE(AbortFlag);
  // The read was not made: the state is not drawn.
  EXPECT_EQ(State(12), ' ');
  EXPECT_EQ(Sent(), "");
}

TEST_F(IndicatorTest, RowIsLabelledBeforeItsRelayIsReadAndTempModePausesFirst) {
  wire.Set("RD 512", {"1"});
  wire.Set("RD 515", {"1"});
  std::map<std::string, std::string> rowAtRequest;
  std::map<std::string, fake::Micros> requestAt;
  wire.onRequest = [&](const std::string& line, fake::Micros at) {
    rowAtRequest[line] = fake::Row(line == "RD 512" ? 9 : 12).substr(0, 22);
    requestAt[line] = at;
  };

  ShowVent(true);
  // Label and relay are up; the state character waits for the reply.
  EXPECT_EQ(rowAtRequest["RD 512"], " Vent.         (512)  ");
  EXPECT_EQ(State(9), '\\');

  const fake::Micros before = fake::Now();
  ShowTempMode(true);
  EXPECT_EQ(rowAtRequest["RD 515"], " TempMode      (515)  ");
  EXPECT_GE(requestAt["RD 515"] - before, 100 * kMs);
  EXPECT_EQ(State(12), 'C');
}

TEST_F(IndicatorTest, EachRowShowsAndReadsItsOwnRelay) {
  VentRelay = 604;
  TempCtlRelay = 605;
  FloorHtrRelay = 606;
  TempModeRelay = 607;
  TempCtlPhase = 1;
  wire.Set("RD 604", {"0"});
  wire.Set("RD 605", {"0"});
  wire.Set("RD 606", {"1"});
  wire.Set("RD 607", {"1"});
  ShowVent(true);
  ShowTempCtl(true);
  ShowFloorHtr(true);
  ShowTempMode(true);

  EXPECT_EQ(wire.lines,
            (std::vector<std::string>{"RD 604", "RD 605", "RD 606", "RD 607"}));
  EXPECT_EQ(fake::RowTrimmed(9), " Vent.         (604) -");
  EXPECT_EQ(fake::RowTrimmed(10), " Temp.Ctl      (605) -");
  EXPECT_EQ(fake::Row(11).substr(0, 22), " FloorHtr      (606)  ");
  EXPECT_EQ(FloorHtrPhase, 2);
  EXPECT_EQ(fake::RowTrimmed(12), " TempMode      (607) C");
}

TEST_F(IndicatorTest, CursorIsPutBackAfterEveryDrawing) {
  VentState = TempCtlState = FloorHtrState = TempModeState = "1";
  MoveCursor(30, 5);
  ShowVent(false);
  ShowTempCtl(false);
  ShowFloorHtr(false);
  ShowTempMode(false);
  EXPECT_EQ(CursorColumn(), 30);
  EXPECT_EQ(CursorRow(), 5);
  EXPECT_EQ(SavedCursor.Column, 30);
  EXPECT_EQ(SavedCursor.Row, 5);
}

}  // namespace
