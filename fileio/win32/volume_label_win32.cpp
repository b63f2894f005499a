// Disk labels of Windows drives.
#include <windows.h>

#include "../kv_base.h"
#include "../volume_label.h"

int DriveReadLabel(const char *root, char *label, size_t size) {
  if (!root || !label || size == 0) return 0;
  label[0] = '\0';
  char buffer[PATH_BUF_SIZE];
  buffer[0] = '\0';
  // An empty floppy or card drive would otherwise raise the system's
  // "no disk" box; the prompt that follows a failed test is the answer.
  UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS);
  BOOL ok = GetVolumeInformationA(root, buffer, PATH_BUF_SIZE - 1, nullptr, nullptr, nullptr, nullptr, 0);
  SetErrorMode(previous);
  if (!ok) return 0;
  buffer[PATH_BUF_SIZE - 1] = '\0';
  StrCopy(label, buffer, size);
  return 1;
}
