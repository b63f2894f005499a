// Thin file access layer: one set of conventions over the platform's files.
// Handles are -1 on failure; counts, positions and sizes are -1 on failure;
// yes-or-no operations answer 1 or 0; attribute and time setters return the
// platform's error code (0 on success).
#ifndef KV_FILE_IO_H
#define KV_FILE_IO_H

#include <cstdint>

#include "kv_base.h"

// The platform's own values; windows.h defines the same names as macros, so
// where it came first these are left to it.
#ifndef FILE_ATTRIBUTE_READONLY
constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr uint32_t FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
#endif

#ifndef FILE_BEGIN
constexpr int FILE_BEGIN = 0;
constexpr int FILE_CURRENT = 1;
constexpr int FILE_END = 2;
#endif

// 100-nanosecond intervals since 1601-01-01 UTC, as the Windows FILETIME.
typedef uint64_t FileTime;

// What a probe of an existing file reports (the Windows find record's fields).
struct FindRecord {
  uint32_t attributes;
  FileTime creationTime;
  FileTime lastAccessTime;
  FileTime lastWriteTime;
  uint32_t sizeHigh;
  uint32_t sizeLow;
  char name[260];  // the name part as the file system spells it
};

// Only the first character of mode counts: 'a' read/write existing, 'b'
// read/write create-always, 'r' read existing, 'v' write existing, 'w' write
// create-always (truncates). Anything else fails without touching the disk.
FileHandle FileOpen(const char *name, const char *mode);
int FileClose(FileHandle h);
int64_t FileSeek(FileHandle h, uint32_t distanceLow, int32_t distanceHigh, int origin);
int64_t FileGetSize(FileHandle h);
int64_t FileTell(FileHandle h);
int32_t FileRead(FileHandle h, void *buffer, uint32_t count);
int32_t FileWrite(FileHandle h, const void *buffer, uint32_t count);
int FileDelete(const char *name);
uint32_t FileSetAttributes(const char *name, uint32_t attributes);
uint32_t FileSetArchiveOnly(const char *name);
uint32_t FileSetDosTime(FileHandle h, uint16_t dosDate, uint16_t dosTime);
// A link in the way is reported as what it is, never as what it points to:
// its attributes carry FILE_ATTRIBUTE_REPARSE_POINT (and the directory bit
// when it leads to a folder); a dangling one still counts as existing.
int FileFindFirst(const char *name, FindRecord *record);
// 1 when the name itself is a symbolic link or another reparse point.
int FileIsLink(const char *name);
// What the name itself is, in one probe that never follows a link.
enum { NAME_ABSENT = 0, NAME_FILE = 1, NAME_FOLDER = 2, NAME_LINK = 3 };
int FileNameKind(const char *name);
// Marks an open extracted file as a program where the platform keeps such a
// mark (POSIX: execute permission wherever read permission is granted); 0 on
// success, else the platform error code. Windows has no such mark: 0.
uint32_t FileSetExecutable(FileHandle h);
// Moves a finished file over its final name in the same folder, replacing a
// file there (Windows: a read-only one too, whose attribute is put back when
// the move fails). The final name's old file stays whole until the move.
// 1 on success, 0 on failure (both names then as they were).
int FileReplace(const char *from, const char *to);

// Convenience for 64-bit positions: splits into the two halves.
inline int64_t FileSeek64(FileHandle h, int64_t position, int origin) {
  return FileSeek(h, (uint32_t)((uint64_t)position & 0xFFFFFFFFu), (int32_t)((uint64_t)position >> 32), origin);
}

// DOS date/time (local) to a UTC file time; 0 and 1 as the platform's conversion.
int DosTimeToUtcFileTime(uint16_t dosDate, uint16_t dosTime, FileTime *out);

#endif
