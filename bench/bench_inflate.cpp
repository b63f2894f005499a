// Decoding speed side by side with zlib: the same raw Deflate streams (zlib
// level 1, 6 and 9 over 64 MB of mixed text, records, runs and noise) are
// decoded by our decoder in test mode (input through the entry stream from a
// file, CRC-32 of every window, nothing written) and by zlib's inflate from
// memory, with and without a CRC-32 over its output. A Deflate64 stream made
// by 7-Zip is timed too when 7zz is installed. Prints MB/s of output and the
// ratio to zlib; results are compared, never asserted by speed.
//
// Usage: bench_inflate [megabytes] [repeats]
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <ctime>
#include <vector>

#include "archive/entry_stream.h"
#include "archive/job_types.h"
#include "archive/zip_format.h"
#include "crypto/crc32.h"
#include "decoders/inflate.h"
#include "fileio/file_io.h"

namespace {

typedef std::vector<unsigned char> Bytes;

// Processor time of this process: steadier than the wall clock on a busy machine.
double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

// Deterministic mixed content: words, binary records, runs, noise.
Bytes MakeData(size_t size) {
  static const char *words[] = {"the ",     "archive ", "window ", "of ",      "entry ",  "stream ", "decoder ",
                                "returns ", "error ",   "code\n",  "while ",   "length ", "\t",       "= ",
                                "0x",       "for (",    "int ",    "i++) {\n", "}\n",     "buffer[", "] "};
  Bytes out;
  out.reserve(size);
  uint32_t seed = 12345;
  auto rnd = [&]() {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  while (out.size() < size) {
    uint32_t kind = rnd() % 10;
    size_t piece = 4096 + rnd() % 65536;
    size_t end = out.size() + piece;
    if (end > size) end = size;
    if (kind < 5) {
      while (out.size() < end) {
        const char *w = words[rnd() % (sizeof words / sizeof *words)];
        for (; *w && out.size() < end; w++) out.push_back((unsigned char)*w);
      }
    } else if (kind < 8) {
      uint32_t id = rnd();
      while (out.size() < end) {
        unsigned char rec[16];
        id += 1 + rnd() % 3;
        PutU32(rec, id);
        PutU32(rec + 4, rnd() % 1000);
        PutU32(rec + 8, 0x00010000 | (rnd() % 16));
        PutU32(rec + 12, 0);
        for (int k = 0; k < 16 && out.size() < end; k++) out.push_back(rec[k]);
      }
    } else if (kind == 8) {
      while (out.size() < end) {
        unsigned char b = (unsigned char)rnd();
        size_t run = 1 + rnd() % 200;
        for (size_t k = 0; k < run && out.size() < end; k++) out.push_back(b);
      }
    } else {
      while (out.size() < end) out.push_back((unsigned char)rnd());
    }
  }
  return out;
}

Bytes RawDeflate(const Bytes &in, int level) {
  z_stream z;
  memset(&z, 0, sizeof z);
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, in.size()) + 64);
  z.next_in = (Bytef *)in.data();
  z.avail_in = (uInt)in.size();
  z.next_out = out.data();
  z.avail_out = (uInt)out.size();
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

struct Outcome {
  double seconds;
  uint32_t crc;
  uint64_t size;
  int error;
};

// The entry's input and output as a test run hands them to the decoder.
struct BenchIo {
  EntryStream *stream;
  EntrySink sink;
};
int BenchRefill(void *user, const unsigned char **next, uint32_t *avail) {
  return StreamNextPiece(((BenchIo *)user)->stream, next, avail);
}
int BenchFlush(void *user, const unsigned char *data, uint32_t count) {
  return WindowFlush(&((BenchIo *)user)->sink, data, count);
}

// Our decoder, as a test run decodes an entry: input from the file at path.
Outcome DecodeOurs(const std::string &path, uint64_t offset, uint64_t packed, uint64_t size, int method) {
  static unsigned char window[WINDOW_SIZE];
  ArchiveContext archive;
  memset(&archive, 0, sizeof archive);
  archive.testOnly = 1;
  archive.outputHandle = INVALID_FILE;
  archive.volumeHandle = FileOpen(path.c_str(), "r");
  EntryProgress progress;
  memset(&progress, 0, sizeof progress);
  ExtractCallbacks callbacks;
  memset(&callbacks, 0, sizeof callbacks);
  EntryStream *stream = StreamCreate();
  StreamInit(stream, &archive, &progress, &callbacks, nullptr);
  InflateDecoder decoder;
  InflateBind(&decoder, window);
  BenchIo bio = {stream, {&archive, &progress, &callbacks, 0}};
  DecodeIo io = {nullptr, 0, BenchRefill, BenchFlush, &bio};
  FileSeek64(archive.volumeHandle, (int64_t)offset, FILE_BEGIN);
  progress.runningCrc = 0xFFFFFFFF;
  progress.uncompressedSize = size;
  progress.leftToDeliver = progress.leftToRead = (int64_t)packed;
  StreamReset(stream);
  double t0 = Now();
  DecodeResult result = InflateDecode(&decoder, &io, method);
  double t1 = Now();
  DecodeOutcome(&archive, method == 9 ? METHOD_DEFLATE64 : METHOD_DEFLATE, result);
  Outcome o = {t1 - t0, ~progress.runningCrc, progress.bytesProduced, archive.errorCode};
  StreamDestroy(stream);
  FileClose(archive.volumeHandle);
  return o;
}

Outcome DecodeZlib(const Bytes &packed, uint64_t size, bool withCrc) {
  static unsigned char out[1 << 16];
  z_stream z;
  memset(&z, 0, sizeof z);
  inflateInit2(&z, -15);
  z.next_in = (Bytef *)packed.data();
  z.avail_in = (uInt)packed.size();
  uLong crc = crc32(0, Z_NULL, 0);
  uint64_t total = 0;
  double t0 = Now();
  int r;
  do {
    z.next_out = out;
    z.avail_out = sizeof out;
    r = inflate(&z, Z_NO_FLUSH);
    uint32_t got = (uint32_t)(sizeof out - z.avail_out);
    if (withCrc) crc = crc32(crc, out, got);
    total += got;
  } while (r == Z_OK);
  double t1 = Now();
  inflateEnd(&z);
  (void)size;
  return {t1 - t0, (uint32_t)crc, total, r == Z_STREAM_END ? 0 : r};
}

bool WriteFile(const std::string &path, const Bytes &data) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
  return fclose(f) == 0 && ok;
}

Bytes ReadFileBytes(const std::string &path) {
  Bytes out;
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return out;
  unsigned char buf[1 << 16];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  fclose(f);
  return out;
}

double Best(double a, double b) { return a < b ? a : b; }

void Compare(const char *label, const std::string &path, const Bytes &packed, uint64_t offset, uint64_t size,
             uint32_t wantCrc, int method, int repeats, bool zlibToo) {
  double ours = 1e9, zl = 1e9, zlc = 1e9;
  bool same = true;
  for (int i = 0; i < repeats; i++) {
    Outcome o = DecodeOurs(path, offset, packed.size(), size, method);
    same = same && o.error == 0 && o.size == size && o.crc == wantCrc;
    ours = Best(ours, o.seconds);
    if (zlibToo) {
      Outcome z = DecodeZlib(packed, size, false);
      Outcome zc = DecodeZlib(packed, size, true);
      same = same && zc.crc == wantCrc && z.size == size;
      zl = Best(zl, z.seconds);
      zlc = Best(zlc, zc.seconds);
    }
  }
  double mb = (double)size / 1e6;
  printf("%-24s in %6.1f MB  ours %7.1f MB/s", label, packed.size() / 1e6, mb / ours);
  if (zlibToo)
    printf("  zlib %7.1f MB/s (+crc %7.1f)  ratio %.2fx (%.2fx vs zlib+crc)", mb / zl, mb / zlc, zl / ours, zlc / ours);
  printf("  %s\n", same ? "identical" : "MISMATCH");
}

}  // namespace

int main(int argc, char **argv) {
  size_t megabytes = argc > 1 ? (size_t)atoi(argv[1]) : 64;
  int repeats = argc > 2 ? atoi(argv[2]) : 3;
  Bytes data = MakeData(megabytes << 20);
  uint32_t crc = ~Crc32Update(0xFFFFFFFF, data.data(), data.size());
  std::string dir = "/tmp/kv_bench_inflate";
  std::string mkdir = "mkdir -p " + dir;
  if (system(mkdir.c_str()) != 0) return 1;

  // The checksum alone, which every window flush pays.
  {
    double ours = 1e9, zl = 1e9;
    uint32_t a = 0, b = 0;
    for (int i = 0; i < repeats; i++) {
      double t0 = Now();
      a = ~Crc32Update(0xFFFFFFFF, data.data(), data.size());
      double t1 = Now();
      b = (uint32_t)crc32(crc32(0, Z_NULL, 0), data.data(), (uInt)data.size());
      double t2 = Now();
      ours = Best(ours, t1 - t0);
      zl = Best(zl, t2 - t1);
    }
    double mb = (double)data.size() / 1e6;
    printf("%-24s Crc32Update %7.1f MB/s  zlib crc32 %7.1f MB/s  %s\n", "CRC-32 only", mb / ours, mb / zl,
           a == b ? "identical" : "MISMATCH");
  }
  for (int level : {1, 6, 9}) {
    Bytes packed = RawDeflate(data, level);
    std::string path = dir + "/deflate" + std::to_string(level) + ".bin";
    if (!WriteFile(path, packed)) return 1;
    std::string label = "zlib level " + std::to_string(level);
    Compare(label.c_str(), path, packed, 0, data.size(), crc, 8, repeats, true);
  }

  // Deflate64 through 7-Zip: the entry's data behind its local header.
  std::string raw = dir + "/data.bin", zip = dir + "/d64.zip";
  if (WriteFile(raw, data)) {
    std::string cmd = "rm -f " + zip + " && cd " + dir + " && 7zz a -tzip -mm=Deflate64 -mx=5 d64.zip data.bin >/dev/null 2>&1";
    if (system(cmd.c_str()) == 0) {
      Bytes z = ReadFileBytes(zip);
      if (z.size() > 30 && GetU32(z.data()) == 0x04034b50 && GetU16(z.data() + 8) == 9) {
        uint64_t packedSize = GetU32(z.data() + 18);
        uint64_t offset = 30 + GetU16(z.data() + 26) + GetU16(z.data() + 28);
        Bytes packed(z.begin() + (long)offset, z.begin() + (long)(offset + packedSize));
        Compare("7-Zip Deflate64", zip, packed, offset, data.size(), crc, 9, repeats, false);
      }
    } else {
      printf("7zz not available: Deflate64 skipped\n");
    }
  }
  return 0;
}
