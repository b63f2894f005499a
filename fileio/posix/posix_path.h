// Shared by the posix backend files: the program speaks in backslash paths
// (and never needs a forward slash in a name), the system in slash paths.
// The translation happens here and only here, at the system-call boundary.
#ifndef KV_POSIX_PATH_H
#define KV_POSIX_PATH_H

#include <cstddef>

// Native buffer: a program path has at most 271 bytes; the system side may
// hand back longer paths (getcwd, readlink), which are refused, not cut.
constexpr size_t POSIX_PATH_SIZE = 4096;

// Copies a program path into buf with '\' turned into '/'. Returns buf, or
// null for a null path or one that does not fit (a cut path could name a
// different file, so it is never passed to the system).
inline const char *PosixFromProgramPath(const char *path, char *buf, size_t size) {
  if (!path || !buf || size == 0) return nullptr;
  size_t n = 0;
  for (; path[n]; n++) {
    if (n + 1 >= size) return nullptr;
    buf[n] = path[n] == '\\' ? '/' : path[n];
  }
  buf[n] = '\0';
  return buf;
}

// The other direction for paths the system reports: '/' becomes '\'. Returns
// the length, or 0 (and an empty out) when it does not fit.
inline size_t PosixToProgramPath(const char *native, char *out, size_t size) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  if (!native) return 0;
  size_t n = 0;
  for (; native[n]; n++) {
    if (n + 1 >= size) {
      out[0] = '\0';
      return 0;
    }
    out[n] = native[n] == '/' ? '\\' : native[n];
  }
  out[n] = '\0';
  return n;
}

#endif
