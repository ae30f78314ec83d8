// SPDX-License-Identifier: MIT
// Files the program keeps open for a long time (the reading log).
#include "platform/platform.h"

#include <windows.h>
#include <io.h>

#include <cstdio>

namespace plat {

// Windows keeps a file open without delete sharing (as the C library opens
// it) from being renamed or removed, but a copy may still replace it.
void SetReopenHandler(void (*)()) {}

bool PathNamesFile(const char* path, std::FILE* file) {
  if (file == nullptr) return true;
  const auto open = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
  BY_HANDLE_FILE_INFORMATION mine{};
  if (open == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(open, &mine)) {
    return true;
  }
  // No access asked: only the file's identity is read.
  const HANDLE named = ::CreateFileA(
      path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (named == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
  }
  BY_HANDLE_FILE_INFORMATION other{};
  const BOOL known = ::GetFileInformationByHandle(named, &other);
  ::CloseHandle(named);
  if (!known) return true;
  return mine.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
         mine.nFileIndexHigh == other.nFileIndexHigh &&
         mine.nFileIndexLow == other.nFileIndexLow;
}

}  // namespace plat
