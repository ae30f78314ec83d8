// SPDX-License-Identifier: MIT
// Shared bits of the whole-program scenarios.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/program_runner.h"

namespace scenario {

inline constexpr fake::Micros kMs = zrvsim::kMillisecond;
inline constexpr fake::Micros kSecond = zrvsim::kSecond;

// The requests after the first `from` up to (not including) the next
// `to` after it.
inline std::vector<std::string> Between(const std::vector<std::string>& all,
                                        const std::string& from,
                                        const std::string& to) {
  auto first = std::find(all.begin(), all.end(), from);
  if (first == all.end()) return {};
  ++first;
  return {first, std::find(first, all.end(), to)};
}

inline int CountOf(const std::vector<std::string>& all,
                   const std::string& text) {
  return static_cast<int>(std::count(all.begin(), all.end(), text));
}

inline bool Contains(const std::vector<std::string>& all,
                     const std::string& text) {
  return CountOf(all, text) > 0;
}

// Cells of a screen row between two 1-based columns, inclusive.
inline std::string Cells(int row, int first, int last) {
  return fake::Row(row).substr(static_cast<std::size_t>(first - 1),
                               static_cast<std::size_t>(last - first + 1));
}

}  // namespace scenario
