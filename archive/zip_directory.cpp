// The central directory: headers become EntryRecords, names are converted
// and cleaned, the AES and ZIP64 extra blocks are read, and the offsets of an
// archive that sits behind other data are corrected.
#include <cstdlib>
#include <cstring>

#include "../crypto/crc32.h"
#include "../fileio/path.h"
#include "../fileio/platform.h"
#include "volume.h"
#include "zip_job.h"

namespace {

bool IsSlash(char c) { return c == '\\' || c == '/'; }

// Removes count bytes at p from the terminated string.
void Cut(char *p, size_t count) { memmove(p, p + count, strlen(p + count) + 1); }

// The characters no file name may hold, and control bytes.
bool IsReserved(unsigned char c) {
  return c == '?' || c == '*' || c == '>' || c == '<' || c == '"' || c == '|' || (c >= 1 && c <= 31);
}

// True when a component consists of dots and blanks only: Windows drops
// trailing dots and blanks, so ". ." or ".. " would name the folder itself
// or its parent.
bool IsDotsOnly(const char *start, size_t length) {
  for (size_t i = 0; i < length; i++)
    if (start[i] != '.' && start[i] != ' ') return false;
  return true;
}

// The directory is read through a block buffer: a record's header, name,
// extra field and comment are small pieces, and one system call each made
// reading a directory of many entries cost more than decoding their data.
constexpr uint32_t DIRECTORY_READ_SIZE = 65536;

struct DirectoryReader {
  FileHandle handle;
  unsigned char *block;
  uint32_t at, length;  // next byte and end of the buffered bytes
  int64_t position;     // file position of block[length]

  // Moves to an absolute position, dropping what is buffered; false when the
  // seek fails.
  bool Seek(int64_t to) {
    at = length = 0;
    position = FileSeek64(handle, to, FILE_BEGIN);
    return position == to;
  }
  // The position of the next byte handed out.
  int64_t Tell() const { return position - (int64_t)(length - at); }
  // Like FileRead: count bytes, fewer at the end of the file, -1 for a read
  // error before any byte.
  int32_t Read(void *buffer, uint32_t count) {
    unsigned char *out = (unsigned char *)buffer;
    uint32_t done = 0;
    while (done < count) {
      if (at == length) {
        int32_t got = FileRead(handle, block, DIRECTORY_READ_SIZE);
        if (got < 0) return done ? (int32_t)done : -1;
        if (got == 0) break;
        at = 0;
        length = (uint32_t)got;
        position += got;
      }
      uint32_t n = length - at < count - done ? length - at : count - done;
      memcpy(out + done, block + at, n);
      at += n;
      done += n;
    }
    return (int32_t)done;
  }
};

// Reads exactly count bytes; 1, or 0 with the reason recorded: a read error
// is a file-access failure, a directory that ends early is invalid data.
int ReadExact(ZipArchiveJob *job, DirectoryReader *reader, void *buffer, uint32_t count) {
  if (count == 0) return 1;
  int32_t got = reader->Read(buffer, count);
  if (got == (int32_t)count) return 1;
  job->SetError(got < 0 ? ERR_FILE_ACCESS : ERR_INVALID_DATA);
  return 0;
}

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates
// or values past U+10FFFF) and at least one of them is above 0x7F.
bool IsUtf8BeyondAscii(const unsigned char *s, uint32_t length) {
  bool beyond = false;
  for (uint32_t i = 0; i < length;) {
    unsigned char c = s[i];
    if (c < 0x80) {
      i++;
      continue;
    }
    beyond = true;
    uint32_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > length) return false;
    for (uint32_t k = 1; k < n; k++)
      if ((s[i + k] & 0xC0) != 0x80) return false;
    unsigned char second = s[i + 1];
    if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) || (c == 0xF0 && second < 0x90) ||
        (c == 0xF4 && second > 0x8F))
      return false;
    i += n;
  }
  return beyond;
}

// Converts a stored name to the program's text: UTF-8 when the header says
// so, the Info-ZIP Unicode Path when its checksum matches the stored name,
// UTF-8 too for a Unix host's name that is valid UTF-8 (writers there store
// the bytes the file system gave them, without the flag), the OEM code page
// otherwise.
void ConvertName(const unsigned char *raw, uint32_t rawLength, uint32_t flags, uint32_t hostSystem,
                 const unsigned char *extra, uint32_t extraLength, char *out, size_t size) {
  uint32_t kept = rawLength < NAME_KEEP_MAX ? rawLength : NAME_KEEP_MAX;
  if (flags & FLAG_UTF8) {
    TextFromUtf8((const char *)raw, kept, out, size);
    return;
  }
  const unsigned char *block;
  if (FindExtraBlock(extra, extraLength, EXTRA_UNICODE_PATH, 9, &block)) {
    uint32_t dataSize = GetU16(block + 2);
    uint32_t crc = Crc32Update(0xFFFFFFFFu, raw, rawLength) ^ 0xFFFFFFFFu;
    if (block[4] == 1 && GetU32(block + 5) == crc) {
      uint32_t utf8Length = dataSize - 5;
      if (utf8Length > NAME_KEEP_MAX) utf8Length = NAME_KEEP_MAX;
      TextFromUtf8((const char *)block + 9, utf8Length, out, size);
      if (out[0]) return;
    }
  }
  if (hostSystem == HOST_UNIX && IsUtf8BeyondAscii(raw, rawLength)) {
    TextFromUtf8((const char *)raw, kept, out, size);
    return;
  }
  TextFromOem((const char *)raw, kept, out, size);
}

// Reads the saturated values of a ZIP64 extra block. A block that carries
// all four values is read at their fixed places; a shorter one holds only
// the saturated values, in order, as the format defines.
void ApplyZip64(const unsigned char *block, EntryRecord *e, uint32_t *disk) {
  uint32_t dataSize = GetU16(block + 2);
  const unsigned char *d = block + 4;
  bool full = dataSize >= 28;
  uint32_t at = 0;
  auto take = [&](uint32_t fixedAt, uint32_t width, bool saturated, uint64_t *value) {
    uint32_t pos = full ? fixedAt : at;
    if (!saturated) return;
    if (pos + width <= dataSize) *value = width == 8 ? GetU64(d + pos) : GetU32(d + pos);
    at += width;
  };
  uint64_t v;
  v = e->uncompressedSize;
  take(0, 8, e->uncompressedSize == 0xFFFFFFFFu, &v);
  e->uncompressedSize = v;
  v = e->compressedSize;
  take(8, 8, e->compressedSize == 0xFFFFFFFFu, &v);
  e->compressedSize = v;
  v = e->localHeaderOffset;
  take(16, 8, e->localHeaderOffset == 0xFFFFFFFFu, &v);
  e->localHeaderOffset = v;
  v = *disk;
  take(24, 4, *disk == 0xFFFF, &v);
  *disk = (uint32_t)v;
}

constexpr uint64_t Bit(unsigned c) { return 1ull << (c & 63); }

// Bytes a clean name holds as they are and that need no further look:
// printable ASCII but " * / : < > ? | and the separator, the dot and the
// blank (bit c of kSimpleLow for c below 64, bit c - 64 of kSimpleHigh).
constexpr uint64_t kSimpleLow = 0xFFFFFFFF00000000ull & ~(Bit('"') | Bit('*') | Bit('/') | Bit(':') | Bit('<') |
                                                          Bit('>') | Bit('?') | Bit('.') | Bit(' '));
constexpr uint64_t kSimpleHigh = 0x7FFFFFFFFFFFFFFFull & ~(Bit('|') | Bit('\\'));

// True when CleanEntryName changes nothing: plain ASCII without reserved
// characters, colons, forward slashes or "..", no empty component, none of
// dots and blanks only (a trailing separator stays) and none a device
// name, short enough for every buffer on the way.
bool CleanAlready(const char *name, size_t size, bool deviceNames) {
  size_t i = 0, componentStart = 0;
  bool dotsOnly = true;
  for (;; i++) {
    unsigned char c = (unsigned char)name[i];
    if (c < 128 && ((c < 64 ? kSimpleLow >> c : kSimpleHigh >> (c - 64)) & 1)) {
      dotsOnly = false;
      continue;
    }
    if (c == '.') {
      if (name[i + 1] == '.') return false;
      continue;
    }
    if (c == ' ') continue;
    if (c != '\\' && c != '\0') return false;
    if (i == componentStart) {
      if (c == '\0' && i > 0) break;  // a trailing separator
      return false;
    }
    if (dotsOnly || (deviceNames && IsDeviceName(name + componentStart, i - componentStart))) return false;
    if (c == '\0') break;
    componentStart = i + 1;
    dotsOnly = true;
  }
  return i + 1 < size && i + 1 < PATH_BUF_SIZE;
}

}  // namespace

int FindExtraBlock(const unsigned char *extra, uint32_t length, uint16_t id, uint32_t minimumSize,
                   const unsigned char **out) {
  if (!extra || length == 0) return 0;
  uint32_t pos = 0;
  while (pos + 4 <= length) {
    uint32_t dataSize = GetU16(extra + pos + 2);
    // The whole block must lie inside the field, so readers never pass its end.
    if (GetU16(extra + pos) == id && pos + minimumSize <= length && pos + 4 + dataSize <= length &&
        4 + dataSize >= minimumSize) {
      *out = extra + pos;
      return 1;
    }
    pos += 4 + dataSize;
  }
  return 0;
}

void CleanEntryName(char *name, size_t size, int deviceNames) {
  if (!name || size == 0) return;
  // Only Windows keeps device names: elsewhere "aux.c" is a file like any.
  if (deviceNames < 0) deviceNames = SysReservesDeviceNames();
  // Most names are clean already (every name is cleaned once more on its
  // way to an output path).
  if (CleanAlready(name, size, deviceNames != 0)) return;
  char buf[PATH_BUF_SIZE];
  StrCopy(buf, name, sizeof buf);

  // 1. ".." that climbs goes: with its slash, or the dots after a slash. A
  // dot is never the second byte of a double-byte character, but a backslash
  // can be: the character in front is looked at whole.
  size_t scan = 0;
  for (;;) {
    char *p = strstr(buf + scan, "..");
    if (!p) break;
    if (IsSlash(p[2])) {
      Cut(p, 3);
      scan = (size_t)(p - buf);
    } else if (p > buf && IsSlash(*TextPrev(buf, p))) {
      Cut(p, 2);
      scan = (size_t)(p - buf);
    } else {
      scan = (size_t)(p - buf) + 2;
    }
  }
  // 2. and 3. No "./" and no root in front.
  while (buf[0] == '.' && IsSlash(buf[1])) Cut(buf, 2);
  while (IsSlash(buf[0])) Cut(buf, 1);

  // 4. Components: empty ones and those of dots and blanks only go, so that
  // no separator doubles and no component can name a folder above; a colon
  // (a drive or a stream on Windows) becomes '_'. A trailing separator stays.
  char out[PATH_BUF_SIZE];
  size_t len = 0;
  const char *p = buf;
  bool trailing = false;
  while (*p) {
    const char *start = p;
    while (*p && !IsSlash(*p)) p = TextNext(p);
    size_t n = (size_t)(p - start);
    trailing = *p != '\0';
    if (*p) p++;
    if (n == 0 || IsDotsOnly(start, n)) continue;
    if (len && len + 1 < sizeof out) out[len++] = '\\';
    for (size_t i = 0; i < n && len + 1 < sizeof out; i++) out[len++] = start[i] == ':' ? '_' : start[i];
  }
  if (trailing && len && len + 1 < sizeof out) out[len++] = '\\';
  out[len] = '\0';

  // 5. Reserved characters and control bytes, from the second character on,
  // by whole characters: '|' is also the second byte of some double-byte
  // characters, which must stay as they are.
  for (char *c = len ? (char *)TextNext(out) : out; *c; c = (char *)TextNext(c))
    if (IsReserved((unsigned char)*c)) *c = '_';
  if (len && (unsigned char)out[0] >= 1 && (unsigned char)out[0] <= 31) out[0] = '_';
  if (deviceNames) PrefixDeviceNames(out, sizeof out);
  StrCopy(name, out, size);
}

void ZipArchiveJob::ListEntries(EntryList *includes, EntryList *excludes, const EntryFilter *filterIn,
                                EntryList *entries, ListSummary *summary) {
  if (filterIn) {
    filterState = *filterIn;
    filter = &filterState;
  } else {
    filter = nullptr;
  }
  if (!entries) {
    SetError(ERR_BAD_ARGUMENT);
    return;
  }
  if (archive.archiveMissing) {
    SetError(ERR_FILE_ACCESS);
    return;
  }
  ReadDirectory(includes, excludes, entries);
  if (summary) {
    memset(summary, 0, sizeof *summary);
    for (ListNode *n = entries->first; n; n = n->next) {
      const EntryRecord *e = (const EntryRecord *)n->item;
      summary->entries++;
      if (e->attributes & FILE_ATTRIBUTE_DIRECTORY) summary->directories++;
      summary->uncompressedTotal += e->uncompressedSize;
      summary->compressedTotal += e->compressedSize;
    }
  }
}

void ZipArchiveJob::ReadDirectory(EntryList *includes, EntryList *excludes, EntryList *entries) {
  uint64_t start;
  uint32_t firstDisk, lastDisk;
  if (zip64) {
    headersExpected = GetU64(zip64EndRecord + 32);
    start = GetU64(zip64EndRecord + 48);
    firstDisk = GetU32(zip64EndRecord + 20);
    lastDisk = GetU32(zip64EndRecord + 16);
  } else {
    headersExpected = GetU16(endRecord + 10);
    start = GetU32(endRecord + 16);
    firstDisk = GetU16(endRecord + 6);
    lastDisk = GetU16(endRecord + 4);
  }
  archive.lastDisk = lastDisk;
  headersRead = 0;
  endedAtEndRecord = 0;
  if (start > (uint64_t)INT64_MAX - (uint64_t)(shift < 0 ? -shift : shift) || firstDisk > lastDisk) {
    SetError(ERR_INVALID_DATA);
    return;
  }
  int64_t startPos = (int64_t)start + shift;
  if (startPos < 0) {
    SetError(ERR_INVALID_DATA);
    return;
  }
  char path[PATH_BUF_SIZE];
  int ok;
  if (!archive.multiVolume) {
    ok = ReadDirectoryPart(includes, excludes, entries, startPos, archive.archivePath);
  } else {
    ok = 1;
    // Directory bytes on the volumes before the last (split sets: begin).
    uint64_t earlier = 0;
    int64_t lastStart = 0;
    uint64_t directorySize = zip64 ? GetU64(zip64EndRecord + 40) : GetU32(endRecord + 12);
    for (uint32_t d = firstDisk; d < lastDisk && ok; d++) {
      if (!GetVolumePath(this, d, lastDisk, path, sizeof path)) return;
      if (d != firstDisk) shift = 0;  // only the first volume has data in front
      int64_t partStart = d == firstDisk ? startPos : 0;
      FileHandle h = FileOpen(path, "rb");
      int64_t size = h != INVALID_FILE ? FileGetSize(h) : -1;
      if (h != INVALID_FILE) FileClose(h);
      if (size > partStart) earlier += (uint64_t)(size - partStart);
      ok = ReadDirectoryPart(includes, excludes, entries, partStart, path);
    }
    if (!ok) return;
    // The rest of the directory ends where the end record begins; when a
    // self-extractor's program stands in front of the last volume, that is
    // where its part starts and how far its entries are displaced.
    if (firstDisk != lastDisk && earlier < directorySize &&
        directoryEnd - (int64_t)(directorySize - earlier) > 0)
      lastStart = directoryEnd - (int64_t)(directorySize - earlier);
    if (!GetVolumePath(this, lastDisk, lastDisk, path, sizeof path)) return;
    if (firstDisk != lastDisk) shift = lastStart;
    ok = ReadDirectoryPart(includes, excludes, entries, firstDisk == lastDisk ? startPos : lastStart, path);
    if (ok && archive.errorCode == 0) DisplaceFirstVolume(this, entries);
    // (split sets: end)
  }
  archive.currentDisk = lastDisk;
  // Whatever ended the directory, it must have held as many headers as the
  // end record promised: fewer means it was cut off or lies. Older writers
  // store a count above 65,535 without ZIP64 records, modulo 65,536; such a
  // directory is whole when it ends exactly at the end record.
  bool wrapped = !zip64 && endedAtEndRecord && headersRead > 0xFFFF && (headersRead & 0xFFFF) == headersExpected;
  if (ok && archive.errorCode == 0 && headersRead != headersExpected && !wrapped) SetError(ERR_INVALID_DATA);
  // Entries sharing their data would be decoded again and again: invalid.
  if (archive.errorCode == 0) {
    int overlap = EntriesOverlap(entries);
    if (overlap) SetError(overlap < 0 ? ERR_NO_MEMORY : ERR_INVALID_DATA);
  }
}

int ZipArchiveJob::ReadDirectoryPart(EntryList *includes, EntryList *excludes, EntryList *entries, int64_t start,
                                     const char *volumePath) {
  archive.volumeHandle = FileOpen(volumePath, "rb");
  if (archive.volumeHandle == INVALID_FILE) {
    SetError(ERR_FILE_ACCESS);
    return 0;
  }
  int result = 1;
  bool shiftTried = false, headerSeen = false;
  uint64_t declaredSize = zip64 ? GetU64(zip64EndRecord + 40) : GetU32(endRecord + 12);
  uint64_t declaredStart = zip64 ? GetU64(zip64EndRecord + 48) : GetU32(endRecord + 16);
  unsigned char header[CENTRAL_HEADER_SIZE];
  unsigned char *rawName = nullptr;  // a name too long for shortName
  unsigned char shortName[PATH_BUF_SIZE];
  DirectoryReader reader = {archive.volumeHandle, (unsigned char *)malloc(DIRECTORY_READ_SIZE), 0, 0, 0};

  if (!reader.block) {
    SetError(ERR_NO_MEMORY);
    result = 0;
    goto done;
  }
  if (!reader.Seek(start)) {
    SetError(ERR_FILE_ACCESS);
    result = 0;
    goto done;
  }
  for (;;) {
    int32_t got = reader.Read(header, CENTRAL_HEADER_SIZE);
    if (got < 0) {
      SetError(ERR_FILE_ACCESS);
      result = 0;
      break;
    }
    if (got < 4) break;  // end of the volume
    uint32_t signature = GetU32(header);
    if (signature == SIG_CENTRAL_HEADER) {
      if (got < (int32_t)CENTRAL_HEADER_SIZE) {
        SetError(ERR_INVALID_DATA);
        result = 0;
        break;
      }
      headersRead++;
      headerSeen = true;
      // More headers than promised: the count lies; stop before the list
      // grows. A 16-bit count may have wrapped: where the directory ends
      // decides (below and in ReadDirectory).
      if (headersRead > headersExpected && zip64) {
        SetError(ERR_INVALID_DATA);
        result = 0;
        break;
      }
      uint32_t nameLength = GetU16(header + 28);
      uint32_t extraLength = GetU16(header + 30);
      uint32_t commentLength = GetU16(header + 32);
      EntryRecord e;
      memset(&e, 0, sizeof e);
      unsigned char *nameBytes = shortName;
      if (nameLength >= sizeof shortName) nameBytes = rawName = (unsigned char *)malloc(nameLength + 1);
      unsigned char *extra = extraLength ? (unsigned char *)malloc(extraLength) : nullptr;
      char *comment = (char *)malloc(commentLength + 1);
      if (!nameBytes || (extraLength && !extra) || !comment) {
        free(extra);
        free(comment);
        SetError(ERR_NO_MEMORY);
        result = 0;
        break;
      }
      if (!ReadExact(this, &reader, nameBytes, nameLength) || !ReadExact(this, &reader, extra, extraLength) ||
          !ReadExact(this, &reader, comment, commentLength)) {
        free(extra);
        free(comment);
        result = 0;
        break;
      }
      comment[commentLength] = '\0';
      uint32_t flags = GetU16(header + 8);

      char name[PATH_BUF_SIZE];
      memset(name, 0, sizeof name);
      ConvertName(nameBytes, nameLength, flags, GetU16(header + 4) >> 8, extra, extraLength, name, sizeof name);
      PathFixSlashes(name);
      e.validName = 1;
      if (name[0] == '.' && name[1] == '\\') {
        if (nameLength > 2) Cut(name, 2);
        else e.validName = 0;
      }
      if (nameLength > 3 && name[0] && name[1] == ':' && name[2] == '\\') Cut(name, 3);
      CleanEntryName(name, sizeof name);
      if (name[0] == '\0') e.validName = 0;
      bool storedAsFolder = nameLength > 0 && nameBytes[nameLength - 1] == '/';
      free(rawName);
      rawName = nullptr;

      e.nameLength = nameLength;
      e.versionNeeded = GetU16(header + 6);
      e.hostSystem = GetU16(header + 4) >> 8;
      e.flags = flags;
      e.method = GetU16(header + 10);
      e.dosDateTime = ((uint32_t)GetU16(header + 14) << 16) | GetU16(header + 12);
      e.crc32 = GetU32(header + 16);
      e.compressedSize = GetU32(header + 20);
      e.uncompressedSize = GetU32(header + 24);
      e.commentLength = commentLength;
      e.comment = comment;
      e.extra = extra;
      e.extraLength = extraLength;
      uint32_t disk = GetU16(header + 34);
      e.attributes = e.hostSystem == 0 ? GetU32(header + 38) : 0;
      e.unixMode = e.hostSystem == HOST_UNIX ? GetU32(header + 38) >> 16 : 0;
      e.localHeaderOffset = GetU32(header + 42);

      const unsigned char *block;
      uint32_t aesStrength = 0;
      if (e.method == METHOD_AES && FindExtraBlock(extra, extraLength, EXTRA_AES, 11, &block)) {
        aesStrength = block[8];
        e.method = GetU16(block + 9);
      }
      if ((e.compressedSize == 0xFFFFFFFFu || e.uncompressedSize == 0xFFFFFFFFu ||
           e.localHeaderOffset == 0xFFFFFFFFu || disk == 0xFFFF) &&
          FindExtraBlock(extra, extraLength, EXTRA_ZIP64, 4, &block))
        ApplyZip64(block, &e, &disk);
      e.diskStart = disk;
      // The displacement of the archive applies to every offset it stores,
      // the 64-bit ones included.
      // Multi-volume: only the volume holding the end record can sit behind
      // a self-extractor's program; the other volumes start with their data.
      if (!archive.multiVolume || e.diskStart == archive.lastDisk)
        e.localHeaderOffset = (uint64_t)((int64_t)e.localHeaderOffset + shift);

      // A name that ends in a separator is a folder whatever its size says:
      // no file can be written under an empty name.
      size_t len = strlen(name);
      bool endsInSeparator = len > 0 && *TextPrev(name, name + len) == '\\';
      if ((e.uncompressedSize == 0 && storedAsFolder) || endsInSeparator) e.attributes |= FILE_ATTRIBUTE_DIRECTORY;
      if ((e.attributes & FILE_ATTRIBUTE_DIRECTORY) && len > 0 && !endsInSeparator)
        StrAppend(name, "\\", sizeof name);
      e.name = name;

      e.encrypted = flags & FLAG_ENCRYPTED;
      e.encryptionKind = e.encrypted ? ENCRYPTION_TRADITIONAL : ENCRYPTION_NONE;
      if (aesStrength) e.encryptionKind = ENCRYPTION_AES128 + aesStrength - 1;  // strengths 1..3
      e.methodVariant = e.method;
      if (flags & FLAG_METHOD_VARIANT) {
        if (e.method == 8) e.methodVariant = 10;
        else if (e.method == 9) e.methodVariant = 11;
        else if (e.method == 12) e.methodVariant = 13;
      }
      if (e.method == 98) e.methodVariant = 34;

      if (!IsSelected(&e, includes, excludes)) {
        free(e.extra);
        free(e.comment);
        continue;
      }
      if (!AppendEntryCopy(this, entries, &e)) {
        free(e.extra);
        free(e.comment);
        break;  // result 1 with the error recorded
      }
      continue;
    }
    if (signature == SIG_END_RECORD) {
      endedAtEndRecord = reader.Tell() - got == directoryEnd ? 1 : 0;
      break;
    }
    if (!shiftTried && !headerSeen) {
      // Nothing where the directory should start. Either it is really empty
      // there, or the whole archive lies behind other data: then the
      // directory ends where the end record (or ZIP64 end record) begins.
      if (declaredStart <= (uint64_t)INT64_MAX - declaredSize &&
          (int64_t)(declaredStart + declaredSize) + shift == directoryEnd)
        break;
      int64_t realStart = declaredSize <= (uint64_t)INT64_MAX ? directoryEnd - (int64_t)declaredSize : -1;
      if (realStart < 0 || declaredStart > (uint64_t)INT64_MAX) {
        SetError(ERR_INVALID_DATA);
        result = 0;
        break;
      }
      shift = realStart - (int64_t)declaredStart;
      shiftTried = true;
      if (!reader.Seek(realStart)) {
        SetError(ERR_FILE_ACCESS);
        result = 0;
        break;
      }
      continue;
    }
    break;  // another record ends the directory; the count check decides
  }
done:
  free(rawName);
  free(reader.block);
  FileClose(archive.volumeHandle);
  archive.volumeHandle = INVALID_FILE;
  return result;
}
