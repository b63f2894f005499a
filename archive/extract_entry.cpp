// One entry: its output path, the overwrite question, a folder or a file
// (local header, decryption, the method's decoder, CRC-32, times and
// attributes), and the decoding resources of a run.
#include <cstdlib>
#include <cstring>

#include "../decoders/lzma.h"
#include "../decoders/stored.h"
#include "../fileio/output_file.h"
#include "../fileio/path.h"
#include "../fileio/platform.h"
#include "entry_crypto.h"
#include "entry_stream.h"
#include "zip_job.h"

namespace {

// What a decoder's refill and flush work on while one entry is decoded.
struct EntryIo {
  EntrySink sink;
  EntryStream *stream;
  unsigned char *readBuffer;  // a stored entry's blocks, read straight from the file
  bool heldTaken;             // a stored entry's bytes held in the stream were handed out
};

int DeflateRefill(void *user, const unsigned char **next, uint32_t *avail) {
  return StreamNextPiece(((EntryIo *)user)->stream, next, avail);
}

int DeflateFlush(void *user, const unsigned char *data, uint32_t count) {
  return WindowFlush(&((EntryIo *)user)->sink, data, count);
}

// First what the stream holds already (read together with the local
// header), then blocks straight from the file, never past the entry's size.
int StoredRefill(void *user, const unsigned char **next, uint32_t *avail) {
  EntryIo *io = (EntryIo *)user;
  const EntryProgress *progress = io->sink.progress;
  uint64_t remaining = progress->uncompressedSize - progress->bytesProduced;
  if (!io->heldTaken) {
    io->heldTaken = true;
    *avail = StreamTakeHeld(io->stream, next, remaining);
    if (*avail) return 1;
  }
  uint32_t wanted = remaining < READ_BUF_SIZE ? (uint32_t)remaining : READ_BUF_SIZE;
  int got = StreamReadBlock(io->stream, io->readBuffer, wanted);
  if (got <= 0) {
    ArchiveContext *archive = io->sink.archive;
    if (got < 0 && archive->errorCode == 0) archive->errorCode = ERR_FILE_ACCESS;
    return 0;
  }
  *next = io->readBuffer;
  *avail = (uint32_t)got;
  return 1;
}

int StoredPieceFlush(void *user, const unsigned char *data, uint32_t count) {
  return StoredFlush(&((EntryIo *)user)->sink, data, count);
}

bool IsReservedNameByte(unsigned char c) {
  return c == '?' || c == '*' || c == '>' || c == '<' || c == '"' || c == '|' || (c >= 1 && c <= 31);
}

}  // namespace

int ZipArchiveJob::BuildOutputPath(const char *entryName, char *out, size_t size) {
  char name[PATH_BUF_SIZE];
  StrCopy(name, entryName, sizeof name);
  PathFixSlashes(name);
  if (!options.keepPaths) {
    char only[PATH_BUF_SIZE];
    PathGetName(name, only, sizeof only);
    StrCopy(name, only, sizeof name);
  } else if (name[0] == '\\') {
    memmove(name, name + 1, strlen(name));
  }
  // By whole characters: '|' and control bytes can also be the second byte
  // of a double-byte character, which is no reserved character.
  int clean = 1;
  for (const char *p = name; *p; p = TextNext(p))
    if (IsReservedNameByte((unsigned char)*p)) clean = 0;
  // The directory reader has cleaned the name already; cleaning again keeps
  // every caller's name below the target folder.
  CleanEntryName(name, sizeof name);

  char path[PATH_BUF_SIZE];
  StrCopy(path, archive.destFolder, sizeof path);
  size_t prefix = strlen(archive.stripPrefix);
  size_t nameLength = strlen(name);
  const char *tail = name;
  if (prefix == 0 || nameLength < prefix) {
    PathEnsureBackslash(path);
  } else if (options.keepPaths && strncmp(name, archive.stripPrefix, prefix) == 0) {
    tail = name + prefix + (name[prefix] ? 1 : 0);
  }
  size_t base = strlen(path);
  // A path cut to fit could name another file (or a folder above the target).
  if (base + strlen(tail) >= sizeof path || base + strlen(tail) >= size) return -1;
  StrAppend(path, tail, sizeof path);

  // Reserved characters and control bytes of the entry's part become '_'.
  for (char *p = path + base; *p; p = (char *)TextNext(p))
    if (IsReservedNameByte((unsigned char)*p)) *p = '_';
  StrCopy(out, path, size);
  return clean;
}

int ZipArchiveJob::AskOverwrite(const EntryRecord *entry, char *outputPath, size_t size) {
  FindRecord existing;
  if (!callbacks.onOverwrite.fn) return 0;
  // The link check has just found nothing there; a wildcard is no plain name.
  const char *last = PathFindName(outputPath);
  if (outputKind == NAME_ABSENT && !strpbrk(last, "*?")) return 0;
  if (!FileFindFirst(outputPath, &existing)) return 0;
  int result = 0;
  if (!options.overwriteSilently && !(entry->attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    FindRecord incoming;
    memset(&incoming, 0, sizeof incoming);
    incoming.attributes = entry->attributes;
    FileTime t = 0;
    DosTimeToUtcFileTime((uint16_t)(entry->dosDateTime >> 16), (uint16_t)entry->dosDateTime, &t);
    incoming.creationTime = incoming.lastAccessTime = incoming.lastWriteTime = t;
    incoming.sizeHigh = (uint32_t)(entry->uncompressedSize >> 32);
    incoming.sizeLow = (uint32_t)entry->uncompressedSize;
    StrCopy(incoming.name, entry->name, sizeof incoming.name);
    userAsked = true;
    result = callbacks.onOverwrite.fn(callbacks.onOverwrite.user, &existing, &incoming);
  }
  if (result == 3) {
    char name[sizeof existing.name];
    StrCopy(name, existing.name, sizeof name);
    // The file system's own spelling of the same file: a name part only.
    if (!strchr(name, '\\') && !strchr(name, '/') && strcmp(name, "..") != 0 && strcmp(name, ".") != 0) {
      PathCutLast(outputPath);
      PathEnsureBackslash(outputPath);
      StrAppend(outputPath, name, size);
    }
  }
  // The existing file is left alone here: it is replaced (its read-only
  // attribute cleared) only once the new one is complete.
  return result;
}

int ZipArchiveJob::OutputPathBlocked(const EntryRecord *entry, const char *outputPath) {
  outputKind = -1;
  outputFoldersThere = 0;
  userAsked = false;
  if (archive.testOnly) return 0;
  // A link below the target folder could lead anywhere on the disk: it is
  // neither entered nor written through, nor replaced unasked.
  if (PathHasLinkBelow(archive.destFolder, outputPath, &outputKind, &outputFoldersThere, destThere))
    return 1;
  destThere = destThere || outputFoldersThere;
  // A folder where a file is to go can't be replaced; found before any work.
  return !(entry->attributes & FILE_ATTRIBUTE_DIRECTORY) && outputKind == NAME_FOLDER;
}

void ZipArchiveJob::DiscardOutput() {
  if (archive.outputHandle != INVALID_FILE) {
    FileClose(archive.outputHandle);
    archive.outputHandle = INVALID_FILE;
  }
  if (tempPath[0]) FileDeleteBelow(archive.destFolder, tempPath);
  tempPath[0] = '\0';
}

void ZipArchiveJob::CreateDirectoryEntry(const EntryRecord *entry, const char *outputPath) {
  if (archive.noDirectories) return;
  // A folder made here takes the entry's mode and attributes (never
  // read-only, which would lock out the entries that follow); one that was
  // there keeps its own.
  if (!DirCreateBelow(archive.destFolder, outputPath, entry->unixMode, entry->attributes))
    SetError(ERR_FILE_ACCESS);
}

void ZipArchiveJob::ExtractFileEntry(const EntryRecord *entry, const char *outputPath) {
  // An entry that starts in the bytes read ahead for the one before needs no
  // seek: they move to the buffer's start and the reading goes on from there.
  const int64_t headerAt = (int64_t)entry->localHeaderOffset;
  uint32_t base = 0, have = 0;  // the header is at buffer[base]; have bytes from there are read
  if (aheadLength && !archive.multiVolume && headerAt >= aheadStart && headerAt - aheadStart < aheadLength) {
    base = (uint32_t)(headerAt - aheadStart);
    have = aheadLength - base;
  } else {
    FileSeek64(archive.volumeHandle, headerAt, FILE_BEGIN);
  }
  aheadLength = 0;
  if (!archive.testOnly) {
    // The folders first (none of them through a link); the look just taken
    // still holds when every folder was there and no question gave time
    // since. The data goes to a new file beside the final name.
    char dir[PATH_BUF_SIZE];
    PathGetDir(outputPath, dir, sizeof dir);
    bool checked = outputFoldersThere && !userAsked;
    if (!checked && DirCreateBelow(archive.destFolder, dir)) {
      destThere = true;
      checked = true;
    }
    if (checked)
      archive.outputHandle = FileCreateTempBeside(archive.destFolder, outputPath, tempPath, sizeof tempPath);
    if (archive.outputHandle == INVALID_FILE) {
      SetError(ERR_FILE_ACCESS);
      return;
    }
  }
  // The local header, its name and extra field and the first piece of the
  // data come in one read into the stream's buffer: for a small entry that is
  // all of it. The central directory's name and extra lengths are the guess;
  // writers often put a few more extra bytes (times, ids) into the local one.
  int64_t packed = entry->compressedSize > (uint64_t)INT64_MAX ? INT64_MAX : (int64_t)entry->compressedSize;
  const uint32_t slack = 128;
  uint64_t guess = (uint64_t)LOCAL_HEADER_SIZE + entry->nameLength + entry->extraLength + slack + (uint64_t)packed;
  uint32_t want = guess < STREAM_BUF_SIZE ? (uint32_t)guess : STREAM_BUF_SIZE;
  // An unsplit archive is read in whole pieces, so that the entries behind
  // a small one arrive with it; bytes held from before move to the front.
  if (have < want) {
    if (base) memmove(stream->buffer, stream->buffer + base, have);
    base = 0;
    uint32_t room = (archive.multiVolume ? want : STREAM_BUF_SIZE) - have;
    int32_t more = FileRead(archive.volumeHandle, stream->buffer + have, room);
    if (more > 0) have += (uint32_t)more;
  }
  unsigned char *piece = stream->buffer + base;
  int32_t got = (int32_t)have;
  if (got < (int32_t)LOCAL_HEADER_SIZE) {
    SetError(ERR_FILE_ACCESS);
    if (!archive.testOnly) {
      FileClose(archive.outputHandle);
      archive.outputHandle = INVALID_FILE;
    }
    return;
  }
  unsigned char local[LOCAL_HEADER_SIZE];
  memcpy(local, piece, LOCAL_HEADER_SIZE);
  uint32_t dataStart = LOCAL_HEADER_SIZE + (uint32_t)GetU16(local + 26) + GetU16(local + 28);

  memset(&progress, 0, sizeof progress);
  progress.runningCrc = 0xFFFFFFFFu;
  progress.uncompressedSize = entry->uncompressedSize;
  progress.leftToDeliver = packed;
  progress.leftToRead = packed;

  uint32_t localFlags = GetU16(local + 6);
  // The bytes read serve as the stream's first piece when they are plain
  // data and either hold all of it or fill the buffer to its end, as every
  // piece the stream reads itself does (the file position is then where the
  // stream goes on). Otherwise the data is read afresh from its start.
  // A traditionally encrypted entry's header comes from the piece too, and
  // the rest of the piece is decrypted where it lies.
  uint32_t inPiece = (uint32_t)got > dataStart ? (uint32_t)got - dataStart : 0;
  uint32_t pieceCount = (int64_t)inPiece < packed ? inPiece : (uint32_t)packed;
  bool encrypted = (localFlags & FLAG_ENCRYPTED) != 0;
  bool headerInPiece = encrypted && entry->encryptionKind == ENCRYPTION_TRADITIONAL && !archive.multiVolume &&
                       pieceCount >= ENCRYPTION_HEADER_SIZE;
  bool usePiece = dataStart <= (uint32_t)got && (!encrypted || headerInPiece) &&
                  ((int64_t)inPiece >= packed || base + (uint32_t)got == STREAM_BUF_SIZE);
  StreamReset(stream);
  if (usePiece) {
    if (!encrypted) StreamTakePiece(stream, base + dataStart, pieceCount);
    // The whole entry is in the piece: the stream reads nothing more, and
    // what follows the entry stays there for the next one.
    if ((int64_t)inPiece >= packed && !archive.multiVolume) {
      aheadStart = headerAt - base;
      aheadLength = base + (uint32_t)got;
    }
  } else {
    FileSeek64(archive.volumeHandle, headerAt + dataStart, FILE_BEGIN);
  }
  if (localFlags & FLAG_ENCRYPTED) {
    archive.encryptionKind = (int32_t)entry->encryptionKind;
    archive.passwordCheck = entry->crc32;
    archive.passwordCheckAlt = 0;
    if (localFlags & FLAG_DATA_DESCRIPTOR) {
      // A streaming writer knows no CRC-32 when it writes the header, and
      // puts the high byte of the DOS time there instead; either is taken.
      // The low bit only keeps a zero time byte from meaning "no check".
      archive.passwordCheckAlt = ((uint32_t)local[11] << 24) | 1;
    }
    if (usePiece) {
      stream->headerBytes = stream->buffer + base + dataStart;
      stream->headerCount = ENCRYPTION_HEADER_SIZE;
    }
    int begun = EntryCryptoBegin(stream, outputPath);
    stream->headerBytes = nullptr;
    stream->headerCount = 0;
    if (!begun) {
      SetError(ERR_WRONG_PASSWORD);
      return;  // the loop removes the temporary file
    }
    if (usePiece) {
      uint32_t from = base + dataStart + ENCRYPTION_HEADER_SIZE;
      StreamDecrypt(stream, stream->buffer + from, pieceCount - ENCRYPTION_HEADER_SIZE);
      StreamTakePiece(stream, from, pieceCount - ENCRYPTION_HEADER_SIZE);
    }
  } else {
    archive.encryptionKind = ENCRYPTION_NONE;
  }

  DecodeData(entry->method, entry->flags);
  EntryAuthCheck(stream);
  // A streamed entry whose one-byte header check passed (as only one wrong
  // password in 256 does) and whose data then fails is damaged, as any other.
  if (archive.errorCode != 0) return;  // the loop removes the temporary file
  bool decoded = entry->method == METHOD_STORED || entry->method == METHOD_DEFLATE ||
                 entry->method == METHOD_DEFLATE64 || entry->method == METHOD_LZMA;
  // AES: the authentication code has already vouched for the data.
  bool crcDiffers = (progress.runningCrc ^ 0xFFFFFFFFu) != entry->crc32 &&
                    !IsAesKind(archive.encryptionKind);
  if (!decoded && progress.bytesProduced != entry->uncompressedSize) {
    // A method the engine cannot decode wrote nothing; the CRC check alone
    // would pass it when the stored CRC-32 is that of no data (zero, or an
    // AES entry's, which is not compared at all).
    SetError(ERR_CRC);
  } else if (crcDiffers) {
    SetError(ERR_CRC);
  }
  if (!archive.testOnly && archive.errorCode == 0) {
    // Times, mode and attributes go on the finished file before it takes its
    // final name, so that name never shows a half-made file.
    FileSetDosTime(archive.outputHandle, (uint16_t)(entry->dosDateTime >> 16), (uint16_t)entry->dosDateTime);
    // The mode packed on a Unix host (a program stays runnable; a secret
    // stays private) less the umask, and the attributes: on the handle.
    FileSetFinalMode(archive.outputHandle, entry->unixMode, options.restoreAttributes ? entry->attributes : 0);
    // A file system may report a failed write only when the file is closed.
    if (!FileClose(archive.outputHandle)) SetError(ERR_WRITE_FAILED);
    archive.outputHandle = INVALID_FILE;
    if (archive.errorCode == 0) {
      if (FileReplaceBelow(archive.destFolder, tempPath, outputPath)) tempPath[0] = '\0';
      else SetError(ERR_FILE_ACCESS);
    }
  }
}

// The one place where an entry's method chooses its decoder.
void ZipArchiveJob::DecodeData(uint32_t method, uint32_t flags) {
  EntryIo io;
  io.sink = {&archive, &progress, &callbacks, 0};
  io.stream = stream;
  io.readBuffer = readBuffer;
  io.heldTaken = false;
  DecodeIo decodeIo = {nullptr, 0, DeflateRefill, DeflateFlush, &io};
  DecodeResult result;
  switch (method) {
    case METHOD_STORED:
      if (archive.errorCode != 0) return;
      decodeIo.refill = StoredRefill;
      decodeIo.flush = StoredPieceFlush;
      result = StoredDecode(&decodeIo, progress.uncompressedSize);
      break;
    case METHOD_DEFLATE:
    case METHOD_DEFLATE64:
      result = InflateDecode(&decoder, &decodeIo, (int)method);
      // Bytes read ahead but not used stay the entry's: the authentication
      // check after an AES entry reads on from there.
      StreamGiveBack(stream, decodeIo.avail);
      break;
    case METHOD_LZMA:
      // Flag bit 1: the stream carries an end marker.
      result = LzmaDecode(&decodeIo, progress.uncompressedSize, (flags & FLAG_METHOD_VARIANT) != 0);
      StreamGiveBack(stream, decodeIo.avail);
      break;
    case METHOD_SHRINK:
    case METHOD_IMPLODE:
    case METHOD_BZIP2:
      SetError(ERR_UNSUPPORTED);
      return;
    default:
      // Nothing is decoded; the CRC check judges. An AES entry has no CRC
      // to judge by: its method is plainly one the engine cannot decode.
      if (IsAesKind(archive.encryptionKind)) SetError(ERR_UNSUPPORTED);
      return;
  }
  DecodeOutcome(&archive, method, result);
}

int DecoderSetUp(ZipArchiveJob *job) {
  // Zero-filled, so that nothing of an earlier run or of the heap can reach
  // an output file through a distance that points before the entry's data.
  job->window = (unsigned char *)calloc(WINDOW_SIZE, 1);
  job->stream = job->window ? StreamCreate() : nullptr;
  if (!job->window || !job->stream ||
      !StreamInit(job->stream, &job->archive, &job->progress, &job->callbacks, job)) {
    DecoderTearDown(job);
    job->archive.errorCode = ERR_NO_MEMORY;
    return 0;
  }
  InflateBind(&job->decoder, job->window);
  return 1;
}

void DecoderTearDown(ZipArchiveJob *job) {
  InflateFreeTables(&job->decoder);
  free(job->window);
  job->window = nullptr;
  StreamDestroy(job->stream);
  job->stream = nullptr;
}
