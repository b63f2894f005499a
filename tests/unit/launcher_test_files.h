// Files for the launcher and INI tests, made through the file layer so that
// the same tests run natively and under Wine.
#ifndef KV_LAUNCHER_TEST_FILES_H
#define KV_LAUNCHER_TEST_FILES_H

#include <string>

#include "fileio/file_io.h"
#include "fileio/platform.h"

// A name in the platform's temporary folder, unique within this process run.
inline std::string TestTempPath(const std::string &stem) {
  static int counter = 0;
  char dir[PATH_BUF_SIZE];
  if (SysGetTempPath(dir, sizeof dir) == 0) return std::string();
  char name[64];
  StrPrintf(name, sizeof name, "kvt_%s_%d_%d", stem.c_str(), (int)(intptr_t)&counter % 9973, ++counter);
  return std::string(dir) + name;
}

inline bool TestWriteFile(const std::string &path, const std::string &data) {
  FileHandle h = FileOpen(path.c_str(), "wb");
  if (h == INVALID_FILE) return false;
  bool ok = data.empty() || FileWrite(h, data.data(), (uint32_t)data.size()) == (int32_t)data.size();
  return FileClose(h) == 1 && ok;
}

inline bool TestReadFile(const std::string &path, std::string *data) {
  FileHandle h = FileOpen(path.c_str(), "rb");
  if (h == INVALID_FILE) return false;
  data->clear();
  char buffer[4096];
  int32_t got;
  while ((got = FileRead(h, buffer, sizeof buffer)) > 0) data->append(buffer, (size_t)got);
  FileClose(h);
  return got == 0;
}

#endif
