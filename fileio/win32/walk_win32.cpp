// Output below a target folder on Windows: the names on the way are looked at
// for reparse points (never entered or written through) right before each
// creation, and attributes go on the finished file's own handle.
#include <windows.h>
#include <sddl.h>

#include <cstring>

#include "fileio/file_excl.h"
#include "fileio/file_io.h"
#include "fileio/output_file.h"
#include "fileio/path.h"
#include "fileio/platform.h"

namespace {

// The part of path below base (a name follows), or null.
const char *Below(const char *base, const char *path) {
  char b[PATH_BUF_SIZE];
  StrCopy(b, base ? base : "", sizeof b);
  PathTrimBackslash(b);
  size_t n = strlen(b);
  if (!path || !n || strncmp(path, b, n) != 0 || (path[n] && path[n] != '\\')) return nullptr;
  return path + n;
}

// A security descriptor whose protected list lets in this user alone (and,
// elevated, the system and the administrators), inherited by what is made
// inside; null when it can't be made. Free with LocalFree.
PSECURITY_DESCRIPTOR PrivateDescriptor() {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  union {
    TOKEN_USER user;
    unsigned char room[256];
  } user;
  TOKEN_ELEVATION elevation = {0};
  DWORD size;
  BOOL known = GetTokenInformation(token, TokenUser, &user, sizeof user, &size);
  GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  CloseHandle(token);
  char *sid = nullptr;
  if (!known || !ConvertSidToStringSidA(user.user.User.Sid, &sid)) return nullptr;
  char sddl[256];
  StrPrintf(sddl, sizeof sddl, "D:P(A;OICI;FA;;;%s)%s", sid,
            elevation.TokenIsElevated ? "(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)" : "");
  LocalFree(sid);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr))
    return nullptr;
  return descriptor;
}

}  // namespace

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

int DirCreateBelow(const char *base, const char *path, uint32_t, uint32_t attributes) {
  const char *rel = Below(base, path);
  if (!rel) return 0;
  char b[PATH_BUF_SIZE];
  StrCopy(b, base, sizeof b);
  PathTrimBackslash(b);
  if (!DirExists(b)) {
    if (!DirCreatePath(b)) return 0;
    OutputLogAdd(b, b, 1);
  }
  // One name at a time, each looked at before it is entered.
  char prefix[PATH_BUF_SIZE];
  size_t length = strlen(path);
  for (size_t i = (size_t)(rel - path); i <= length; i = (size_t)(TextNext(path + i) - path)) {
    if (path[i] != '\\' && path[i]) continue;
    StrCopyN(prefix, path, i, sizeof prefix);
    if (i == (size_t)(rel - path) || path[i - 1] == '\\') {
      if (!path[i]) break;
      continue;
    }
    int kind = FileNameKind(prefix);
    if (kind == NAME_ABSENT) {
      if (!CreateDirectoryA(prefix, nullptr)) return 0;
      OutputLogAdd(b, prefix, 1);
      if (i == length && (attributes & ~(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        SetFileAttributesA(prefix, attributes & ~(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
    } else if (kind != NAME_FOLDER) {
      return 0;
    }
    if (!path[i]) break;
  }
  return !PathHasLinkBelow(base, path);
}

FileHandle FileCreateTempBeside(const char *, const char *finalPath, char *tempPath, size_t size) {
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

uint32_t FileSetFinalMode(FileHandle h, uint32_t, uint32_t attributes) {
  FILE_BASIC_INFO info;
  memset(&info, 0, sizeof info);  // zero times: left as they are
  info.FileAttributes = attributes & ~(DWORD)FILE_ATTRIBUTE_DIRECTORY;
  if (!info.FileAttributes) return 0;
  return SetFileInformationByHandle((HANDLE)h, FileBasicInfo, &info, sizeof info) ? 0 : GetLastError();
}

int FileReplaceBelow(const char *base, const char *from, const char *to) {
  if (PathHasLinkBelow(base, to) && FileNameKind(to) != NAME_LINK) return 0;
  if (!FileReplace(from, to)) return 0;
  OutputLogAdd(base, to, 0);
  return 1;
}

int FileDeleteBelow(const char *base, const char *path) {
  if (!Below(base, path)) return 0;
  if (FileDelete(path)) return 1;
  FileSetArchiveOnly(path);  // a read-only attribute taken from the entry
  return FileDelete(path);
}

void OutputWalkEnd() {}

int OutputLogRemove(const char *base) {
  int left = 0, isFolder = 0;
  const char *record;
  char b[PATH_BUF_SIZE];
  StrCopy(b, base, sizeof b);
  PathTrimBackslash(b);
  for (size_t n = 0; (record = OutputLogFromEnd(n, &isFolder)) != nullptr; n++) {
    if (!record[0]) continue;  // the base folder: the caller's
    char path[PATH_BUF_SIZE];
    StrCopy(path, b, sizeof path);
    PathEnsureBackslash(path);
    StrAppend(path, record, sizeof path);
    // Nothing through a reparse point: a folder swapped for one is not
    // entered, and one in the place of a folder is not removed.
    char dir[PATH_BUF_SIZE];
    PathGetDir(path, dir, sizeof dir);
    int kind = NAME_ABSENT;
    if (PathHasLinkBelow(b, dir) || (PathHasLinkBelow(b, path, &kind), kind == NAME_LINK)) {
      left++;
      continue;
    }
    if (kind == NAME_ABSENT) continue;
    int done = isFolder ? kind == NAME_FOLDER && RemoveDirectoryA(path) : kind == NAME_FILE && FileDeleteBelow(b, path);
    if (!done) left++;
  }
  return left;
}

int DirPreparePrivate(const char *temp, const char *path) {
  const char *rel = Below(temp, path);
  if (!rel || !*rel) return 1;
  // Made here: a protected list of who may enter, this user (and, elevated,
  // the system and administrators) alone; found: never a reparse point.
  SECURITY_ATTRIBUTES sa;
  memset(&sa, 0, sizeof sa);
  sa.nLength = sizeof sa;
  char prefix[PATH_BUF_SIZE];
  size_t length = strlen(path);
  int ok = 1;
  for (size_t i = (size_t)(rel - path) + 1; ok; i = (size_t)(TextNext(path + i) - path)) {
    if (path[i] != '\\' && path[i]) continue;
    if (path[i - 1] != '\\') {  // not a doubled or trailing separator
      StrCopyN(prefix, path, i, sizeof prefix);
      int kind = FileNameKind(prefix);
      if (kind == NAME_ABSENT) {
        if (!sa.lpSecurityDescriptor) sa.lpSecurityDescriptor = PrivateDescriptor();
        BOOL made = sa.lpSecurityDescriptor && CreateDirectoryA(prefix, &sa);
        if (made && i == length) OutputLogAdd(path, path, 1);
        kind = FileNameKind(prefix);
      }
      ok = kind == NAME_FOLDER;
    }
    if (!path[i]) break;
  }
  LocalFree(sa.lpSecurityDescriptor);
  return ok;
}
