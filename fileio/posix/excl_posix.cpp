// Exclusive creation with O_EXCL (which also refuses a dangling link) and
// O_NOFOLLOW.
#include <fcntl.h>
#include <unistd.h>

#include "../file_excl.h"
#include "posix_path.h"

namespace {

FileHandle CreateNewWithMode(const char *path, int mode) {
  char native[POSIX_PATH_SIZE];
  if (!path || !*path || !PosixFromProgramPath(path, native, sizeof native)) return INVALID_FILE;
  int fd = open(native, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  return fd < 0 ? INVALID_FILE : (FileHandle)fd;
}

}  // namespace

FileHandle FileCreateExclusive(const char *path) { return CreateNewWithMode(path, 0600); }

FileHandle FileCreateNew(const char *path) { return CreateNewWithMode(path, 0666); }
