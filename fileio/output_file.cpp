// The parts of safe output that need no platform of their own.
#include "fileio/output_file.h"

#include <cstring>

#include "fileio/file_excl.h"
#include "fileio/file_io.h"
#include "fileio/path.h"
#include "fileio/platform.h"

int PathHasLinkBelow(const char *base, const char *path, int *finalKind, int *foldersThere, bool baseThere) {
  int kind = NAME_ABSENT, there = 0;
  if (!finalKind) finalKind = &kind;
  if (!foldersThere) foldersThere = &there;
  *finalKind = NAME_ABSENT;
  *foldersThere = 0;
  if (!path || !*path) return 0;
  char probe[PATH_BUF_SIZE];
  StrCopy(probe, path, sizeof probe);
  PathTrimBackslash(probe);
  size_t start;
  size_t fullLength = base ? strlen(base) : 0;
  size_t baseLength = fullLength && base[fullLength - 1] == '\\' ? fullLength - 1 : fullLength;
  if (fullLength && strncmp(probe, base, baseLength) == 0 && (probe[baseLength] == '\\' || !probe[baseLength])) {
    // The base is followed through links, and is there when it is a folder.
    *foldersThere = baseThere || DirExists(probe[baseLength] ? base : probe);
    if (!probe[baseLength]) {  // the base folder itself
      *finalKind = *foldersThere ? NAME_FOLDER : FileExists(probe) ? NAME_FILE : NAME_ABSENT;
      return 0;
    }
    start = baseLength + 1;
  } else {
    start = (size_t)(PathFindName(probe) - probe);  // only the name itself is known to be ours
  }
  // Every backslash after the base ends a folder of the entry's own; the
  // walk goes by whole characters, as a backslash can be a trail byte.
  for (const char *p = probe + start; *p; p = TextNext(p)) {
    if (*p != '\\' || p == probe + start) continue;
    char prefix[PATH_BUF_SIZE];
    StrCopyN(prefix, probe, (size_t)(p - probe), sizeof prefix);
    int folder = FileNameKind(prefix);
    if (folder == NAME_LINK) return 1;
    if (folder != NAME_FOLDER) *foldersThere = 0;
  }
  *finalKind = FileNameKind(probe);
  return *finalKind == NAME_LINK;
}

FileHandle FileCreateTempBeside(const char *finalPath, char *tempPath, size_t size) {
  if (!tempPath || size == 0) return INVALID_FILE;
  tempPath[0] = '\0';
  for (int attempt = 0; attempt < 16; attempt++) {
    // The creation is exclusive: a taken name fails it, and the next is drawn.
    if (!PathDrawTempName(finalPath, ".~kv", tempPath, size)) break;
    FileHandle h = FileCreateNew(tempPath);
    if (h != INVALID_FILE) return h;
  }
  tempPath[0] = '\0';
  return INVALID_FILE;
}
