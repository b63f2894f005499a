// The entry stream (buffered, decrypting input of one entry) and the flushes
// (checksum, write, progress) of the decoders.
#include "entry_stream.h"

#include <cstdlib>
#include <cstring>

#include "../crypto/crc32.h"
#include "volume.h"
#include "zip_format.h"

EntryStream *StreamCreate() {
  EntryStream *stream = (EntryStream *)calloc(1, sizeof(EntryStream));
  if (stream) stream->position = -1;
  return stream;
}

void StreamDestroy(EntryStream *stream) {
  if (!stream) return;
  free(stream->buffer);
  stream->buffer = nullptr;
  stream->position = -1;
  // Key material of the last entry must not outlive the run.
  volatile unsigned char *p = (volatile unsigned char *)stream;
  for (size_t i = 0; i < sizeof(EntryStream); i++) p[i] = 0;
  free(stream);
}

int StreamInit(EntryStream *stream, ArchiveContext *archive, EntryProgress *progress, ExtractCallbacks *callbacks,
               ZipArchiveJob *job) {
  stream->archive = archive;
  stream->progress = progress;
  stream->callbacks = callbacks;
  stream->job = job;
  if (!stream->buffer) {
    stream->buffer = (unsigned char *)malloc(STREAM_BUF_SIZE);
    if (!stream->buffer) {
      if (archive->errorCode == 0) archive->errorCode = ERR_NO_MEMORY;
      return 0;
    }
  }
  memset(stream->buffer, 0, STREAM_BUF_SIZE);
  stream->position = -1;
  return 1;
}

void StreamReset(EntryStream *stream) {
  stream->position = -1;
  stream->headerBytes = nullptr;
  stream->headerCount = 0;
}

void StreamTakePiece(EntryStream *stream, uint32_t from, uint32_t count) {
  stream->position = (int32_t)from;
  stream->progress->leftToRead -= count;
}

uint32_t StreamTakeHeld(EntryStream *stream, const unsigned char **data, uint64_t most) {
  int32_t pos = stream->position;
  int64_t left = stream->progress->leftToDeliver;
  if (pos < 0 || pos >= (int32_t)STREAM_BUF_SIZE || left <= 0) return 0;
  uint64_t count = STREAM_BUF_SIZE - (uint32_t)pos;
  if ((uint64_t)left < count) count = (uint64_t)left;
  if (most < count) count = most;
  *data = stream->buffer + pos;
  stream->position += (int32_t)count;
  stream->progress->leftToDeliver -= (int64_t)count;
  return (uint32_t)count;
}

void StreamDecrypt(EntryStream *stream, unsigned char *data, uint32_t length) {
  int32_t kind = stream->archive->encryptionKind;
  if (kind == ENCRYPTION_NONE || length == 0) return;
  if (kind == ENCRYPTION_TRADITIONAL) {
    CipherDecrypt(&stream->cipherKeys, data, length);
  } else {
    AesEntryDecrypt(data, length, &stream->aesState);
  }
}

// Reads up to wanted bytes (wanted <= leftToRead) into destination, following
// a split archive into its next volumes. Returns the count read, which is
// below wanted only when the input ended: a read error (ERR_FILE_ACCESS is
// then recorded unless an error is set), the end of an unsplit archive's file,
// or a failed volume switch (its reason recorded by NextVolume). A read that
// yields nothing is never retried on the same file.
static uint32_t ReadPiece(EntryStream *stream, unsigned char *destination, uint32_t wanted, int *ended) {
  ArchiveContext *archive = stream->archive;
  EntryProgress *progress = stream->progress;
  uint32_t total = 0;
  *ended = 0;
  while (total < wanted) {
    int32_t count = FileRead(archive->volumeHandle, destination + total, wanted - total);
    if (count < 0) {
      if (archive->errorCode == 0) archive->errorCode = ERR_FILE_ACCESS;
      *ended = 1;
      break;
    }
    if (count > 0) {
      if ((uint32_t)count > wanted - total) count = (int32_t)(wanted - total);  // never trust a count
      progress->leftToRead -= count;
      total += (uint32_t)count;
      continue;
    }
    // The file has no more bytes: the next volume continues the data, if any.
    if (!archive->multiVolume || !NextVolume(stream->job)) {
      *ended = 1;
      break;
    }
  }
  return total;
}

int StreamFillBuffer(EntryStream *stream) {
  EntryProgress *progress = stream->progress;
  int64_t left = progress->leftToRead;
  // Nothing left to read while bytes are still owed is a miscount: end the
  // input rather than hand out the old buffer again.
  uint32_t wanted = left < (int64_t)STREAM_BUF_SIZE ? (left > 0 ? (uint32_t)left : 0) : STREAM_BUF_SIZE;
  int ended = 1;
  uint32_t total = wanted ? ReadPiece(stream, stream->buffer, wanted, &ended) : 0;
  if (ended && total == 0) {
    progress->leftToDeliver = 0;
    stream->position = 0;
    return 0;
  }
  if (ended) {
    // The file ends before the size the directory gives: the bytes that were
    // there are still the entry's (a complete stream may well end in them);
    // the next fetch ends the input.
    progress->leftToDeliver = total;
    progress->leftToRead = 0;
  }
  StreamDecrypt(stream, stream->buffer, total);
  stream->position = 0;
  return 1;
}

int StreamReadByte(EntryStream *stream) {
  if (stream->progress->leftToDeliver <= 0) return -1;
  if (stream->position < 0 || stream->position >= (int32_t)STREAM_BUF_SIZE) {
    if (!StreamFillBuffer(stream)) return -1;
  }
  int byte = stream->buffer[stream->position++];
  stream->progress->leftToDeliver--;
  return byte;
}

int StreamReadBlock(EntryStream *stream, unsigned char *destination, uint32_t size) {
  EntryProgress *progress = stream->progress;
  int64_t left = progress->leftToRead;
  if (left <= 0 || size == 0) return 0;
  uint32_t wanted = (int64_t)size < left ? size : (uint32_t)left;
  int ended = 0;
  uint32_t total = ReadPiece(stream, destination, wanted, &ended);
  if (ended) {
    progress->leftToDeliver = 0;
    return -1;
  }
  StreamDecrypt(stream, destination, total);
  return (int)total;
}

int StreamNextPiece(EntryStream *stream, const unsigned char **next, uint32_t *avail) {
  if (stream->progress->leftToDeliver <= 0) return 0;
  if (stream->position < 0 || stream->position >= (int32_t)STREAM_BUF_SIZE) {
    if (!StreamFillBuffer(stream)) return 0;
  }
  *avail = StreamTakeHeld(stream, next, UINT64_MAX);
  return *avail != 0;
}

void StreamGiveBack(EntryStream *stream, uint32_t count) {
  stream->position -= (int32_t)count;
  stream->progress->leftToDeliver += count;
}

int WindowFlush(EntrySink *sink, const unsigned char *data, uint32_t count) {
  ArchiveContext *archive = sink->archive;
  EntryProgress *progress = sink->progress;
  // Output beyond the size the directory declares is never written: a lying
  // size must not fill the disk before the CRC check could reject the entry.
  if (count > progress->uncompressedSize - sink->flushed) {
    if (archive->errorCode == 0) archive->errorCode = ERR_INVALID_DATA;
    return 0;
  }
  sink->flushed += count;
  progress->runningCrc = Crc32Update(progress->runningCrc, data, count);
  if (!archive->testOnly) {
    int32_t written = FileWrite(archive->outputHandle, data, count);
    if (written < 0 || (uint32_t)written != count) {
      if (archive->errorCode == 0) archive->errorCode = ERR_WRITE_FAILED;
    }
  }
  if (archive->errorCode != 0) return 0;
  progress->bytesProduced += count;
  progress->lastChunkSize = count;
  ReportProgress(archive, progress, sink->callbacks);
  return archive->errorCode == 0;
}

int StoredFlush(EntrySink *sink, const unsigned char *data, uint32_t count) {
  ArchiveContext *archive = sink->archive;
  EntryProgress *progress = sink->progress;
  sink->flushed += count;
  progress->runningCrc = Crc32Update(progress->runningCrc, data, count);
  progress->lastChunkSize = count;
  progress->bytesProduced += count;
  ReportProgress(archive, progress, sink->callbacks);
  if (!archive->testOnly && FileWrite(archive->outputHandle, data, count) != (int32_t)count) {
    if (archive->errorCode == 0) archive->errorCode = ERR_WRITE_FAILED;
  }
  return archive->errorCode == 0;
}

void DecodeOutcome(ArchiveContext *archive, uint32_t method, DecodeResult result) {
  if (archive->errorCode != 0 || method == METHOD_STORED) return;
  // LZMA's dictionary is the one allocation sized by the entry: not getting
  // it says nothing of the data.
  if (result == DECODE_NO_MEMORY && method == METHOD_LZMA)
    archive->errorCode = ERR_NO_MEMORY;
  else if (result == DECODE_BAD_DATA || result == DECODE_NO_MEMORY)
    archive->errorCode = ERR_INVALID_DATA;
}
