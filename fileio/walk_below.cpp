#include "fileio/walk_below.h"

#include <cstring>

#include "fileio/file_io.h"
#include "fileio/output_file.h"
#include "fileio/path.h"
#include "fileio/platform.h"

void WalkTrimBase(const char *base, char *out) {
  StrCopy(out, base ? base : "", PATH_BUF_SIZE);
  size_t n = strlen(out);
  while (n > kWalkRootLength && out[n - 1] == '\\') out[--n] = '\0';
}

int WalkRelative(const char *base, const char *path, char *rel) {
  char b[PATH_BUF_SIZE];
  WalkTrimBase(base, b);
  size_t n = strlen(b);
  if (!path || !n || strncmp(path, b, n) != 0) return 0;
  const char *p = path + n;
  // Only a root keeps its trailing backslash: "\" or "C:\" is followed by a name.
  if (*p && *p != '\\' && b[n - 1] != '\\') return 0;
  size_t out = 0;
  while (*p) {
    while (*p == '\\') p++;
    if (!*p) break;
    // By characters: a trail byte of a double-byte code page may be a backslash.
    const char *end = p;
    while (*end && *end != '\\') end = TextNext(end);
    size_t len = (size_t)(end - p);
    if ((len == 1 && p[0] == '.') || (len == 2 && p[0] == '.' && p[1] == '.')) return 0;
    if (out + len + 2 > PATH_BUF_SIZE) return 0;
    if (out) rel[out++] = '\\';
    memcpy(rel + out, p, len);
    out += len;
    p = end;
  }
  rel[out] = '\0';
  return 1;
}

const char *WalkSplitLast(const char *rel, char *dir) {
  const char *last = rel;
  for (const char *p = rel; *p; p = TextNext(p))
    if (*p == '\\') last = p + 1;
  StrCopyN(dir, rel, last > rel ? (size_t)(last - rel - 1) : 0, PATH_BUF_SIZE);
  return last;
}

int PathHasLinkBelow(const char *base, const char *path, int *finalKind, int *foldersThere, bool baseThere) {
  int kind = NAME_ABSENT, there = 0;
  if (!finalKind) finalKind = &kind;
  if (!foldersThere) foldersThere = &there;
  *finalKind = NAME_ABSENT;
  *foldersThere = 0;
  if (!path || !*path) return 0;
  char rel[PATH_BUF_SIZE];
  if (!base || !*base || !WalkRelative(base, path, rel)) {
    *finalKind = FileNameKind(path);  // only the name itself is known to be ours
    return *finalKind == NAME_LINK;
  }
  if (!rel[0]) {  // the base folder itself, looked at through links
    *foldersThere = baseThere || DirExists(base);
    *finalKind = *foldersThere ? NAME_FOLDER : FileExists(path) ? NAME_FILE : NAME_ABSENT;
    return 0;
  }
  char dir[PATH_BUF_SIZE];
  const char *last = WalkSplitLast(rel, dir);
  WalkResult r = WalkNameKind(base, dir, last, finalKind);
  if (r == WALK_BLOCKED) return 1;
  if (r != WALK_OK) return 0;
  *foldersThere = 1;
  return *finalKind == NAME_LINK;
}
