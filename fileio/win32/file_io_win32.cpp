// File access layer over the Win32 file calls.
#include <windows.h>

#include <cstring>

#include "fileio/file_io.h"
#include "fileio/win32/own_file_win32.h"

namespace {

HANDLE ToHandle(FileHandle h) { return (HANDLE)h; }

// A low half of all ones is a real value unless the call also left an error.
// The last error is cleared first, so that a stale one from an earlier call
// can't turn a valid position such as 4 GiB - 1 into a failure.
int64_t JoinHalves(DWORD low, LONG high) {
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  return (int64_t)(((uint64_t)(uint32_t)high << 32) | low);
}

// Some failing calls leave no error code behind; a setter must still not
// report success then.
uint32_t LastErrorOrGeneric() {
  DWORD err = GetLastError();
  return err ? (uint32_t)err : (uint32_t)ERROR_GEN_FAILURE;
}

}  // namespace

FileHandle FileOpen(const char *name, const char *mode) {
  if (!name || !mode) return INVALID_FILE;
  DWORD access, share, creation;
  switch (mode[0]) {
    case 'a': access = GENERIC_READ | GENERIC_WRITE; share = FILE_SHARE_READ | FILE_SHARE_WRITE; creation = OPEN_EXISTING; break;
    case 'b': access = GENERIC_READ | GENERIC_WRITE; share = FILE_SHARE_READ | FILE_SHARE_WRITE; creation = CREATE_ALWAYS; break;
    case 'r': access = GENERIC_READ; share = FILE_SHARE_READ | FILE_SHARE_WRITE; creation = OPEN_EXISTING; break;
    case 'v': access = GENERIC_WRITE; share = FILE_SHARE_READ; creation = OPEN_EXISTING; break;
    case 'w': access = GENERIC_WRITE; share = FILE_SHARE_READ; creation = CREATE_ALWAYS; break;
    default: return INVALID_FILE;
  }
  const wchar_t *own = OwnFileWideName(name);
  HANDLE h = own ? CreateFileW(own, access, share, nullptr, creation, FILE_ATTRIBUTE_ARCHIVE, nullptr)
                 : CreateFileA(name, access, share, nullptr, creation, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  return h == INVALID_HANDLE_VALUE ? INVALID_FILE : (FileHandle)h;
}

int FileClose(FileHandle h) {
  if (h == INVALID_FILE) return 0;
  return CloseHandle(ToHandle(h)) ? 1 : 0;
}

int64_t FileSeek(FileHandle h, uint32_t distanceLow, int32_t distanceHigh, int origin) {
  if (h == INVALID_FILE || origin < FILE_BEGIN || origin > FILE_END) return -1;
  LONG high = distanceHigh;
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer(ToHandle(h), (LONG)distanceLow, &high, (DWORD)origin);
  return JoinHalves(low, high);
}

int64_t FileGetSize(FileHandle h) {
  if (h == INVALID_FILE) return -1;
  DWORD high = 0;
  SetLastError(NO_ERROR);
  DWORD low = GetFileSize(ToHandle(h), &high);
  return JoinHalves(low, (LONG)high);
}

int64_t FileTell(FileHandle h) { return FileSeek(h, 0, 0, FILE_CURRENT); }

// Counts above 2 GiB - 1 are cut so that the result can't turn negative.
int32_t FileRead(FileHandle h, void *buffer, uint32_t count) {
  if (h == INVALID_FILE) return -1;
  if (count > 0x7FFFFFFFu) count = 0x7FFFFFFFu;
  DWORD done = 0;
  if (!ReadFile(ToHandle(h), buffer, count, &done, nullptr)) return -1;
  return (int32_t)done;
}

int32_t FileWrite(FileHandle h, const void *buffer, uint32_t count) {
  if (h == INVALID_FILE) return -1;
  if (count > 0x7FFFFFFFu) count = 0x7FFFFFFFu;
  DWORD done = 0;
  if (!WriteFile(ToHandle(h), buffer, count, &done, nullptr)) return -1;
  return (int32_t)done;
}

int FileDelete(const char *name) {
  if (!name) return 0;
  return DeleteFileA(name) ? 1 : 0;
}

uint32_t FileSetAttributes(const char *name, uint32_t attributes) {
  if (!name) return ERROR_INVALID_PARAMETER;
  if (SetFileAttributesA(name, attributes)) return 0;
  return LastErrorOrGeneric();
}

uint32_t FileSetArchiveOnly(const char *name) { return FileSetAttributes(name, FILE_ATTRIBUTE_ARCHIVE); }

uint32_t FileSetExecutable(FileHandle) { return 0; }

int FileIsLink(const char *name) {
  if (!name) return 0;
  DWORD attributes = GetFileAttributesA(name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? 1 : 0;
}

int FileNameKind(const char *name) {
  DWORD attributes = name ? GetFileAttributesA(name) : INVALID_FILE_ATTRIBUTES;
  if (attributes == INVALID_FILE_ATTRIBUTES) return NAME_ABSENT;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return NAME_LINK;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? NAME_FOLDER : NAME_FILE;
}

int FileReplace(const char *from, const char *to) {
  if (!from || !to) return 0;
  // The user agreed to replace the file: a read-only one must let the move
  // through. A reparse point keeps its attributes; the move replaces the
  // name, never what it points to.
  DWORD old = GetFileAttributesA(to);
  bool cleared = old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) &&
                 !(old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
                 SetFileAttributesA(to, old & ~(DWORD)FILE_ATTRIBUTE_READONLY);
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return 1;
  if (cleared) SetFileAttributesA(to, old);
  return 0;
}

int DosTimeToUtcFileTime(uint16_t dosDate, uint16_t dosTime, FileTime *out) {
  FILETIME local, utc;
  if (!DosDateTimeToFileTime(dosDate, dosTime, &local)) return 0;
  if (!LocalFileTimeToFileTime(&local, &utc)) return 0;
  if (out) *out = ((uint64_t)utc.dwHighDateTime << 32) | utc.dwLowDateTime;
  return 1;
}

uint32_t FileSetDosTime(FileHandle h, uint16_t dosDate, uint16_t dosTime) {
  FILETIME local, utc;
  if (!DosDateTimeToFileTime(dosDate, dosTime, &local)) return LastErrorOrGeneric();
  if (!LocalFileTimeToFileTime(&local, &utc)) return LastErrorOrGeneric();
  if (!SetFileTime(ToHandle(h), &utc, &utc, &utc)) return LastErrorOrGeneric();
  return 0;
}

int FileFindFirst(const char *name, FindRecord *record) {
  if (!name) return 0;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(name, &data);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  if (record) {
    memset(record, 0, sizeof *record);
    record->attributes = data.dwFileAttributes;
    record->creationTime = ((uint64_t)data.ftCreationTime.dwHighDateTime << 32) | data.ftCreationTime.dwLowDateTime;
    record->lastAccessTime =
        ((uint64_t)data.ftLastAccessTime.dwHighDateTime << 32) | data.ftLastAccessTime.dwLowDateTime;
    record->lastWriteTime = ((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
    record->sizeHigh = data.nFileSizeHigh;
    record->sizeLow = data.nFileSizeLow;
    static_assert(sizeof record->name == sizeof data.cFileName, "find record name matches the platform's");
    memcpy(record->name, data.cFileName, sizeof record->name);
    record->name[sizeof record->name - 1] = '\0';
  }
  return 1;
}
