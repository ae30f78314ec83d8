// SPDX-License-Identifier: MIT
// Guarded register read: refusal while a reset is pending or Esc was typed,
// indicator refresh, and the R and T hot keys.
#pragma once

#include <cstdint>

#include "monitor/state.h"

std::int32_t ReadRegister(PortNumber port, std::uint16_t address, char kind);
std::int32_t ReadRegisterStable(PortNumber port, std::uint16_t address,
                                char kind);

// What became of a set point's write.
enum class SetPointWrite : std::uint8_t { kWritten, kNotTaken, kNoReadBack, kReadBackDiffers };
// Writes `value` to set point register 890, 893 or 894 and reads it back,
// between two requests of polling. Only a write the read-back confirms
// goes into the set point, its row and its read; `readBack` is what the
// read-back gave, `before` the set point as it stood.
SetPointWrite WriteSetPoint(std::uint16_t address, std::int32_t value,
                            std::int32_t& readBack, std::int32_t& before);

// The worse of two reads of one value: skipped over failed over read.
ReadOutcome Worse(ReadOutcome a, ReadOutcome b);
