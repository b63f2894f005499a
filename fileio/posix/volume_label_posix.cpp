// Disk labels on POSIX systems: a mounted file system's label is not part of
// the path the program sees, so no disk is ever recognised by its label, and
// volumes are found by their file names as on a fixed drive, removable or not.
#include "../volume_label.h"

int DriveReadLabel(const char *, char *label, size_t size) {
  if (label && size) label[0] = '\0';
  return -1;
}
