// SPDX-License-Identifier: MIT
// The Win32 backend's translations between the seam's records and the
// console's own, kept apart from the pass-through calls so that they can be
// tested on their own. The console is spoken to in UTF-16 (its wide calls),
// so that what it shows and what it types is code page 850 whatever code
// page the console itself is set to.
#pragma once

// The seam's header comes first: windows.h turns many of its constant names
// into macros, which must not reach the seam's own declarations.
#include "platform/platform.h"

#include <windows.h>

#include <string>
#include <vector>

namespace plat::win32 {

// A cell's character as the console's wide calls want it.
wchar_t WideGlyph(char byte);
// A text of code page 850 bytes, for the console's title.
std::wstring WideText(const char* text);
// The code page 850 byte a typed character stands for: ASCII and control
// characters as they are, a character the code page lacks as '?'.
char TypedByte(wchar_t c);

void FromNative(const ::INPUT_RECORD& in, INPUT_RECORD& out);

// A fill of `length` cells from `at` in a buffer `width` cells wide, cut
// where it leaves a row it started in the middle of: some consoles drop
// such a fill whole. Each span is (start, length); they add up to `length`.
struct FillSpan {
  ::COORD at;
  DWORD length;
};
std::vector<FillSpan> FillSpans(::COORD at, DWORD length, SHORT width);

// The COM port numbers in a list of device names as QueryDosDevice gives
// it (names ended by NUL, the list by a second NUL), ascending, each once.
std::vector<int> ComPortsIn(const char* names, std::size_t size);
// That list with "COM<n>" added for each of `more` it lacks (the network
// ports, which have no device of their own), in the same form.
std::string WithPorts(const char* names, std::size_t size,
                      const std::vector<int>& more);

// A serial call failing with this error found its device gone (a USB
// adapter pulled out): the port waits for it to come back rather than
// report the failure.
bool DeviceGone(DWORD error);
// A gone device is looked for again at most this often.
inline constexpr DWORD kReopenEveryMs = 250;
// Whether to look for a gone device at tick `now`, last looked for at
// `lastLook` (tick counts wrap round).
bool TimeToLook(DWORD now, DWORD lastLook);

}  // namespace plat::win32
