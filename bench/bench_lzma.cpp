// LZMA decoding speed: every method-14 entry of a ZIP file (read whole into
// memory, local headers walked in order) is decoded with a CRC-32 of its
// output, as `kvsfx test` and `7zz t` do, and checked against the header's
// CRC. Prints MB/s of output; compare with `7zz t -mmt=1` on the same file.
//
// Usage: bench_lzma ARCHIVE.zip [repeats]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "decoders/lzma.h"
#include "crypto/crc32.h"

namespace {

double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

uint32_t Get16(const unsigned char *p) { return p[0] | p[1] << 8; }
uint32_t Get32(const unsigned char *p) { return Get16(p) | Get16(p + 2) << 16; }

struct Source {
  const unsigned char *data;
  uint32_t size;
  int given;
  uint32_t crc;
};

int Refill(void *user, const unsigned char **next, uint32_t *avail) {
  Source *s = (Source *)user;
  if (s->given) return 0;
  s->given = 1;
  *next = s->data;
  *avail = s->size;
  return 1;
}

int Flush(void *user, const unsigned char *data, uint32_t count) {
  Source *s = (Source *)user;
  s->crc = Crc32Update(s->crc, data, count);
  return 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: bench_lzma ARCHIVE.zip [repeats]\n");
    return 2;
  }
  int repeats = argc > 2 ? atoi(argv[2]) : 3;
  FILE *f = fopen(argv[1], "rb");
  if (!f) return 2;
  std::vector<unsigned char> zip;
  unsigned char buf[1 << 16];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) zip.insert(zip.end(), buf, buf + n);
  fclose(f);
  double best = 1e9;
  uint64_t bytes = 0;
  for (int r = 0; r < repeats; r++) {
    double start = Now();
    bytes = 0;
    size_t at = 0;
    while (at + 30 <= zip.size() && Get32(&zip[at]) == 0x04034b50) {
      const unsigned char *h = &zip[at];
      uint32_t flags = Get16(h + 6), method = Get16(h + 8), crc = Get32(h + 14);
      uint32_t packed = Get32(h + 18), size = Get32(h + 22);
      size_t body = at + 30 + Get16(h + 26) + Get16(h + 28);
      if ((flags & 8) || body + packed > zip.size()) {
        fprintf(stderr, "bench_lzma: needs sizes in the local headers\n");
        return 2;
      }
      if (method == 14) {
        Source s = {&zip[body], packed, 0, 0xFFFFFFFFu};
        DecodeIo io = {nullptr, 0, Refill, Flush, &s};
        DecodeResult result = LzmaDecode(&io, size, (flags & 2) != 0);
        if (result != DECODE_END || ~s.crc != crc) {
          fprintf(stderr, "bench_lzma: entry at %zu: result %d, CRC %s\n", at, (int)result,
                  ~s.crc == crc ? "right" : "wrong");
          return 1;
        }
        bytes += size;
      }
      at = body + packed;
    }
    double t = Now() - start;
    if (t < best) best = t;
  }
  printf("lzma decode: %.1f MB in %.3f s, %.1f MB/s\n", bytes / 1e6, best, bytes / 1e6 / best);
  return 0;
}
