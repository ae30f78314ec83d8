// SPDX-License-Identifier: MIT
// Program entry shared by the real main and the in-process test runs.
#pragma once

// Library start-up defaults: keyboard state reset, screen size recorded.
void LibraryStartup();

// Runs the whole program (console set-up, library start-up, the monitor)
// and returns its exit code.
int ZrvMain(int argc, char** argv);
