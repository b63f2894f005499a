// Folder macros are not resolved yet: every text counts as macro-free, so the
// target folder stays as stored.
#include "folder_macro.h"

int ExpandFolderMacro(const char *text, char *out, size_t size) {
  (void)text;
  if (out && size > 0) out[0] = '\0';
  return 1;
}
