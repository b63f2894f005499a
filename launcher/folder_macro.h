// Folder macros at the start of the settings' target folder.
#ifndef KV_FOLDER_MACRO_H
#define KV_FOLDER_MACRO_H

#include <cstddef>

// Expands a folder macro at the start of text into out. Returns 1 when the
// text was resolved (out holds the result) or holds no macro (out holds an
// unchanged copy, or is empty for an empty text); 0 when the macro's folder
// can't be determined (out empty).
int ExpandFolderMacro(const char *text, char *out, size_t size);

#endif
