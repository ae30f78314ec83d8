// SPDX-License-Identifier: MIT
#include "platform/shared/com_names.h"

#include <cstring>

namespace plat {

int ParseComName(const char* name) {
  if (name == nullptr) return 0;
  const char* p = name;
  if (std::strncmp(p, "\\\\.\\", 4) == 0) p += 4;
  if ((p[0] != 'C' && p[0] != 'c') || (p[1] != 'O' && p[1] != 'o') ||
      (p[2] != 'M' && p[2] != 'm')) {
    return 0;
  }
  p += 3;
  if (*p < '1' || *p > '9') return 0;
  int n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + (*p - '0');
    if (n > kMaxComPort) return 0;
  }
  return *p == '\0' ? n : 0;
}

}  // namespace plat
