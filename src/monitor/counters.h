// SPDX-License-Identifier: MIT
// Operating counters page (rows 1, 14 to 20) and the counter reset.
#pragma once

#include <cstdint>

void PaintCounters();
std::uint16_t ReadTimerValue(std::uint16_t timer);
void CounterReset();
