// SPDX-License-Identifier: MIT
#include "console/editor.h"
#include "console/keyboard.h"
#include "setup/program.h"

// Keys typed before the program was ready must not count as input or hot
// keys, and the window size the operator started with is what the terminal
// restores later, whatever the monitor does to the screen.
void LibraryStartup() {
  ResetKeyboard();
  SaveScreenSize();
}
