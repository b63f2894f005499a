// The start-up's view of folder macros: the expansion itself lives in
// folder_macros.cpp; this keeps the derivation's contract (out empty when the
// text holds no macro to replace).
#include "folder_macro.h"

#include "folder_macros.h"

int ExpandFolderMacro(const char *text, char *out, size_t size) {
  if (!out || size == 0) return 1;
  out[0] = '\0';
  if (!text || !text[0]) return 1;
  if (!FolderExpandMacro(text, out, size)) {
    out[0] = '\0';
    return 0;
  }
  return 1;
}
