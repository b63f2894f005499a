// Output below a target folder by descriptor. The base folder is opened once
// (through links: it is the user's choice); below it every name is opened
// with O_NOFOLLOW|O_DIRECTORY from the descriptor of the folder above it, and
// files and folders are made with openat/mkdirat/renameat/unlinkat in the
// folder's descriptor, modes and times set with fchmod/futimens on the file's
// own. A link swapped in at any moment is refused, never followed.
//
// The last folder reached stays open for the next entry, and so does every
// folder above it: the next entry is usually in the same folder or a sibling,
// and its walk goes on from the deepest folder the two paths share, so a
// walk costs one openat per new folder, not one per level (the kernel's
// RESOLVE_BENEATH lookups would save next to nothing here).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fileio/file_io.h"
#include "fileio/output_file.h"
#include "fileio/path.h"
#include "fileio/posix/posix_path.h"
#include "fileio/walk_below.h"

namespace {

#ifdef O_PATH
constexpr int kOpenFolder = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

int s_baseFd = -1;
char s_base[PATH_BUF_SIZE];  // program path, no trailing backslash
// s_held[i] is the folder of the first i+1 names of s_dir; a path of the
// buffer's length has at most this many names.
constexpr int kMaxHeld = PATH_BUF_SIZE / 2 + 1;
int s_held[kMaxHeld];
int s_depth = 0;
char s_dir[PATH_BUF_SIZE];  // the folders held open, relative to the base

// Keeps the first depth folders held; the names of s_dir follow.
void DropHeldBelow(int depth) {
  while (s_depth > depth) close(s_held[--s_depth]);
  size_t at = 0;
  for (int i = 0; i < depth && s_dir[at]; i++) at += strcspn(s_dir + at, "\\") + (i + 1 < depth);
  s_dir[at] = '\0';
}

void DropHeldFolder() { DropHeldBelow(0); }

int OpenBase(const char *base, bool create) {
  char b[PATH_BUF_SIZE];
  WalkTrimBase(base, b);
  if (s_baseFd >= 0 && strcmp(b, s_base) == 0) return s_baseFd;
  OutputWalkEnd();
  char native[POSIX_PATH_SIZE];
  if (!PosixFromProgramPath(b, native, sizeof native) || !native[0]) return -1;
  int fd = open(native, kOpenFolder);
  if (fd < 0 && errno == ENOENT && create) {
    if (DirCreatePath(b)) OutputLogAdd(b, b, 1);
    fd = open(native, kOpenFolder);
  }
  if (fd < 0) return -1;
  s_baseFd = fd;
  StrCopy(s_base, b, sizeof s_base);
  return fd;
}

// The descriptor of the folder rel (normalized) below base, which stays
// owned here. With create, missing folders are made, the last one with mode.
WalkResult WalkTo(const char *base, const char *rel, bool create, uint32_t mode, int *fd) {
  int baseFd = OpenBase(base, create);
  if (baseFd < 0) return errno == ENOENT ? WALK_ABSENT : WALK_FAILED;
  if (!rel[0]) {
    *fd = baseFd;
    return WALK_OK;
  }
  // The names rel shares with the held path lead to folders already open.
  size_t pos = 0;
  int shared = 0;
  while (shared < s_depth && rel[pos]) {
    size_t len = strcspn(rel + pos, "\\");
    if (strncmp(s_dir + pos, rel + pos, len) != 0 || (s_dir[pos + len] != '\\' && s_dir[pos + len] != '\0')) break;
    shared++;
    pos += len + (rel[pos + len] == '\\');
  }
  if (!rel[pos]) {  // held already (or a folder above the one held)
    *fd = s_held[shared - 1];
    return WALK_OK;
  }
  DropHeldBelow(shared);
  int cur = shared ? s_held[shared - 1] : baseFd;
  const char *p = rel + pos;
  while (*p) {
    const char *end = strchr(p, '\\');
    size_t len = end ? (size_t)(end - p) : strlen(p);
    char name[PATH_BUF_SIZE];
    StrCopyN(name, p, len, sizeof name);
    int next = openat(cur, name, kOpenFolder | O_NOFOLLOW);
    if (next < 0 && errno == ENOENT && create) {
      // A folder made here has its owner's access, so the entries that
      // follow can go into it; the umask decides the rest.
      mode_t m = !end && (mode & 0777) ? (mode_t)((mode & 0777) | 0700) : 0777;
      if (mkdirat(cur, name, m) == 0) {
        char made[PATH_BUF_SIZE];
        StrCopy(made, s_base, sizeof made);
        StrAppend(made, "\\", sizeof made);
        StrCopyN(made + strlen(made), rel, (size_t)(p + len - rel), sizeof made - strlen(made));
        OutputLogAdd(s_base, made, 1);
      }
      next = openat(cur, name, kOpenFolder | O_NOFOLLOW);
    }
    if (next < 0) {
      int e = errno;
      return e == ENOENT ? WALK_ABSENT : (e == ELOOP || e == ENOTDIR) ? WALK_BLOCKED : WALK_FAILED;
    }
    if (s_depth == kMaxHeld) {
      close(next);
      return WALK_FAILED;
    }
    s_held[s_depth++] = next;
    StrCopyN(s_dir, rel, (size_t)(p + len - rel), sizeof s_dir);
    cur = next;
    p = end ? end + 1 : p + len;
  }
  *fd = cur;
  return WALK_OK;
}

mode_t Umask() {
  static mode_t mask = (mode_t)-1;
  if (mask == (mode_t)-1) {
    mask = umask(0);
    umask(mask);
  }
  return mask;
}

}  // namespace

const size_t kWalkRootLength = 1;  // "\"

void OutputWalkEnd() {
  DropHeldFolder();
  if (s_baseFd >= 0) close(s_baseFd);
  s_baseFd = -1;
  s_base[0] = '\0';
}

WalkResult WalkNameKind(const char *base, const char *dir, const char *last, int *finalKind) {
  int fd;
  WalkResult r = WalkTo(base, dir, false, 0, &fd);
  struct stat st;
  if (r == WALK_OK && fstatat(fd, last, &st, AT_SYMLINK_NOFOLLOW) == 0)
    *finalKind = S_ISLNK(st.st_mode) ? NAME_LINK : S_ISDIR(st.st_mode) ? NAME_FOLDER : NAME_FILE;
  return r;
}

int DirCreateBelow(const char *base, const char *path, uint32_t unixMode, uint32_t) {
  char rel[PATH_BUF_SIZE];
  if (!base || !path || !WalkRelative(base, path, rel)) return 0;
  int fd;
  return WalkTo(base, rel, true, unixMode, &fd) == WALK_OK;
}

FileHandle FileCreateTempBeside(const char *base, const char *finalPath, char *tempPath, size_t size) {
  if (!tempPath || size == 0) return INVALID_FILE;
  tempPath[0] = '\0';
  char rel[PATH_BUF_SIZE];
  if (!base || !finalPath || !WalkRelative(base, finalPath, rel) || !rel[0]) return INVALID_FILE;
  char dir[PATH_BUF_SIZE];
  WalkSplitLast(rel, dir);
  int dirFd;
  if (WalkTo(base, dir, false, 0, &dirFd) != WALK_OK) return INVALID_FILE;
  for (int attempt = 0; attempt < 16; attempt++) {
    // The creation is exclusive: a taken name fails it, and the next is drawn.
    if (!PathDrawTempName(finalPath, ".~kv", tempPath, size)) break;
    // Private until it is complete: the data may be a secret of a 0600 entry.
    int fd = openat(dirFd, PathFindName(tempPath), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) return (FileHandle)fd;
    if (errno != EEXIST) break;
  }
  tempPath[0] = '\0';
  return INVALID_FILE;
}

uint32_t FileSetFinalMode(FileHandle h, uint32_t unixMode, uint32_t attributes) {
  if (h < 0 || h > INT32_MAX) return EBADF;
  // A regular file's permission bits as packed; a link written out as a
  // file holding its target is no program, and gets a file's default.
  uint32_t type = unixMode & 0170000;
  mode_t mode = (unixMode & 0777) && (type == 0100000 || type == 0) ? (mode_t)(unixMode & 0777) : 0666;
  mode &= ~Umask();
  if (attributes & FILE_ATTRIBUTE_READONLY) mode &= (mode_t) ~(S_IWUSR | S_IWGRP | S_IWOTH);
  return fchmod((int)h, mode) == 0 ? 0 : (uint32_t)errno;
}

int FileReplaceBelow(const char *base, const char *from, const char *to) {
  char relFrom[PATH_BUF_SIZE], relTo[PATH_BUF_SIZE];
  if (!base || !WalkRelative(base, from, relFrom) || !WalkRelative(base, to, relTo) || !relTo[0]) return 0;
  char dirFrom[PATH_BUF_SIZE], dirTo[PATH_BUF_SIZE];
  const char *fromName = WalkSplitLast(relFrom, dirFrom);
  const char *toName = WalkSplitLast(relTo, dirTo);
  int fd;
  if (strcmp(dirFrom, dirTo) != 0 || WalkTo(base, dirTo, false, 0, &fd) != WALK_OK) return 0;
  // renameat replaces the name itself: a link there is replaced, not followed.
  if (renameat(fd, fromName, fd, toName) != 0) return 0;
  OutputLogAdd(base, to, 0);
  return 1;
}

int FileDeleteBelow(const char *base, const char *path) {
  char rel[PATH_BUF_SIZE];
  if (!base || !WalkRelative(base, path, rel) || !rel[0]) return 0;
  char dir[PATH_BUF_SIZE];
  const char *name = WalkSplitLast(rel, dir);
  int fd;
  return WalkTo(base, dir, false, 0, &fd) == WALK_OK && unlinkat(fd, name, 0) == 0 ? 1 : 0;
}

int OutputLogRemove(const char *base) {
  int left = 0, isFolder = 0;
  const char *record;
  for (size_t n = 0; (record = OutputLogFromEnd(n, &isFolder)) != nullptr; n++) {
    if (!record[0]) continue;  // the base folder: the caller's
    char full[PATH_BUF_SIZE], rel[PATH_BUF_SIZE], dir[PATH_BUF_SIZE];
    WalkTrimBase(base, full);
    StrAppend(full, "\\", sizeof full);
    StrAppend(full, record, sizeof full);
    if (!WalkRelative(base, full, rel)) {
      left++;
      continue;
    }
    const char *name = WalkSplitLast(rel, dir);
    int fd;
    // A folder swapped for a link is not entered: what it leads to stays.
    if (WalkTo(base, dir, false, 0, &fd) != WALK_OK) {
      left++;
      continue;
    }
    // A folder goes only when empty; a link in its place is no folder.
    if (unlinkat(fd, name, isFolder ? AT_REMOVEDIR : 0) != 0) {
      if (errno != ENOENT) left++;
    } else if (isFolder) {
      DropHeldFolder();  // it may be the one held open
    }
  }
  OutputWalkEnd();
  return left;
}

int DirPreparePrivate(const char *temp, const char *path) {
  char rel[PATH_BUF_SIZE], t[PATH_BUF_SIZE], native[POSIX_PATH_SIZE];
  if (!temp || !path || !WalkRelative(temp, path, rel) || !rel[0]) return 1;
  WalkTrimBase(temp, t);
  if (!PosixFromProgramPath(t, native, sizeof native)) return 0;
  int cur = open(native, kOpenFolder);
  if (cur < 0) return 0;
  int ok = 1;
  for (char *p = rel; ok && *p;) {
    char *end = strchr(p, '\\');
    if (end) *end = '\0';
    // Made here: this user's alone. Found: it must be a folder of this
    // user's, else someone else prepared it and could swap what is in it.
    int made = mkdirat(cur, p, 0700) == 0;
    int next = openat(cur, p, kOpenFolder | O_NOFOLLOW);
    struct stat st;
    ok = next >= 0 && fstat(next, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
    if (made && !end) OutputLogAdd(path, path, 1);
    close(cur);
    cur = next;
    p = end ? end + 1 : p + strlen(p);
  }
  if (cur >= 0) close(cur);
  return ok;
}
