// Row 22: one line that says when the monitor is not getting readings (the
// port could not be opened, no reply, replies that cannot be used), blank
// while replies come.
#pragma once

#include "console/str255.h"

// The row's text as things stand; empty when readings come.
Str255 LinkStateText();
// Writes the row when its text has changed since it was last written.
void ShowLinkState();
// The screen was cleared: the next ShowLinkState writes the row again.
void ForgetLinkState();
