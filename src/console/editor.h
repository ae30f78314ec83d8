// SPDX-License-Identifier: MIT
// Line editor, saved screen size and console title.
#pragma once

#include <cstdint>

#include "console/str255.h"

std::int32_t ReadLineEcho(Str255& line, std::int32_t maximum);
void SaveScreenSize();
void RestoreFullWindow();
void SetConsoleCaption(const Str255& text);

extern std::int32_t SavedScreenColumns;
extern std::int32_t SavedScreenRows;
