// SPDX-License-Identifier: MIT
// The simulator's random numbers: SplitMix64 is small and gives the same
// sequence on every platform, so a seed replays a run exactly.
#pragma once

#include <cstdint>

namespace zrvsim {

inline std::uint64_t NextBits(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// A uniform value in [0, 1) from the top 53 bits.
inline double ToUnit(std::uint64_t bits) { return double(bits >> 11) * 0x1.0p-53; }

}  // namespace zrvsim
