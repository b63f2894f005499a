// The platform questions of the path helpers, answered by POSIX means.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fileio/path.h"
#include "fileio/posix/posix_path.h"

int DirCreate(const char *path) {
  char native[POSIX_PATH_SIZE];
  if (!PosixFromProgramPath(path, native, sizeof native) || !native[0]) return 0;
  return mkdir(native, 0777) == 0 ? 1 : 0;
}

int DirRemove(const char *path) {
  char native[POSIX_PATH_SIZE];
  if (!PosixFromProgramPath(path, native, sizeof native) || !native[0]) return 0;
  return rmdir(native) == 0 ? 1 : 0;
}

int DirExists(const char *path) {
  char native[POSIX_PATH_SIZE];
  if (!PosixFromProgramPath(path, native, sizeof native) || !native[0]) return 0;
  struct stat st;
  return stat(native, &st) == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
}

// Callers want "is this the NT platform" to pick the NT-like behaviour
// (long names, Unicode-capable file system, no 9x quirks); POSIX systems
// have exactly that, so the answer is always yes.
int OsIsNt() { return 1; }

namespace {

int ReadFlag(const char *file) {
  FILE *f = fopen(file, "r");
  if (!f) return -1;
  int c = fgetc(f);
  fclose(f);
  return c == '1' ? 1 : c == '0' ? 0 : -1;
}

}  // namespace

// Removable means the block device holding the path says so in sysfs
// (/sys/dev/block/MAJOR:MINOR/removable, or its parent's for a partition).
// The nearest existing folder of the path is asked, since a volume that is
// being waited for may not exist yet. Anything unknown counts as fixed.
int DriveIsRemovable(const char *path) {
  char native[POSIX_PATH_SIZE];
  if (!PosixFromProgramPath(path, native, sizeof native) || !native[0]) return 0;
  struct stat st;
  while (stat(native, &st) != 0) {
    char *slash = strrchr(native, '/');
    if (!slash) return 0;
    if (slash == native) {
      native[1] = '\0';
      if (stat(native, &st) != 0) return 0;
      break;
    }
    *slash = '\0';
  }
  char file[128];
  snprintf(file, sizeof file, "/sys/dev/block/%u:%u/removable", major(st.st_dev), minor(st.st_dev));
  int flag = ReadFlag(file);
  if (flag < 0) {
    snprintf(file, sizeof file, "/sys/dev/block/%u:%u/../removable", major(st.st_dev), minor(st.st_dev));
    flag = ReadFlag(file);
  }
  return flag == 1 ? 1 : 0;
}
