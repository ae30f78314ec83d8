// SPDX-License-Identifier: MIT
// Files the program keeps open for a long time (the reading log).
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "platform/platform.h"

namespace plat {

bool PathNamesFile(const char* path, std::FILE* file) {
  struct stat open {};
  struct stat named {};
  if (file == nullptr || ::fstat(::fileno(file), &open) != 0) return true;
  if (::stat(path, &named) != 0) return errno != ENOENT && errno != ENOTDIR;
  return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

}  // namespace plat
