// libFuzzer target: arbitrary bytes as LZMA entry data. The first four bytes
// choose the entry: bit 0 of the first the end-marker flag, bits 1..3 the
// input piece size (1, 7, 64 bytes or whole), the next three the declared
// size (up to 16 MiB). The outcome must be the end at exactly the declared
// size or bad data, never a crash, a hang or a read outside the input.
#include <cstdint>
#include <cstdlib>

#include "decoders/lzma.h"

namespace {

struct Feed {
  const uint8_t *data;
  size_t size, at, piece;
  uint64_t out;
};

int Refill(void *user, const unsigned char **next, uint32_t *avail) {
  Feed *f = (Feed *)user;
  if (f->at >= f->size) return 0;
  size_t n = f->size - f->at;
  if (f->piece && n > f->piece) n = f->piece;
  *next = f->data + f->at;
  *avail = (uint32_t)n;
  f->at += n;
  return 1;
}

int Flush(void *user, const unsigned char *data, uint32_t count) {
  Feed *f = (Feed *)user;
  volatile unsigned char sink = 0;
  for (uint32_t i = 0; i < count; i += 4096) sink = sink ^ data[i];  // touch the bytes handed out
  if (count) sink = sink ^ data[count - 1];
  f->out += count;
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  static const size_t pieces[] = {0, 1, 7, 64, 0, 0, 0, 0};
  int endMarker = data[0] & 1;
  uint64_t declared = (uint64_t)data[1] | (uint64_t)data[2] << 8 | (uint64_t)data[3] << 16;
  Feed f = {data + 4, size - 4, 0, pieces[(data[0] >> 1) & 7], 0};
  DecodeIo io = {nullptr, 0, Refill, Flush, &f};
  DecodeResult r = LzmaDecode(&io, declared, endMarker);
  if (r != DECODE_END && r != DECODE_BAD_DATA) abort();
  if (f.out > declared || (r == DECODE_END && f.out != declared)) abort();
  if (io.avail > f.size) abort();
  return 0;
}
