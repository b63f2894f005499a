// Opening an archive: the end record in the file's tail, the archive comment,
// the ZIP64 records, the ".zip" sibling and the prompt for the last volume.
#include <cstdlib>
#include <cstring>

#include "../fileio/path.h"
#include "../fileio/platform.h"
#include "volume.h"
#include "zip_job.h"

namespace {

// Reads exactly count bytes at pos; 1 or 0.
int ReadAt(FileHandle h, int64_t pos, void *buffer, uint32_t count) {
  if (pos < 0 || FileSeek64(h, pos, FILE_BEGIN) != pos) return 0;
  return FileRead(h, buffer, count) == (int32_t)count ? 1 : 0;
}

// Where the archive of a file ends: a signed program keeps its certificate
// table (of any size) behind everything else, so a PE file whose security
// directory names a table inside the file ends where that table begins.
int64_t ArchiveEnd(FileHandle h, int64_t size) {
  unsigned char head[64];
  if (size < (int64_t)sizeof head || !ReadAt(h, 0, head, sizeof head) || head[0] != 'M' || head[1] != 'Z')
    return size;
  uint32_t pe = GetU32(head + 0x3C);
  // The signature, the file header and the optional header up to the end
  // of the security entry (the fifth data directory) of the larger PE32+.
  unsigned char nt[24 + 112 + 5 * 8];
  if ((int64_t)pe + (int64_t)sizeof nt > size || !ReadAt(h, pe, nt, sizeof nt) || GetU32(nt) != 0x00004550)
    return size;
  uint32_t optionalSize = GetU16(nt + 20), magic = GetU16(nt + 24);
  uint32_t directories = magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0;
  // The fifth directory entry (index 4) must be inside the optional header.
  if (!directories || optionalSize < directories + 5 * 8 || GetU32(nt + 24 + directories - 4) < 5) return size;
  uint32_t tableAt = GetU32(nt + 24 + directories + 32), tableSize = GetU32(nt + 24 + directories + 36);
  if (!tableAt || !tableSize || (int64_t)tableAt + tableSize > size || tableAt < pe) return size;
  return tableAt;
}

void ClearDirectoryState(ZipArchiveJob *job) {
  job->endRecordPos = -1;
  memset(job->endRecord, 0, sizeof job->endRecord);
  memset(job->zip64Locator, 0, sizeof job->zip64Locator);
  memset(job->zip64EndRecord, 0, sizeof job->zip64EndRecord);
  job->headersRead = 0;
  job->headersExpected = 0;
  job->endRecordRead = 0;
  job->zip64 = 0;
  job->directoryEnd = -1;
  job->shift = 0;
  job->endedAtEndRecord = 0;
  free(job->archive.comment);
  job->archive.comment = nullptr;
  job->archive.commentLength = 0;
  job->archive.multiVolume = 0;
}

// Tries one candidate file: opens it, searches its end record, closes it.
// 1 found; 0 not found (the search's reason recorded, the caller may go on
// asking); -1 when the file exists but cannot be opened, which ends the open
// with 28002 in place of the earlier search's reason.
int TryFile(ZipArchiveJob *job, const char *path) {
  ClearDirectoryState(job);
  job->archive.volumeHandle = FileOpen(path, "rb");
  if (job->archive.volumeHandle == INVALID_FILE) {
    job->archive.errorCode = ERR_FILE_ACCESS;
    return -1;
  }
  job->archive.errorCode = 0;
  int found = job->FindEndRecord();
  FileClose(job->archive.volumeHandle);
  job->archive.volumeHandle = INVALID_FILE;
  return found;
}

}  // namespace

int32_t ZipArchiveJob::Open(const char *path) {
  platformIsNt = OsIsNt();
  if (ArchiveJob::Open(path) != 0) return archive.errorCode;
  ClearDirectoryState(this);
  if (!path || !FileExists(path)) {
    StrCopy(archive.archivePath, path, sizeof archive.archivePath);
    archive.archiveMissing = 1;
    return 0;
  }
  archive.volumeHandle = FileOpen(path, "rb");
  if (archive.volumeHandle == INVALID_FILE) {
    SetError(ERR_FILE_ACCESS);
    return archive.errorCode;
  }
  int found = FindEndRecord();
  FileClose(archive.volumeHandle);
  archive.volumeHandle = INVALID_FILE;
  StrCopy(archive.archivePath, path, sizeof archive.archivePath);
  if (found) return 0;
  if (!callbacks.onNextVolume.fn) return archive.errorCode;

  // Not an archive by itself: its ".zip" sibling, then the last volume
  // wherever the user says it is.
  char fileName[PATH_BUF_SIZE];
  PathGetName(path, fileName, sizeof fileName);
  PathSetExt(archive.archivePath, ".zip");
  if (FileExists(archive.archivePath)) {
    int tried = TryFile(this, archive.archivePath);
    if (tried > 0) return 0;
    if (tried < 0) return archive.errorCode;
  }
  // The same answer again and again (a prompt that cannot really ask) must
  // not keep the run alive for ever: it ends as a missing volume.
  char previous[PATH_BUF_SIZE] = "";
  uint32_t repeats = 0;
  for (;;) {
    if (callbacks.onNextVolume.fn(callbacks.onNextVolume.user, archive.archivePath, 0, -1, -1) != 1) {
      archive.errorCode = ERR_CANCELLED;
      return archive.errorCode;
    }
    archive.archivePath[PATH_BUF_SIZE - 1] = '\0';
    PathEnsureBackslash(archive.archivePath);
    StrAppend(archive.archivePath, fileName, sizeof archive.archivePath);
    PathSetExt(archive.archivePath, ".zip");
    if (TextCompareNoCase(archive.archivePath, previous) != 0) {
      StrCopy(previous, archive.archivePath, sizeof previous);
      repeats = 0;
    } else if (++repeats >= VOLUME_PROMPT_LIMIT) {
      archive.errorCode = ERR_VOLUME_MISSING;
      return archive.errorCode;
    }
    if (!FileExists(archive.archivePath)) continue;
    int tried = TryFile(this, archive.archivePath);
    if (tried > 0) return 0;
    if (tried < 0) return archive.errorCode;
  }
}

int ZipArchiveJob::FindEndRecord() {
  FileHandle h = archive.volumeHandle;
  if (endRecordPos != -1) {
    if (FileSeek64(h, endRecordPos, FILE_BEGIN) < 0) {
      SetError(ERR_FILE_ACCESS);
      return 0;
    }
    return 1;
  }
  int64_t size = FileGetSize(h);
  if (size < 0) {
    SetError(ERR_FILE_ACCESS);
    return 0;
  }
  if (size < (int64_t)END_RECORD_SIZE) {
    SetError(ERR_NOT_AN_ARCHIVE);
    return 0;
  }
  size = ArchiveEnd(h, size);
  int64_t tailStart = size > (int64_t)END_SCAN_WINDOW ? size - END_SCAN_WINDOW : 0;
  uint32_t tailLength = (uint32_t)(size - tailStart);
  // The window is a little larger than the read buffer: it has one of its own.
  unsigned char *tail = (unsigned char *)malloc(END_SCAN_WINDOW);
  if (!tail) {
    SetError(ERR_NO_MEMORY);
    return 0;
  }
  int found = FindEndRecordIn(tail, tailStart, tailLength);
  free(tail);
  return found;
}

int ZipArchiveJob::FindEndRecordIn(unsigned char *tail, int64_t tailStart, uint32_t tailLength) {
  FileHandle h = archive.volumeHandle;
  if (!ReadAt(h, tailStart, tail, tailLength)) {
    SetError(ERR_FILE_ACCESS);
    return 0;
  }
  // Backwards, so the last signature in the tail wins. A candidate too close
  // to the end for a whole record, or whose comment would run past the end
  // of the file, cannot be the end record and is passed over.
  for (int64_t i = (int64_t)tailLength - 4; i >= 0; i--) {
    if (GetU32(tail + i) != SIG_END_RECORD) continue;
    if (i + (int64_t)END_RECORD_SIZE > (int64_t)tailLength) continue;
    if (i + (int64_t)END_RECORD_SIZE + GetU16(tail + i + 20) > (int64_t)tailLength) {
      // A comment cut short by the end of the file keeps the bytes that are
      // there, unless the record's directory would lie behind the record
      // itself: then the signature is only bytes of something else.
      uint32_t directorySize = GetU32(tail + i + 12), directoryOffset = GetU32(tail + i + 16);
      bool saturated = directorySize == 0xFFFFFFFFu || directoryOffset == 0xFFFFFFFFu;
      if (!saturated && (uint64_t)directoryOffset + directorySize > (uint64_t)(tailStart + i)) continue;
    }
    endRecordPos = tailStart + i + 4;
    if (FileSeek64(h, endRecordPos, FILE_BEGIN) < 0) {
      SetError(ERR_FILE_ACCESS);
      return 0;
    }
    if (!ReadEndRecord()) return 0;
    directoryEnd = endRecordPos - 4;
    CheckZip64();
    if (archive.errorCode != 0) return 0;
    FileSeek64(h, endRecordPos - 4, FILE_BEGIN);
    return 1;
  }
  SetError(ERR_NOT_AN_ARCHIVE);
  return 0;
}

int ZipArchiveJob::ReadEndRecord() {
  if (endRecordRead) return 1;
  FileHandle h = archive.volumeHandle;
  if (!ReadAt(h, endRecordPos - 4, endRecord, END_RECORD_SIZE)) {
    SetError(ERR_FILE_ACCESS);
    return 0;
  }
  if (GetU32(endRecord) != SIG_END_RECORD) {
    SetError(ERR_INVALID_DATA);
    return 0;
  }
  uint32_t length = GetU16(endRecord + 20);
  if (length == 0) {
    endRecordRead = 1;
    return 1;
  }
  free(archive.comment);
  archive.comment = nullptr;
  archive.commentLength = 0;
  // The converted comment may be longer than the stored one (one byte can
  // become a three-byte character).
  size_t convertedSize = (size_t)length * 3 + 255;
  char *raw = (char *)calloc(length + 255, 1);
  char *converted = (char *)calloc(convertedSize, 1);
  if (!raw || !converted) {
    free(raw);
    free(converted);
    SetError(ERR_NO_MEMORY);
    return 0;
  }
  int32_t got = FileRead(h, raw, length);
  if (got < 0) {
    free(raw);
    free(converted);
    SetError(ERR_FILE_ACCESS);
    return 0;
  }
  TextFromOem(raw, (size_t)got, converted, convertedSize);
  free(raw);
  archive.comment = converted;
  archive.commentLength = (uint32_t)strlen(converted);
  endRecordRead = 1;
  return 1;
}

void ZipArchiveJob::CheckZip64() {
  // Saturated fields call for the ZIP64 records anywhere in the tail. Some
  // writers (one reading standard input, or a file past 4 GiB) add them with
  // every field still in range; those stand directly in front of the end
  // record, and the directory ends where they begin.
  bool saturated = GetU32(endRecord + 16) == 0xFFFFFFFFu || GetU32(endRecord + 12) == 0xFFFFFFFFu ||
                   GetU16(endRecord + 8) == 0xFFFF || GetU16(endRecord + 10) == 0xFFFF;
  FindZip64Records(!saturated);
  uint32_t directoryDisk = zip64 ? GetU32(zip64EndRecord + 20) : GetU16(endRecord + 6);
  archive.multiVolume = directoryDisk != 0 ? 1 : 0;
}

// The locator's offset counts from the archive's first byte. When the
// archive sits behind other data (a self-extractor), that offset misses the
// record; the record then lies directly in front of the locator, and the
// difference is the displacement of the whole archive.
int ZipArchiveJob::FindZip64Records(bool adjacentOnly) {
  FileHandle h = archive.volumeHandle;
  // The records stand in front of the end record.
  int64_t size = endRecordPos - 4;
  if (size < (int64_t)(ZIP64_LOCATOR_SIZE + ZIP64_END_RECORD_SIZE)) return 0;
  int64_t windowStart = size > (int64_t)READ_BUF_SIZE ? size - READ_BUF_SIZE : 0;
  uint32_t windowLength = (uint32_t)(size - windowStart);
  if (!ReadAt(h, windowStart, readBuffer, windowLength)) {
    SetError(ERR_FILE_ACCESS);
    return 0;
  }
  // Only a locator in front of the end record counts, not one in the comment.
  int64_t last = (endRecordPos - 4) - windowStart - (int64_t)ZIP64_LOCATOR_SIZE;
  int64_t index = -1;
  for (int64_t i = last; i >= 0 && (!adjacentOnly || i == last); i--) {
    if (GetU32(readBuffer + i) == SIG_ZIP64_LOCATOR) {
      index = i;
      break;
    }
  }
  if (index < 0) return 0;
  int64_t locatorPos = windowStart + index;
  memcpy(zip64Locator, readBuffer + index, ZIP64_LOCATOR_SIZE);
  uint64_t stated = GetU64(zip64Locator + 8);
  unsigned char record[ZIP64_END_RECORD_SIZE];

  int64_t found = -1;
  int64_t displacement = 0;
  bool statedHasSignature = false;
  if (stated <= (uint64_t)INT64_MAX && ReadAt(h, (int64_t)stated, record, ZIP64_END_RECORD_SIZE) &&
      GetU32(record) == SIG_ZIP64_END_RECORD) {
    statedHasSignature = true;
    if (GetU64(record + 4) + 12 + stated == (uint64_t)locatorPos) found = (int64_t)stated;
  }
  if (found < 0) {
    int64_t adjacent = locatorPos - (int64_t)ZIP64_END_RECORD_SIZE;
    if (adjacent >= 0 && ReadAt(h, adjacent, record, ZIP64_END_RECORD_SIZE) &&
        GetU32(record) == SIG_ZIP64_END_RECORD && GetU64(record + 4) == ZIP64_END_RECORD_SIZE - 12) {
      found = adjacent;
      displacement = adjacent - (int64_t)stated;
    } else if (statedHasSignature && ReadAt(h, (int64_t)stated, record, ZIP64_END_RECORD_SIZE)) {
      found = (int64_t)stated;  // not where the locator stands, but where it says
    }
  }
  if (found < 0) return 0;
  memcpy(zip64EndRecord, record, ZIP64_END_RECORD_SIZE);
  zip64 = 1;
  endRecordPos = found + 4;
  directoryEnd = found;
  shift = displacement;
  return 1;
}
