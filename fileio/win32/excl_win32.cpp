// Exclusive creation with CREATE_NEW: fails on any existing name, links
// included; FILE_FLAG_OPEN_REPARSE_POINT keeps a dangling link from being
// followed to create its target.
#include <windows.h>

#include "../file_excl.h"

namespace {

FileHandle CreateNewWithAttributes(const char *path, DWORD attributes) {
  if (!path || !*path) return INVALID_FILE;
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         attributes | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  return h == INVALID_HANDLE_VALUE ? INVALID_FILE : (FileHandle)h;
}

}  // namespace

FileHandle FileCreateExclusive(const char *path) {
  return CreateNewWithAttributes(path, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY);
}

FileHandle FileCreateNew(const char *path) { return CreateNewWithAttributes(path, FILE_ATTRIBUTE_ARCHIVE); }
