// The body of the decoder fuzz targets: arbitrary bytes as an entry's
// compressed data, read through the real entry stream from a file and
// decoded in test mode (nothing written). The outcome must be success or
// ERR_INVALID_DATA, never a crash, a hang or a read of unset memory.
#ifndef KV_FUZZ_INFLATE_BODY_H
#define KV_FUZZ_INFLATE_BODY_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "archive/job_types.h"
#include "fileio/file_io.h"
#include "archive/entry_stream.h"
#include "decoders/inflate.h"

static int FuzzInflate(const uint8_t *data, size_t size, int method) {
  static char path[64];
  if (!path[0]) snprintf(path, sizeof path, "/tmp/kv_fuzz_inflate_%d.bin", (int)getpid());
  FileHandle out = FileOpen(path, "w");
  if (out == INVALID_FILE) abort();
  if (size && FileWrite(out, data, (uint32_t)size) != (int32_t)size) abort();
  FileClose(out);

  static unsigned char window[WINDOW_SIZE];
  static ArchiveContext archive;
  static EntryProgress progress;
  static ExtractCallbacks callbacks;
  static InflateDecoder decoder;
  memset(&archive, 0, sizeof archive);
  memset(&progress, 0, sizeof progress);
  archive.testOnly = 1;
  archive.outputHandle = INVALID_FILE;
  archive.volumeHandle = FileOpen(path, "r");
  EntryStream *stream = StreamCreate();
  if (!stream || !StreamInit(stream, &archive, &progress, &callbacks, nullptr)) abort();
  InflateBind(&decoder, stream, window, nullptr, &archive, &progress, &callbacks, nullptr);
  progress.runningCrc = 0xFFFFFFFF;
  progress.uncompressedSize = (uint64_t)1 << 26;  // output past it must stop the entry
  progress.leftToDeliver = progress.leftToRead = (int64_t)size;
  StreamReset(stream);
  InflateEntry(&decoder, method);
  if (archive.errorCode != 0 && archive.errorCode != ERR_INVALID_DATA) abort();
  if (progress.leftToDeliver < 0 || progress.leftToDeliver > (int64_t)size) abort();
  if (decoder.fixedLiteralTable || decoder.fixedDistanceTable) abort();
  StreamDestroy(stream);
  FileClose(archive.volumeHandle);
  return 0;
}

#endif
