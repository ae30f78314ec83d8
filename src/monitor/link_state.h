// SPDX-License-Identifier: MIT
// Row 22: one line that says when the monitor is not getting readings (the
// port could not be opened, no reply, replies that cannot be used), blank
// while replies come.
#pragma once

#include <cstdint>
#include <string>

#include "console/str255.h"
#include "monitor/state.h"

// The link's last request as a value's read.
ReadOutcome LastLinkRead();
// `when` (as std::time gives it) as HH:MM:SS in local time.
std::string ClockTime(std::int64_t when);

// Whether readings come: the port is open and fewer than three requests in
// a row failed.
bool ReadingsCome();
// The row's text as things stand; empty when readings come.
Str255 LinkStateText();
// Writes the row when its text has changed since it was last written.
void ShowLinkState();
// The screen was cleared: the next ShowLinkState writes the row again.
void ForgetLinkState();
