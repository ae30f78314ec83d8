// SPDX-License-Identifier: MIT
// Serial port names as Windows spells them, for both backends.
#pragma once

namespace plat {

// Highest COM number a name may carry.
inline constexpr int kMaxComPort = 255;
// "COM3", "\\.\COM12" (any case) to the port number; 0 when not a COM name.
int ParseComName(const char* name);

}  // namespace plat
