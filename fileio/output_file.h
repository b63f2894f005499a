// Writing extracted files without harm to what is on disk. Below the target
// folder (the base, the user's choice, reached through links if it is one)
// every folder and file is created relative to an open handle of the folder
// above it, walked one name at a time from the base without following a link
// or reparse point: a folder swapped for a link meanwhile can't redirect a
// write, a mode or a time. Files are written under a temporary name beside
// their final one, which they take only once they are complete. The folders
// a run has open are kept until OutputWalkEnd, so that the walk is done once
// per folder, not once per file.
#ifndef KV_OUTPUT_FILE_H
#define KV_OUTPUT_FILE_H

#include <cstddef>
#include <cstdint>

#include "kv_base.h"

// 1 when a component of path below the folder base (which path starts with)
// is a link or reparse point: the folders between and the last name itself.
// finalKind, when given, receives what the last name is (NAME_* of
// FileNameKind; the base folder itself is looked at through links), and
// foldersThere whether every folder on the way was there as a real one;
// baseThere: the caller knows the base folder is there, no need to look.
int PathHasLinkBelow(const char *base, const char *path, int *finalKind = nullptr, int *foldersThere = nullptr,
                     bool baseThere = false);

// Creates the folder path below base and the missing ones on the way (the
// base too when missing). A folder made here gets the permission bits of
// unixMode (0 for the default) less the umask, and always its owner's
// access; on Windows the attributes (read-only dropped). An existing folder
// is left as it is. 1 when path is a real folder afterwards; 0 when a link or
// a file is in the way or the creation failed.
int DirCreateBelow(const char *base, const char *path, uint32_t unixMode = 0, uint32_t attributes = 0);

// Creates a new file for writing in the folder of finalPath (below base,
// which must be there) under a fresh temporary name (exclusive, never through
// a link; POSIX: mode 0600 until FileSetFinalMode) and stores that name in
// tempPath. Returns the handle, or -1.
FileHandle FileCreateTempBeside(const char *base, const char *finalPath, char *tempPath, size_t size);

// The mode and attributes a finished file takes, set on its handle: POSIX:
// unixMode's permission bits (0666 when it has none) less the umask, write
// permission dropped for the read-only attribute; Windows: the attributes.
// 0 on success, else the platform's error code.
uint32_t FileSetFinalMode(FileHandle h, uint32_t unixMode, uint32_t attributes);

// Moves the finished temporary file from over the final name to in the same
// folder below base (replacing a file there, never following a link). 1 on
// success, 0 on failure (both names then as they were).
int FileReplaceBelow(const char *base, const char *from, const char *to);
// Removes the file path below base by way of its folder's handle. 1 or 0.
int FileDeleteBelow(const char *base, const char *path);
// Closes the folder handles a run keeps.
void OutputWalkEnd();

// What a run made, for a clean-up that must remove only that. Kept only
// between OutputLogStart and OutputLogStop: the folders created (the base
// folder as "") and the files created or replaced, as paths relative to the
// base, in the order they came.
void OutputLogStart(const char *base);
void OutputLogStop();
void OutputLogAdd(const char *base, const char *path, int isFolder);
// The n-th record from the end (0 = the last); null past the first. isFolder
// receives its kind.
const char *OutputLogFromEnd(size_t n, int *isFolder);
// Removes the log's records below base in reverse order, each by way of its
// folder's handle and without following a link: files, then folders that are
// empty. Returns the number left in place.
int OutputLogRemove(const char *base);

// A target inside the temporary folder temp (which path starts with) that no
// other user may have prepared: each folder below temp that is missing is
// created private to this user (POSIX 0700; Windows a protected DACL); one
// that exists must be a real folder, not a link or reparse point, and
// (POSIX) owned by this user. 1 when it may be used, 0 when refused.
int DirPreparePrivate(const char *temp, const char *path);

#endif
