// SPDX-License-Identifier: MIT
// What is left for the user on standard error once the program has ended
// and the backend's screen is given back: the backend's own notes (why a
// network port could not be opened, which the screen would have hidden)
// and the program's text (ShowOnExit).
#pragma once

#include <string>

namespace plat {

// A line for the end; the last eight are kept.
void NoteForUser(const std::string& line);
// The program's text for the end, replacing the last.
void SetExitText(const char* text);
// The notes, each after "zrvmon: ", then the text, once. The exit may come
// from any thread, so the lock is only tried for a while.
void PrintEndLines();

}  // namespace plat
