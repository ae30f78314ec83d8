// SPDX-License-Identifier: MIT
// Status indicators on rows 9 to 12.
#pragma once

#include "console/str255.h"

void ShowVent(bool reading);
void ShowTempCtl(bool reading);
void ShowFloorHtr(bool reading);
void ShowTempMode(bool reading);

// True when a relay reply means on: exactly "1".
bool RelayOn(const Str255& reply);
