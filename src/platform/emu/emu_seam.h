// SPDX-License-Identifier: MIT
// The seam's console output calls over the emulated buffer, for the
// backends that keep one (posix, fake). A refusal of the buffer fails the
// call with ERROR_INVALID_PARAMETER, as a Windows console fails it.
#pragma once

#include "platform/emu/emu_console.h"
#include "platform/platform.h"

namespace plat::emu {

// Defined by each backend: the buffer behind a console handle, brought up
// to date; null, with the last error set, when there is none.
EmuConsole* ConsoleFor(Handle h);
// Defined by each backend: told of every region WriteConsoleOutputA wrote.
void NoteWritten(const SMALL_RECT& region);

}  // namespace plat::emu
