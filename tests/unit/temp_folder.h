// A fresh folder under the temporary folder for the files of one test, and
// its removal.
#ifndef KV_TESTS_TEMP_FOLDER_H
#define KV_TESTS_TEMP_FOLDER_H

#include <filesystem>
#include <string>
#include <system_error>

#include "fileio/path.h"
#include "fileio/platform.h"

// Returns the new folder's path with a trailing backslash, or "" if none
// could be made. Should another process take a name first, the next one is
// drawn.
inline std::string MakeTempFolder(const char *suffix) {
  char tmp[PATH_BUF_SIZE], name[PATH_BUF_SIZE];
  if (!SysGetTempPath(tmp, sizeof tmp)) return std::string();
  for (int attempt = 0; attempt < 50; attempt++) {
    if (!PathMakeTempName(tmp, suffix, name, sizeof name)) break;
    if (DirCreate(name)) return std::string(name) + "\\";
  }
  return std::string();
}

// Removes the folder with all it holds, read-only files and folders too.
inline void RemoveTempFolder(const std::string &base) {
  if (base.empty()) return;
  std::string native = base;
  for (char &c : native)
    if (c == '\\') c = '/';  // accepted as a separator on both platforms
  std::error_code ec;
  std::filesystem::permissions(native, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  for (auto &e : std::filesystem::recursive_directory_iterator(native, ec))
    std::filesystem::permissions(e.path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(native, ec);
}

#endif
