// Exclusive creation with CREATE_NEW: fails on any existing name, links included.
#include <windows.h>

#include "../file_excl.h"

FileHandle FileCreateExclusive(const char *path) {
  if (!path || !*path) return INVALID_FILE;
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY, nullptr);
  return h == INVALID_HANDLE_VALUE ? INVALID_FILE : (FileHandle)h;
}
