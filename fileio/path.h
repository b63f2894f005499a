// Path strings and the directories they name. Backslash is the only separator
// inside the program; every result is cut to its buffer and terminated.
#ifndef KV_PATH_H
#define KV_PATH_H

#include <cstddef>

#include "kv_base.h"

int NameMatch(const char *name, const char *pattern);
char *NameUpper(char *text);
char *PathEnsureBackslash(char *path);
char *PathTrimBackslash(char *path);
const char *PathFindExt(const char *path);
char *PathGetExt(const char *path, char *out, size_t size);
int PathSetExt(char *path, const char *ext);
const char *PathFindName(const char *path);
char *PathGetName(const char *path, char *out, size_t size);
char *PathGetDir(const char *path, char *out, size_t size);
int PathCutLast(char *path);
int PathIsRootOnly(const char *path);
int PathGetRoot(const char *path, char *out, size_t size);
char *PathAfterRoot(const char *path, char *out, size_t size);
size_t PathNthBackslash(const char *path, int n);
void PathFixSlashes(char *path);

int DirCreate(const char *path);
int DirExists(const char *path);
int DirRemove(const char *path);  // an empty folder only
int FileExists(const char *path);
int DirCreateChain(const char *path);
int DirCreatePath(const char *path);
FileHandle FileCreateWithDirs(const char *path);
int PathMakeTempName(const char *dir, const char *suffix, char *out, size_t size);
// A fresh name as above, not looked up: for a caller whose creation is
// exclusive and so refuses a taken name itself.
int PathDrawTempName(const char *dir, const char *suffix, char *out, size_t size);
int OsIsNt();
int DriveIsRemovable(const char *path);

#endif
