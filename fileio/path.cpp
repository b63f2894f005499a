// Path strings and the directories they name: portable code over the file
// access layer and the platform's character stepping.
#include "fileio/path.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "fileio/file_io.h"
#include "fileio/platform.h"

namespace {

// Copies count bytes to out (which may overlap src) cut to size - 1, terminated.
char *CopyOut(char *out, size_t size, const char *src, size_t count) {
  if (size == 0) return out;
  if (count > size - 1) count = size - 1;
  memmove(out, src, count);
  out[count] = '\0';
  return out;
}

// True when the text's last whole character is a backslash: walked from the
// start, as the second byte of a double-byte character can be 0x5C.
bool EndsInBackslash(const char *text) {
  const char *last = nullptr;
  for (const char *p = text; *p; p = TextNext(p)) last = p;
  return last && *last == '\\';
}

}  // namespace

// "*d" (d any byte, a second '*' included, or '?') stands for any run of
// bytes followed by one byte that d matches; a remaining "*.*" or "*" matches
// whatever is left. Matched greedily, going back only to the latest star,
// which finds every match the full recursive search finds (a later star can
// absorb whatever an earlier one would have taken) in time proportional to
// the product of the lengths, so no pattern can make it run for ages.
int NameMatch(const char *name, const char *pattern) {
  if (!name || !pattern) return 0;
  const char *p = pattern, *n = name;
  const char *starD = nullptr, *starName = nullptr;  // the latest star's d, and where it last tried
  bool atD = false;  // p is the byte after a star: taken literally, even '*'
  for (;;) {
    if (!atD) {
      if (!strcmp(p, "*.*") || !strcmp(p, "*")) return 1;
      if (*p == '*') {
        starD = p + 1;
        starName = n;
        p = starD;
        atD = true;
        continue;
      }
      if (!*p && !*n) return 1;
    }
    if (*p && *n && (*p == '?' || *p == *n)) {
      p++;
      n++;
      atD = false;
      continue;
    }
    if (!starD || !*starName) return 0;
    n = ++starName;
    p = starD;
    atD = true;
  }
}

char *NameUpper(char *text) {
  TextUpper(text);
  return text;
}

char *PathEnsureBackslash(char *path) {
  if (!path) return nullptr;
  size_t len = strlen(path);
  if (len >= PATH_BUF_SIZE - 1) return nullptr;
  if (len > 0 && !EndsInBackslash(path)) {
    path[len] = '\\';
    path[len + 1] = '\0';
  }
  return path;
}

char *PathTrimBackslash(char *path) {
  if (!path) return nullptr;
  size_t len = strlen(path);
  if (len > 3 && EndsInBackslash(path)) path[len - 1] = '\0';
  return path;
}

const char *PathFindExt(const char *path) {
  if (!path) return nullptr;
  const char *dot = nullptr;
  for (const char *p = path; *p; p = TextNext(p))
    if (*p == '.') dot = p;
  return dot;
}

char *PathGetExt(const char *path, char *out, size_t size) {
  const char *dot = PathFindExt(path);
  if (!dot) {
    if (out && out != path && size) out[0] = '\0';
    return nullptr;
  }
  if (!out) return nullptr;
  return CopyOut(out, size, dot, strlen(dot));
}

int PathSetExt(char *path, const char *ext) {
  if (!path) return 0;
  char *dot = (char *)PathFindExt(path);
  bool haveExt = ext && *ext;
  if (dot && (size_t)(dot - path) < PATH_BUF_SIZE) {
    if (haveExt) {
      StrCopy(dot, ext, PATH_BUF_SIZE - (size_t)(dot - path));
    } else {
      *dot = '\0';
    }
  } else if (haveExt) {
    StrAppend(path, ext, PATH_BUF_SIZE);
  }
  return 1;
}

const char *PathFindName(const char *path) {
  if (!path) return nullptr;
  const char *afterBackslash = nullptr, *afterColon = nullptr;
  for (const char *p = path; *p; p = TextNext(p)) {
    if (*p == '\\') afterBackslash = p + 1;
    else if (*p == ':' && !afterColon) afterColon = p + 1;
  }
  if (afterBackslash) return afterBackslash;
  return afterColon ? afterColon : path;
}

// A failing split leaves an empty output, so no caller goes on with stale text.
char *PathGetName(const char *path, char *out, size_t size) {
  if (!path || !out) {
    if (out && size) out[0] = '\0';
    return nullptr;
  }
  const char *name = PathFindName(path);
  return CopyOut(out, size, name, strlen(name));
}

char *PathGetDir(const char *path, char *out, size_t size) {
  if (!path || !out) {
    if (out && size) out[0] = '\0';
    return nullptr;
  }
  return CopyOut(out, size, path, (size_t)(PathFindName(path) - path));
}

int PathCutLast(char *path) {
  if (!path) return 0;
  char *p = path;
  if (*p == '\\') {
    p++;
    if (*p == '\\') p++;
  }
  char *cut = p;
  while (*p) {
    if (*p == '\\') {
      cut = p;
      p = (char *)TextNext(p);
    } else if (*p == ':') {
      p = (char *)TextNext(p);
      cut = p;
      if (*p == '\\') cut = ++p;
    } else {
      p = (char *)TextNext(p);
    }
  }
  if (!*cut) return 0;
  *cut = '\0';
  return 1;
}

int PathIsRootOnly(const char *path) {
  if (!path || !*path) return 0;
  size_t len = strlen(path);
  if (len == 3 && path[1] == ':' && path[2] == '\\') return 1;
  if (len == 1 && path[0] == '\\') return 1;
  if (path[0] != '\\' || path[1] != '\\') return 0;
  int more = 0;
  for (const char *p = path + 2; *p; p = TextNext(p))
    if (*p == '\\') more++;
  return more <= 1;
}

int PathGetRoot(const char *path, char *out, size_t size) {
  char buf[PATH_BUF_SIZE];
  StrCopy(buf, path, sizeof buf);  // before touching out, which may be path
  if (out && size) out[0] = '\0';
  if (!path) return 0;
  for (;;) {
    if (PathIsRootOnly(buf)) {
      if (out) CopyOut(out, size, buf, strlen(buf));
      return 1;
    }
    if (!PathCutLast(buf)) return 0;
  }
}

char *PathAfterRoot(const char *path, char *out, size_t size) {
  if (!path || !out) return nullptr;
  char root[PATH_BUF_SIZE];
  PathGetRoot(path, root, sizeof root);
  const char *rest = path + strlen(root);
  return CopyOut(out, size, rest, strlen(rest));
}

size_t PathNthBackslash(const char *path, int n) {
  if (!path) return 0;
  int seen = 0;
  size_t i = 0;
  for (; path[i]; i++)
    if (path[i] == '\\' && ++seen == n) return i;
  return i;
}

void PathFixSlashes(char *path) {
  if (!path) return;
  for (; *path; path++)
    if (*path == '/') *path = '\\';
}

int FileExists(const char *path) {
  FindRecord record;
  if (!FileFindFirst(path, &record)) return 0;
  return (record.attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : 1;
}

int DirCreateChain(const char *path) {
  if (!path || !*path) return 0;
  if (DirExists(path)) return 1;
  size_t len = strlen(path);
  if (len >= PATH_BUF_SIZE) return 0;  // a cut path would create the wrong folders
  // A network path's server and share (it starts with two backslashes), and
  // a drive, are never created: the first prefix already reaches the first
  // folder below them. Two backslashes further on are one separator.
  int n = path[0] == '\\' && path[1] == '\\' ? 5 : 2;
  for (;; n++) {
    size_t end = PathNthBackslash(path, n);
    char prefix[PATH_BUF_SIZE];
    StrCopyN(prefix, path, end, sizeof prefix);
    if (!DirExists(prefix) && !DirCreate(prefix)) return 0;
    if (end >= len) return 1;
  }
}

int DirCreatePath(const char *path) {
  if (!path || strlen(path) >= PATH_BUF_SIZE) return 0;
  char buf[PATH_BUF_SIZE];
  StrCopy(buf, path, sizeof buf);
  PathTrimBackslash(buf);
  return DirCreateChain(buf);
}

FileHandle FileCreateWithDirs(const char *path) {
  if (!path || strlen(path) >= PATH_BUF_SIZE) return INVALID_FILE;
  char dir[PATH_BUF_SIZE];
  PathGetDir(path, dir, sizeof dir);
  if (!DirCreatePath(dir)) return INVALID_FILE;
  // Drop read-only, hidden and system, so that such a file can be replaced.
  if (FileExists(path)) FileSetArchiveOnly(path);
  return FileOpen(path, "wb");
}

// The digits come from the system's random source, so another user can't
// tell the next name and plant something there first. The source is drawn
// on in batches: one system call serves eight names.
int PathDrawTempName(const char *dir, const char *suffix, char *out, size_t size) {
  if (!out || size == 0) return 0;
  char base[PATH_BUF_SIZE];  // taken before out is touched: out may be dir
  if (!dir || !PathGetDir(dir, base, sizeof base) || !PathEnsureBackslash(base)) {
    out[0] = '\0';
    return 0;
  }
  static uint64_t pool[8];
  static size_t poolLeft = 0;
  if (poolLeft == 0) {
    if (!SysRandom(pool, sizeof pool)) return 0;
    poolLeft = sizeof pool / sizeof pool[0];
  }
  uint64_t draw = pool[--poolLeft];
  pool[poolLeft] = 0;  // a name is drawn once
  char digits[16];
  StrPrintf(digits, sizeof digits, "%08u", (unsigned)(draw % 100000000u));
  char name[PATH_BUF_SIZE + 1];
  StrCopy(name, base, sizeof name);
  StrAppend(name, digits, sizeof name);
  StrAppend(name, suffix, sizeof name);
  // A name cut to the buffer would not be the one checked: refuse it.
  if (strlen(name) >= PATH_BUF_SIZE || strlen(name) >= size) {
    out[0] = '\0';
    return 0;
  }
  StrCopy(out, name, size);
  return 1;
}

// A taken name is skipped; the number of attempts is bounded, so a crowded
// folder ends the search instead of spinning.
int PathMakeTempName(const char *dir, const char *suffix, char *out, size_t size) {
  if (!out || size == 0) return 0;
  char name[PATH_BUF_SIZE];
  const int kMaxAttempts = 1000;
  for (int attempt = 0; attempt < kMaxAttempts; attempt++) {
    if (!PathDrawTempName(dir, suffix, name, sizeof name) || strlen(name) >= size) break;
    if (!FileExists(name) && !DirExists(name)) {
      StrCopy(out, name, size);
      return 1;
    }
  }
  out[0] = '\0';
  return 0;
}
