// SPDX-License-Identifier: MIT
// Files the program keeps open for a long time (the reading log).
#include "platform/platform.h"

#include <cstdio>

namespace plat {

// Nothing asks a Windows program to reopen its files.
void SetReopenHandler(void (*)()) {}

// The C library opens a file without delete sharing: while it is open it
// can be neither renamed nor removed, so the path still names it. (File
// indexes would not tell on every file system: some change, some repeat.)
bool PathNamesFile(const char*, std::FILE*) { return true; }

}  // namespace plat
