// Creating a file that must be new: never opens an existing file and never
// follows a link, so a name planted in a shared folder can't redirect it.
#ifndef KV_FILE_EXCL_H
#define KV_FILE_EXCL_H

#include "kv_base.h"

// Creates `path` for writing, readable and writable by the owner only on
// POSIX. Returns the handle, or -1 when the name exists (as anything at all)
// or the file can't be created. Close with FileClose.
FileHandle FileCreateExclusive(const char *path);
// The same for a file that is to become an extracted file: created with the
// ordinary permissions a new file gets (POSIX: 0666 less the umask; Windows:
// the archive attribute).
FileHandle FileCreateNew(const char *path);

#endif
