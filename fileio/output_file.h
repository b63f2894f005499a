// Writing an extracted file without harm to what is on disk: no link in the
// way is followed, and the file is written under a temporary name beside its
// final one, which it takes only once it is complete.
#ifndef KV_OUTPUT_FILE_H
#define KV_OUTPUT_FILE_H

#include <cstddef>

#include "kv_base.h"

// 1 when a component of path below the folder base (which path starts with)
// is a link or reparse point: the folders between and the last name itself.
// The base folder is the user's choice and may be reached through links.
// finalKind, when given, receives what the last name is (NAME_* of
// FileNameKind; the base folder itself is looked at through links), and
// foldersThere whether every folder on the way was there as a real one;
// baseThere: the caller knows the base folder is there, no need to look.
int PathHasLinkBelow(const char *base, const char *path, int *finalKind = nullptr, int *foldersThere = nullptr,
                     bool baseThere = false);

// Creates a new file for writing in the folder of finalPath under a fresh
// temporary name (exclusive: never an existing name, never through a link)
// and stores that name in tempPath. Returns the handle, or -1.
FileHandle FileCreateTempBeside(const char *finalPath, char *tempPath, size_t size);

#endif
