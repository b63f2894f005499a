// Output below a target folder on Windows by handle. The base folder is
// opened once (through links: it is the user's choice); below it every name
// is opened with NtCreateFile relative to the handle of the folder above it,
// with FILE_OPEN_REPARSE_POINT: a reparse point (a junction or a link) is
// opened as itself, seen, and refused, never followed. Files are created,
// renamed over their final names, given attributes and removed through these
// handles. The last folder reached stays open for the next entry.
#include <windows.h>
#include <sddl.h>
#include <winternl.h>

#include <cstring>

#include "fileio/file_excl.h"
#include "fileio/file_io.h"
#include "fileio/output_file.h"
#include "fileio/path.h"
#include "fileio/platform.h"
#include "fileio/walk_below.h"

namespace {

// ntdll is in every process before the program's first instruction: asking
// it for its function looks nothing up on disk.
typedef NTSTATUS(NTAPI *NtCreateFileFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);

typedef NTSTATUS(NTAPI *NtSetInformationFileFn)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
typedef NTSTATUS(NTAPI *NtQueryDirectoryFileFn)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG,
                                                BOOLEAN, PUNICODE_STRING, BOOLEAN);
struct DirectoryInformation {  // FILE_DIRECTORY_INFORMATION, up to its name
  ULONG next, index;
  LARGE_INTEGER times[4], size, allocated;
  ULONG attributes, nameLength;
  WCHAR name[PATH_BUF_SIZE];
};

constexpr ULONG kOpen = 1, kCreate = 2, kOpenIf = 3;  // FILE_OPEN, FILE_CREATE, FILE_OPEN_IF
constexpr ULONG kDirectory = 0x1, kNonDirectory = 0x40, kSynchronous = 0x20, kReparsePoint = 0x200000;
constexpr ULONG_PTR kCreated = 2;  // FILE_CREATED
constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

HANDLE s_base = INVALID_HANDLE_VALUE;
char s_basePath[PATH_BUF_SIZE];  // no trailing backslash
HANDLE s_dir = INVALID_HANDLE_VALUE;
char s_dirPath[PATH_BUF_SIZE];  // the folder held open, relative to the base

// Opens name in the folder parent without following a reparse point. The
// status comes back for the caller to tell a missing name from a blocked one.
NTSTATUS OpenRelative(HANDLE parent, const char *name, size_t length, ACCESS_MASK access, ULONG disposition,
                      ULONG options, ULONG attributes, HANDLE *out, bool *created) {
  static NtCreateFileFn create =
      (NtCreateFileFn)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtCreateFile");
  WCHAR wide[PATH_BUF_SIZE];
  int count = length ? MultiByteToWideChar(CP_ACP, 0, name, (int)length, wide, PATH_BUF_SIZE) : 0;
  *out = INVALID_HANDLE_VALUE;
  if (!create || count <= 0) return (NTSTATUS)0xC0000033;  // STATUS_OBJECT_NAME_INVALID
  UNICODE_STRING us;
  us.Buffer = wide;
  us.Length = us.MaximumLength = (USHORT)(count * sizeof(WCHAR));
  OBJECT_ATTRIBUTES oa;
  InitializeObjectAttributes(&oa, &us, OBJ_CASE_INSENSITIVE, parent, nullptr);
  IO_STATUS_BLOCK io;
  memset(&io, 0, sizeof io);
  HANDLE h;
  NTSTATUS status = create(&h, access | SYNCHRONIZE, &oa, &io, nullptr, attributes,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, disposition,
                           options | kSynchronous | kReparsePoint, nullptr, 0);
  if (status < 0) return status;
  if (created) *created = io.Information == kCreated;
  *out = h;
  return status;
}

// Whether the folder h, just opened as name in parent, is a reparse point:
// its own attributes say so on Windows; Wine opens a link to a folder as
// the folder, and only the parent's entry for the name (read through the
// parent's handle) shows the link.
bool IsReparsePoint(HANDLE h, HANDLE parent, const char *name, size_t length) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  static NtQueryDirectoryFileFn query =
      (NtQueryDirectoryFileFn)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryDirectoryFile");
  WCHAR wide[PATH_BUF_SIZE];
  int count = MultiByteToWideChar(CP_ACP, 0, name, (int)length, wide, PATH_BUF_SIZE);
  if (!query || count <= 0) return true;
  UNICODE_STRING us;
  us.Buffer = wide;
  us.Length = us.MaximumLength = (USHORT)(count * sizeof(WCHAR));
  static DirectoryInformation entry;
  IO_STATUS_BLOCK io;
  return query(parent, nullptr, nullptr, nullptr, &io, &entry, sizeof entry, 1 /* FileDirectoryInformation */, TRUE,
               &us, TRUE) < 0 ||
         (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void DropHeldFolder() {
  if (s_dir != INVALID_HANDLE_VALUE) CloseHandle(s_dir);
  s_dir = INVALID_HANDLE_VALUE;
  s_dirPath[0] = '\0';
}

HANDLE OpenBase(const char *base, bool create) {
  char b[PATH_BUF_SIZE];
  WalkTrimBase(base, b);
  if (s_base != INVALID_HANDLE_VALUE && strcmp(b, s_basePath) == 0) return s_base;
  OutputWalkEnd();
  if (create && !DirExists(b) && DirCreatePath(b)) OutputLogAdd(b, b, 1);
  HANDLE h = CreateFileA(b, kFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return h;
  s_base = h;
  StrCopy(s_basePath, b, sizeof s_basePath);
  return h;
}

// The handle of the folder rel below base, which stays owned here. With
// create, missing folders are made, the last one with attributes.
WalkResult WalkTo(const char *base, const char *rel, bool create, uint32_t attributes, HANDLE *out) {
  HANDLE cur = OpenBase(base, create);
  if (cur == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ||
                                                  GetLastError() == ERROR_PATH_NOT_FOUND
                                              ? WALK_ABSENT
                                              : WALK_FAILED;
  if (!rel[0]) {
    *out = cur;
    return WALK_OK;
  }
  if (s_dir != INVALID_HANDLE_VALUE && strcmp(rel, s_dirPath) == 0) {
    *out = s_dir;
    return WALK_OK;
  }
  const char *p = rel;
  size_t held = strlen(s_dirPath);
  if (s_dir != INVALID_HANDLE_VALUE && held && strncmp(rel, s_dirPath, held) == 0 && rel[held] == '\\') {
    cur = s_dir;  // a folder below the one held: the walk goes on from there
    p = rel + held + 1;
  }
  bool owned = false;
  while (*p) {
    const char *end = p;
    while (*end && *end != '\\') end = TextNext(end);
    bool last = !*end, made = false;
    // A folder made here never takes read-only: it would lock out its entries.
    DWORD attrs = last ? attributes & ~(DWORD)(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY) : 0;
    HANDLE next;
    NTSTATUS status = OpenRelative(cur, p, (size_t)(end - p), kFolderAccess, create ? kOpenIf : kOpen, kDirectory,
                                   attrs ? attrs : FILE_ATTRIBUTE_NORMAL, &next, &made);
    if (status >= 0 && IsReparsePoint(next, cur, p, (size_t)(end - p))) {
      CloseHandle(next);
      status = (NTSTATUS)0xC0000103;  // as a file in the way
    }
    if (status < 0) {
      if (owned) CloseHandle(cur);
      ULONG code = (ULONG)status;
      return code == 0xC0000034 || code == 0xC000003A ? WALK_ABSENT : code == 0xC0000103 ? WALK_BLOCKED
                                                                                         : WALK_FAILED;
    }
    if (made) {
      char path[PATH_BUF_SIZE];
      StrCopy(path, s_basePath, sizeof path);
      PathEnsureBackslash(path);
      size_t at = strlen(path);
      StrCopyN(path + at, rel, (size_t)(end - rel), sizeof path - at);
      OutputLogAdd(s_basePath, path, 1);
    }
    if (owned) CloseHandle(cur);
    cur = next;
    owned = true;
    p = *end ? end + 1 : end;
  }
  DropHeldFolder();
  s_dir = cur;
  StrCopy(s_dirPath, rel, sizeof s_dirPath);
  *out = cur;
  return WALK_OK;
}

// Renames the open file h to name in the folder dir, replacing a file there.
// Straight to the system: the documented wrapper makes a relative name into
// a path below the current folder on some systems.
int RenameRelative(HANDLE h, HANDLE dir, const char *name) {
  static NtSetInformationFileFn set =
      (NtSetInformationFileFn)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetInformationFile");
  union {
    FILE_RENAME_INFO info;
    unsigned char room[sizeof(FILE_RENAME_INFO) + PATH_BUF_SIZE * sizeof(WCHAR)];
  } rename;
  memset(&rename, 0, sizeof rename);
  rename.info.ReplaceIfExists = TRUE;
  rename.info.RootDirectory = dir;
  int count = MultiByteToWideChar(CP_ACP, 0, name, -1, rename.info.FileName, PATH_BUF_SIZE);
  if (!set || count <= 1) return 0;
  rename.info.FileNameLength = (DWORD)(count - 1) * sizeof(WCHAR);
  IO_STATUS_BLOCK io;
  return set(h, &io, &rename, sizeof rename, 10 /* FileRenameInformation */) >= 0 ? 1 : 0;
}

int SetAttributesByHandle(HANDLE h, DWORD attributes) {
  FILE_BASIC_INFO info;
  memset(&info, 0, sizeof info);  // zero times: left as they are
  info.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info) ? 1 : 0;
}

// Removes name from the folder dir by a handle to it; never a reparse
// point's target, never a folder that is not empty.
int RemoveRelative(HANDLE dir, const char *name, bool folder) {
  HANDLE h;
  ACCESS_MASK access = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
  if (OpenRelative(dir, name, strlen(name), access, kOpen, folder ? kDirectory : kNonDirectory, 0, &h, nullptr) < 0)
    return 0;
  BY_HANDLE_FILE_INFORMATION info;
  int done = 0;
  if (GetFileInformationByHandle(h, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    // A read-only file (the entry's attribute) lets itself be removed once
    // the attribute is off.
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
      SetAttributesByHandle(h, info.dwFileAttributes & ~(DWORD)FILE_ATTRIBUTE_READONLY);
    FILE_DISPOSITION_INFO dispose = {TRUE};
    done = SetFileInformationByHandle(h, FileDispositionInfo, &dispose, sizeof dispose) ? 1 : 0;
  }
  CloseHandle(h);
  return done;
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

const size_t kWalkRootLength = 3;  // "C:\"

void OutputWalkEnd() {
  DropHeldFolder();
  if (s_base != INVALID_HANDLE_VALUE) CloseHandle(s_base);
  s_base = INVALID_HANDLE_VALUE;
  s_basePath[0] = '\0';
}

WalkResult WalkNameKind(const char *base, const char *dir, const char *last, int *finalKind) {
  HANDLE folder, h;
  WalkResult r = WalkTo(base, dir, false, 0, &folder);
  if (r != WALK_OK || OpenRelative(folder, last, strlen(last), FILE_READ_ATTRIBUTES, kOpen, 0, 0, &h, nullptr) < 0)
    return r;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(h, &info))
    *finalKind = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? NAME_LINK
                 : (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)   ? NAME_FOLDER
                                                                         : NAME_FILE;
  CloseHandle(h);
  return r;
}

int DirCreateBelow(const char *base, const char *path, uint32_t, uint32_t attributes) {
  char rel[PATH_BUF_SIZE];
  if (!base || !path || !WalkRelative(base, path, rel)) return 0;
  HANDLE h;
  return WalkTo(base, rel, true, attributes, &h) == WALK_OK;
}

FileHandle FileCreateTempBeside(const char *base, const char *finalPath, char *tempPath, size_t size) {
  if (!tempPath || size == 0) return INVALID_FILE;
  tempPath[0] = '\0';
  char rel[PATH_BUF_SIZE], dir[PATH_BUF_SIZE];
  if (!base || !finalPath || !WalkRelative(base, finalPath, rel) || !rel[0]) return INVALID_FILE;
  WalkSplitLast(rel, dir);
  HANDLE folder;
  if (WalkTo(base, dir, false, 0, &folder) != WALK_OK) return INVALID_FILE;
  for (int attempt = 0; attempt < 16; attempt++) {
    // The creation is exclusive: a taken name fails it, and the next is drawn.
    if (!PathDrawTempName(finalPath, ".~kv", tempPath, size)) break;
    const char *name = PathFindName(tempPath);
    HANDLE h;
    NTSTATUS status = OpenRelative(folder, name, strlen(name),
                                   GENERIC_READ | GENERIC_WRITE | DELETE, kCreate, kNonDirectory,
                                   FILE_ATTRIBUTE_ARCHIVE, &h, nullptr);
    if (status >= 0) return (FileHandle)h;
    if ((ULONG)status != 0xC0000035) break;  // STATUS_OBJECT_NAME_COLLISION: draw again
  }
  tempPath[0] = '\0';
  return INVALID_FILE;
}

uint32_t FileSetFinalMode(FileHandle h, uint32_t, uint32_t attributes) {
  attributes &= ~(DWORD)FILE_ATTRIBUTE_DIRECTORY;
  if (!attributes) return 0;
  return SetAttributesByHandle((HANDLE)h, attributes) ? 0 : GetLastError();
}

int FileReplaceBelow(const char *base, const char *from, const char *to) {
  char relFrom[PATH_BUF_SIZE], relTo[PATH_BUF_SIZE], dirFrom[PATH_BUF_SIZE], dirTo[PATH_BUF_SIZE];
  if (!base || !WalkRelative(base, from, relFrom) || !WalkRelative(base, to, relTo) || !relTo[0]) return 0;
  const char *fromName = WalkSplitLast(relFrom, dirFrom);
  const char *toName = WalkSplitLast(relTo, dirTo);
  HANDLE folder, h;
  if (strcmp(dirFrom, dirTo) != 0 || WalkTo(base, dirTo, false, 0, &folder) != WALK_OK) return 0;
  if (OpenRelative(folder, fromName, strlen(fromName), DELETE, kOpen, kNonDirectory, 0, &h, nullptr) < 0) return 0;
  // The name itself is replaced, never what a reparse point there leads to.
  // The user agreed to replace the file: a read-only one lets the move
  // through, and gets its attribute back when the move fails.
  int done = RenameRelative(h, folder, toName);
  if (!done) {
    HANDLE old;
    BY_HANDLE_FILE_INFORMATION info;
    if (OpenRelative(folder, toName, strlen(toName), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kOpen,
                     kNonDirectory, 0, &old, nullptr) >= 0) {
      if (GetFileInformationByHandle(old, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) &&
          !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
          SetAttributesByHandle(old, info.dwFileAttributes & ~(DWORD)FILE_ATTRIBUTE_READONLY)) {
        done = RenameRelative(h, folder, toName);
        if (!done) SetAttributesByHandle(old, info.dwFileAttributes);
      }
      CloseHandle(old);
    }
  }
  CloseHandle(h);
  if (done) OutputLogAdd(base, to, 0);
  return done;
}

int FileDeleteBelow(const char *base, const char *path) {
  char rel[PATH_BUF_SIZE], dir[PATH_BUF_SIZE];
  if (!base || !WalkRelative(base, path, rel) || !rel[0]) return 0;
  const char *name = WalkSplitLast(rel, dir);
  HANDLE folder;
  return WalkTo(base, dir, false, 0, &folder) == WALK_OK && RemoveRelative(folder, name, false);
}

int OutputLogRemove(const char *base) {
  int left = 0, isFolder = 0;
  const char *record;
  for (size_t n = 0; (record = OutputLogFromEnd(n, &isFolder)) != nullptr; n++) {
    if (!record[0]) continue;  // the base folder: the caller's
    char full[PATH_BUF_SIZE], rel[PATH_BUF_SIZE], dir[PATH_BUF_SIZE];
    WalkTrimBase(base, full);
    PathEnsureBackslash(full);
    StrAppend(full, record, sizeof full);
    if (!WalkRelative(base, full, rel)) {
      left++;
      continue;
    }
    const char *name = WalkSplitLast(rel, dir);
    HANDLE folder;
    // A folder swapped for a reparse point is not entered: what it leads to
    // stays; the walk holds the parent, never the folder to remove.
    if (WalkTo(base, dir, false, 0, &folder) != WALK_OK || !RemoveRelative(folder, name, isFolder != 0)) left++;
  }
  OutputWalkEnd();
  return left;
}

int DirPreparePrivate(const char *temp, const char *path) {
  char t[PATH_BUF_SIZE];
  WalkTrimBase(temp, t);
  size_t n = strlen(t);
  if (!path || !n || strncmp(path, t, n) != 0 || (path[n] != '\\' && t[n - 1] != '\\')) return 1;
  const char *rel = path + n;
  while (*rel == '\\') rel++;
  if (!*rel) return 1;
  // Made here: a protected list of who may enter, this user (and, elevated,
  // the system and administrators) alone; found: never a reparse point.
  SECURITY_ATTRIBUTES sa;
  memset(&sa, 0, sizeof sa);
  sa.nLength = sizeof sa;
  char prefix[PATH_BUF_SIZE];
  size_t length = strlen(path);
  int ok = 1;
  for (size_t i = (size_t)(rel - path); ok; i = (size_t)(TextNext(path + i) - path)) {
    if (path[i] != '\\' && path[i]) continue;
    if (path[i - 1] != '\\') {  // not a doubled or trailing separator
      StrCopyN(prefix, path, i, sizeof prefix);
      int kind = FileNameKind(prefix);
      if (kind == NAME_ABSENT) {
        if (!sa.lpSecurityDescriptor) sa.lpSecurityDescriptor = PrivateDescriptor();
        // Without a descriptor (never seen) the folder inherits the temporary
        // folder's list, which on Windows is the user's own.
        BOOL made = CreateDirectoryA(prefix, sa.lpSecurityDescriptor ? &sa : nullptr);
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
