// File access layer over POSIX descriptors. Same results as the Windows
// backend: -1 handles and positions, 1/0 answers, error codes (errno values)
// from the setters. What has no POSIX meaning:
// - sharing modes: POSIX has no mandatory sharing; other processes may always
//   open the file, so the modes' sharing column is dropped;
// - the archive, hidden and system attributes: dropped when set; probes report
//   ARCHIVE for every regular file, as files created here would carry it;
// - the read-only attribute maps to the write permission bits.
// Windows refuses to open a folder as a file; so does this backend.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "fileio/file_io.h"
#include "fileio/posix/posix_path.h"

namespace {

// Seconds between 1601-01-01 and 1970-01-01, both UTC.
constexpr int64_t kEpochDelta = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

FileTime TimespecToFileTime(const struct timespec &ts) {
  int64_t ticks = ((int64_t)ts.tv_sec + kEpochDelta) * kTicksPerSecond + ts.tv_nsec / 100;
  return ticks < 0 ? 0 : (FileTime)ticks;
}

int IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Windows-style case-blind wildcard match of one name against '*' and '?'.
int WildMatch(const char *name, const char *pattern) {
  const char *starPattern = nullptr, *starName = nullptr;
  while (*name) {
    unsigned char p = (unsigned char)*pattern, c = (unsigned char)*name;
    if (p == '*') {
      starPattern = ++pattern;
      starName = name;
    } else if (p && (p == '?' || (p == c) ||
                     (p < 0x80 && c < 0x80 && (p | 0x20) == (c | 0x20) && (p | 0x20) >= 'a' && (p | 0x20) <= 'z'))) {
      pattern++;
      name++;
    } else if (starPattern) {
      pattern = starPattern;
      name = ++starName;
    } else {
      return 0;
    }
  }
  while (*pattern == '*') pattern++;
  return *pattern == '\0';
}

void FillRecord(const struct stat &st, const char *name, FindRecord *record, bool link) {
  if (!record) return;
  memset(record, 0, sizeof *record);
  if (S_ISDIR(st.st_mode)) {
    record->attributes = FILE_ATTRIBUTE_DIRECTORY;
  } else {
    record->attributes = FILE_ATTRIBUTE_ARCHIVE;
  }
  if (link) record->attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) record->attributes |= FILE_ATTRIBUTE_READONLY;
  // POSIX keeps no creation time; the modification time stands in for it, as
  // FileSetDosTime sets both to the same value anyway.
  record->creationTime = TimespecToFileTime(st.st_mtim);
  record->lastAccessTime = TimespecToFileTime(st.st_atim);
  record->lastWriteTime = TimespecToFileTime(st.st_mtim);
  uint64_t size = S_ISDIR(st.st_mode) ? 0 : (uint64_t)st.st_size;
  record->sizeHigh = (uint32_t)(size >> 32);
  record->sizeLow = (uint32_t)size;
  size_t n = strlen(name);
  if (n >= sizeof record->name) n = sizeof record->name - 1;
  memcpy(record->name, name, n);
  record->name[n] = '\0';
}

// Probes a name as FindFirstFileA sees a directory entry: a link is found
// (dangling or not) and marked, with what it leads to where that exists.
int ProbeName(const char *native, const char *last, FindRecord *record) {
  struct stat st;
  if (lstat(native, &st) != 0) return 0;
  bool link = S_ISLNK(st.st_mode);
  if (link) {
    struct stat target;
    if (stat(native, &target) == 0) st = target;
  }
  FillRecord(st, last, record, link);
  return 1;
}

}  // namespace

FileHandle FileOpen(const char *name, const char *mode) {
  if (!name || !mode) return INVALID_FILE;
  int flags;
  switch (mode[0]) {
    case 'a': flags = O_RDWR; break;
    case 'b': flags = O_RDWR | O_CREAT | O_TRUNC; break;
    case 'r': flags = O_RDONLY; break;
    case 'v': flags = O_WRONLY; break;
    case 'w': flags = O_WRONLY | O_CREAT | O_TRUNC; break;
    default: return INVALID_FILE;
  }
  // Nothing is ever written through a link: one planted at the name fails.
  if (mode[0] != 'r') flags |= O_NOFOLLOW;
  char native[POSIX_PATH_SIZE];
  if (!PosixFromProgramPath(name, native, sizeof native)) return INVALID_FILE;
  // Opened non-blocking so that a FIFO without a writer can't hang the open;
  // reads and writes block again as on any file.
  int fd;
  do {
    fd = open(native, flags | O_CLOEXEC | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return INVALID_FILE;
  struct stat st;
  int fl = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || fl < 0 || fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
    close(fd);
    return INVALID_FILE;
  }
  return (FileHandle)fd;
}

int FileClose(FileHandle h) {
  if (h < 0 || h > INT32_MAX) return 0;
  // Linux releases the descriptor even when close reports EINTR; retrying
  // could close a descriptor opened meanwhile, so the answer stands.
  return close((int)h) == 0 ? 1 : 0;
}

int64_t FileSeek(FileHandle h, uint32_t distanceLow, int32_t distanceHigh, int origin) {
  if (h < 0 || h > INT32_MAX) return -1;
  int whence;
  switch (origin) {
    case FILE_BEGIN: whence = SEEK_SET; break;
    case FILE_CURRENT: whence = SEEK_CUR; break;
    case FILE_END: whence = SEEK_END; break;
    default: return -1;
  }
  int64_t distance = (int64_t)(((uint64_t)(uint32_t)distanceHigh << 32) | distanceLow);
  off_t r = lseek((int)h, (off_t)distance, whence);
  return r < 0 ? -1 : (int64_t)r;
}

int64_t FileGetSize(FileHandle h) {
  if (h < 0 || h > INT32_MAX) return -1;
  struct stat st;
  if (fstat((int)h, &st) != 0) return -1;
  return (int64_t)st.st_size;
}

int64_t FileTell(FileHandle h) { return FileSeek(h, 0, 0, FILE_CURRENT); }

// Both loop until the count is done, end of file, or an error: a synchronous
// ReadFile/WriteFile on a disk file gives a short count only at the end.
int32_t FileRead(FileHandle h, void *buffer, uint32_t count) {
  if (h < 0 || h > INT32_MAX || (!buffer && count)) return -1;
  if (count > (uint32_t)INT32_MAX) count = (uint32_t)INT32_MAX;
  uint32_t done = 0;
  while (done < count) {
    ssize_t r = read((int)h, (char *)buffer + done, count - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      return done ? (int32_t)done : -1;
    }
    if (r == 0) break;
    done += (uint32_t)r;
  }
  return (int32_t)done;
}

int32_t FileWrite(FileHandle h, const void *buffer, uint32_t count) {
  if (h < 0 || h > INT32_MAX || (!buffer && count)) return -1;
  if (count > (uint32_t)INT32_MAX) count = (uint32_t)INT32_MAX;
  uint32_t done = 0;
  while (done < count) {
    ssize_t r = write((int)h, (const char *)buffer + done, count - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      return done ? (int32_t)done : -1;
    }
    if (r == 0) break;
    done += (uint32_t)r;
  }
  return (int32_t)done;
}

int FileDelete(const char *name) {
  char native[POSIX_PATH_SIZE];
  if (!PosixFromProgramPath(name, native, sizeof native)) return 0;
  return unlink(native) == 0 ? 1 : 0;
}

uint32_t FileSetAttributes(const char *name, uint32_t attributes) {
  char native[POSIX_PATH_SIZE];
  if (!PosixFromProgramPath(name, native, sizeof native)) return name ? ENAMETOOLONG : EINVAL;
  struct stat st;
  if (lstat(native, &st) != 0) return (uint32_t)errno;
  // A link's mode is not the file's to change, and its target's is not ours.
  if (S_ISLNK(st.st_mode)) return ELOOP;
  mode_t mode = st.st_mode & 07777;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    mode &= (mode_t) ~(S_IWUSR | S_IWGRP | S_IWOTH);
  } else if ((mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    // Clearing read-only gives the owner write permission back; group and
    // other get it where they can read and the umask allows it.
    mode_t mask = umask(0);
    umask(mask);
    mode |= S_IWUSR;
    if (mode & S_IRGRP) mode |= S_IWGRP & ~mask;
    if (mode & S_IROTH) mode |= S_IWOTH & ~mask;
  }
  if (mode != (st.st_mode & 07777) && chmod(native, mode) != 0) return (uint32_t)errno;
  return 0;
}

uint32_t FileSetArchiveOnly(const char *name) { return FileSetAttributes(name, FILE_ATTRIBUTE_ARCHIVE); }

uint32_t FileSetExecutable(FileHandle h) {
  if (h < 0 || h > INT32_MAX) return EBADF;
  struct stat st;
  if (fstat((int)h, &st) != 0) return (uint32_t)errno;
  mode_t mode = st.st_mode & 07777;
  // Execute goes only where reading is allowed, so the umask still decides.
  if (mode & S_IRUSR) mode |= S_IXUSR;
  if (mode & S_IRGRP) mode |= S_IXGRP;
  if (mode & S_IROTH) mode |= S_IXOTH;
  if (mode != (st.st_mode & 07777) && fchmod((int)h, mode) != 0) return (uint32_t)errno;
  return 0;
}

int FileIsLink(const char *name) {
  char native[POSIX_PATH_SIZE];
  if (!PosixFromProgramPath(name, native, sizeof native) || !native[0]) return 0;
  struct stat st;
  return lstat(native, &st) == 0 && S_ISLNK(st.st_mode) ? 1 : 0;
}

int FileNameKind(const char *name) {
  char native[POSIX_PATH_SIZE];
  if (!name || !PosixFromProgramPath(name, native, sizeof native) || !native[0]) return NAME_ABSENT;
  struct stat st;
  if (lstat(native, &st) != 0) return NAME_ABSENT;
  return S_ISLNK(st.st_mode) ? NAME_LINK : S_ISDIR(st.st_mode) ? NAME_FOLDER : NAME_FILE;
}

int FileReplace(const char *from, const char *to) {
  char nativeFrom[POSIX_PATH_SIZE], nativeTo[POSIX_PATH_SIZE];
  if (!PosixFromProgramPath(from, nativeFrom, sizeof nativeFrom) || !PosixFromProgramPath(to, nativeTo, sizeof nativeTo))
    return 0;
  // rename replaces the name itself: a link planted there meanwhile is
  // replaced, never followed, and the old file stays whole until this call.
  return rename(nativeFrom, nativeTo) == 0 ? 1 : 0;
}

int DosTimeToUtcFileTime(uint16_t dosDate, uint16_t dosTime, FileTime *out) {
  static const int kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int year = 1980 + (dosDate >> 9), month = (dosDate >> 5) & 15, day = dosDate & 31;
  int hour = dosTime >> 11, minute = (dosTime >> 5) & 63, second = (dosTime & 31) * 2;
  // The same fields Windows refuses; mktime would quietly roll them over.
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return 0;
  if (day > kDaysInMonth[month - 1] + (month == 2 && IsLeapYear(year))) return 0;
  struct tm t;
  memset(&t, 0, sizeof t);
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;  // let the zone rules decide, as local file times do
  // Files of one archive often share a time; each mktime call looks at the
  // zone file on disk again, so the last answer is kept.
  static uint32_t lastDos = 0;
  static time_t lastSeconds = (time_t)-1;
  uint32_t dos = ((uint32_t)dosDate << 16) | dosTime;
  time_t seconds = dos == lastDos && lastSeconds != (time_t)-1 ? lastSeconds : mktime(&t);
  if (seconds == (time_t)-1) return 0;
  lastDos = dos;
  lastSeconds = seconds;
  if (out) *out = (FileTime)(((int64_t)seconds + kEpochDelta) * kTicksPerSecond);
  return 1;
}

uint32_t FileSetDosTime(FileHandle h, uint16_t dosDate, uint16_t dosTime) {
  if (h < 0 || h > INT32_MAX) return EBADF;
  FileTime ft;
  if (!DosTimeToUtcFileTime(dosDate, dosTime, &ft)) return EINVAL;
  // POSIX has no settable creation time; access and modification get the value.
  struct timespec times[2];
  times[0].tv_sec = (time_t)((int64_t)(ft / kTicksPerSecond) - kEpochDelta);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return futimens((int)h, times) == 0 ? 0 : (uint32_t)errno;
}

int FileFindFirst(const char *name, FindRecord *record) {
  char native[POSIX_PATH_SIZE];
  if (!PosixFromProgramPath(name, native, sizeof native) || !native[0]) return 0;
  char *slash = strrchr(native, '/');
  const char *last = slash ? slash + 1 : native;
  // A trailing separator names no file: FindFirstFileA fails on it too.
  if (!*last) return 0;
  if (!strpbrk(last, "*?")) return ProbeName(native, last, record);
  // Wildcards in the last component: the first matching directory entry. The
  // "." and ".." entries are not reported.
  char dirName[POSIX_PATH_SIZE];
  if (slash == native) {
    StrCopy(dirName, "/", sizeof dirName);
  } else if (slash) {
    StrCopyN(dirName, native, (size_t)(slash - native), sizeof dirName);
  } else {
    StrCopy(dirName, ".", sizeof dirName);
  }
  if (strpbrk(dirName, "*?")) return 0;
  DIR *dir = opendir(dirName);
  if (!dir) return 0;
  int found = 0;
  while (struct dirent *e = readdir(dir)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    // "*.*" means every name, dotted or not, as it does on Windows.
    if (strcmp(last, "*.*") != 0 && !WildMatch(e->d_name, last)) continue;
    char full[POSIX_PATH_SIZE];
    StrPrintf(full, sizeof full, "%s/%s", dirName, e->d_name);
    if (!ProbeName(full, e->d_name, record)) continue;  // a file gone meanwhile
    found = 1;
    break;
  }
  closedir(dir);
  return found;
}
