// The start-up's entry to the folder macros (launcher/folder_macros.cpp).
#include "folder_macro.h"

#include "folder_macros.h"

int ExpandFolderMacro(const char *text, char *out, size_t size) {
  if (out && size > 0) out[0] = '\0';
  return FolderExpandMacro(text, out, size);
}
