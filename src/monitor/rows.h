// SPDX-License-Identifier: MIT
// The monitor screen's layout: where each line stands and the label it
// starts with. The painters write by it and the record reads the screen
// back by it, so the two cannot drift apart.
#pragma once

#include <cstdint>
#include <string_view>

#include "console/str255.h"

// A labelled field: its row, the column its label starts in, the label.
struct RowLabel {
  std::int32_t Row;
  std::int32_t Column;
  std::string_view Label;
};

inline constexpr RowLabel kSystemLine{1, 2, "System        #"};
inline constexpr std::string_view kComPortLabel = "    ComPort ";
inline constexpr RowLabel kTempLine{3, 2, "Temp.        "};
inline constexpr RowLabel kRhLine{4, 2, "RH           "};
inline constexpr RowLabel kCo2Line{5, 2, "CO2          "};
// Rows 3 to 5 show the set point in this column, after the reading.
inline constexpr std::int32_t kSetPointColumn =
    kTempLine.Column + static_cast<std::int32_t>(kTempLine.Label.size()) + 13;
inline constexpr RowLabel kEvapLine{6, 2, "Evap.Temp.   "};
// Row 7 in hours, or in minutes on controllers whose relay 7000 errs.
inline constexpr RowLabel kDefrostLine{7, 2, "Defrost in   "};
inline constexpr RowLabel kNextDefrostLine{7, 2, " Next Def. in "};

// An indicator row, with the relay it shows on a controller whose relay
// 7000 answers and on one whose relay 7000 errs.
struct IndicatorRow {
  RowLabel Line;
  std::uint16_t Relay;
  std::uint16_t ErrorRelay;
};
inline constexpr IndicatorRow kVentRow{{9, 2, "Vent.         ("}, 512, 604};
inline constexpr IndicatorRow kTempCtlRow{{10, 2, "Temp.Ctl      ("}, 513, 605};
inline constexpr IndicatorRow kFloorHtrRow{
    {11, 2, "FloorHtr      ("}, 514, 606};
inline constexpr IndicatorRow kTempModeRow{
    {12, 2, "TempMode      ("}, 515, 607};

inline constexpr RowLabel kTotalLine{14, 2, "tTotal      "};
// The first of the five component rows, 15 to 19, each labelled with this
// and the component's entry of CounterLabels.
inline constexpr RowLabel kComponentLine{15, 2, "t"};
inline constexpr std::int32_t kComponentCount = 5;
Str255 ComponentLabel(std::int32_t index);
// CounterLabels by variant: units with an evaporator (1 and 9) count a
// second cooler and the defrost, the others heating and cooling efficiency.
// Each label is 11 characters, so that the counts line up.
inline constexpr std::string_view kEvaporatorLabels[kComponentCount] = {
    "_Heater    ", "t_Cooler   ", "_Cooler    ", "t_Defrost  ", "_Humidiy   "};
inline constexpr std::string_view kPlainLabels[kComponentCount] = {
    "_Heater    ", "_HeatEff.  ", "_Cooler    ", "_CoolEff.  ", "_Humidiy   "};
inline constexpr RowLabel kT106Field{20, 2, "t106          "};
inline constexpr RowLabel kT107Field{20, 23, "t107 "};

inline constexpr RowLabel kResetPromptLine{21, 1, "Reset Timers [Y/N] "};
// Row 22 speaks for the link; it has no label of its own.
inline constexpr RowLabel kLinkStateLine{22, 1, ""};
// Under the port prompt, the ports there are.
inline constexpr std::int32_t kPortListRow = 3;

// The cursor to the field's label.
void MoveToLine(const RowLabel& line);
// Blanks the row from the cursor to the monitor's last column but one,
// then writes `text` at the cursor.
void PrintClearedLine(const Str255& text);
