// SPDX-License-Identifier: MIT
// Keyboard: key map, key codes, the Esc abort latch and the key buffer.
#pragma once

#include <cstdint>

#include "platform/shared/keymap_table.h"
#include "console/str255.h"
#include "platform/platform.h"

std::uint16_t TranslateKeyEvent(const plat::KEY_EVENT_RECORD& event,
                                const KeyMapRow& row);

extern std::uint16_t PendingExtendedCode;
extern bool AbortFlag;
extern Str255 KeyBuffer;

bool KeyWaiting();
std::uint8_t ReadKeyCode();
bool AbortRequested();
std::uint8_t PollKey();
std::uint8_t ReadKeyOrAbort();
// Waits for one key without polling the latch first: an extended key gives 0
// (its second code is dropped), Esc latches AbortFlag.
std::uint8_t ReadKeyLatchingEsc();
void WaitTenths(std::int32_t count);
void ResetKeyboard();

// Transfer of standard input: fills buf (128 bytes) with one typed line and
// returns the number of bytes stored.
int ConsoleLineReader(char* buf, int size);

// Tests only.
void ResetKeyboardStateForTests();
