// Exclusive creation with O_EXCL (which also refuses a dangling link) and
// O_NOFOLLOW; the program's backslashes become slashes at the system call.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "../file_excl.h"

FileHandle FileCreateExclusive(const char *path) {
  if (!path || !*path) return INVALID_FILE;
  char native[PATH_BUF_SIZE];
  StrCopy(native, path, sizeof native);
  for (char *p = native; *p; ++p)
    if (*p == '\\') *p = '/';
  int fd = open(native, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  return fd < 0 ? INVALID_FILE : (FileHandle)fd;
}
