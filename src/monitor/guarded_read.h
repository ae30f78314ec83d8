// SPDX-License-Identifier: MIT
// Guarded register read: refusal while a reset is pending or Esc was typed,
// indicator refresh, and the R and T hot keys.
#pragma once

#include <cstdint>

#include "monitor/state.h"

std::int32_t ReadRegister(PortNumber port, std::uint16_t address, char kind);
std::int32_t ReadRegisterStable(PortNumber port, std::uint16_t address,
                                char kind);

// The worse of two reads of one value: skipped over failed over read.
ReadOutcome Worse(ReadOutcome a, ReadOutcome b);
