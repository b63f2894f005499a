// The body of the decoder fuzz targets: arbitrary bytes as an entry's
// compressed data, handed to the decoder in the entry stream's pieces and
// flushed through the archive's window flush in test mode (nothing written). The outcome must be success or
// ERR_INVALID_DATA, never a crash, a hang or a read of unset memory.
#ifndef KV_FUZZ_INFLATE_BODY_H
#define KV_FUZZ_INFLATE_BODY_H

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "archive/entry_stream.h"
#include "archive/job_types.h"
#include "archive/zip_format.h"
#include "decoders/inflate.h"
#include "fileio/file_io.h"

struct FuzzInput {
  const uint8_t *data;
  size_t size;
  size_t handedOut;
  EntrySink sink;
};

// The input in pieces of the entry stream's size, as an entry would come.
static int FuzzRefill(void *user, const unsigned char **next, uint32_t *avail) {
  FuzzInput *in = (FuzzInput *)user;
  size_t left = in->size - in->handedOut;
  if (left == 0) return 0;
  *avail = left < STREAM_BUF_SIZE ? (uint32_t)left : STREAM_BUF_SIZE;
  *next = in->data + in->handedOut;
  in->handedOut += *avail;
  return 1;
}

static int FuzzFlush(void *user, const unsigned char *data, uint32_t count) {
  return WindowFlush(&((FuzzInput *)user)->sink, data, count);
}

static int FuzzInflate(const uint8_t *data, size_t size, int method) {
  static unsigned char window[WINDOW_SIZE];
  static ArchiveContext archive;
  static EntryProgress progress;
  static ExtractCallbacks callbacks;
  static InflateDecoder decoder;
  memset(&archive, 0, sizeof archive);
  memset(&progress, 0, sizeof progress);
  archive.testOnly = 1;
  archive.outputHandle = INVALID_FILE;
  InflateBind(&decoder, window);
  progress.runningCrc = 0xFFFFFFFF;
  progress.uncompressedSize = (uint64_t)1 << 26;  // output past it must stop the entry
  FuzzInput in = {data, size, 0, {&archive, &progress, &callbacks, 0}};
  DecodeIo io = {nullptr, 0, FuzzRefill, FuzzFlush, &in};
  DecodeResult result = InflateDecode(&decoder, &io, method);
  DecodeOutcome(&archive, method == 9 ? METHOD_DEFLATE64 : METHOD_DEFLATE, result);
  if (archive.errorCode != 0 && archive.errorCode != ERR_INVALID_DATA) abort();
  if (io.avail > in.handedOut || in.handedOut > size) abort();
  if (decoder.fixedLiteralTable || decoder.fixedDistanceTable) abort();
  return 0;
}

#endif
