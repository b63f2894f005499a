// Differential decoding against reference compressors: data of many shapes
// compressed by zlib (raw Deflate) at every level and strategy, and by 7-Zip
// with Deflate and Deflate64, must decode to the same bytes with the same
// CRC-32 and leave bytes behind the stream unread; corrupt variants that zlib
// still accepts must decode to what zlib gives; every cut-off stream fails.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "unit/inflate_test_harness.h"

#if defined(KV_HAVE_ZLIB)
#include <zlib.h>
#endif

using namespace inflate_test;

namespace {

struct Shape {
  const char *name;
  Bytes data;
};

uint32_t g_seed = 1;
uint32_t Rand() {
  g_seed = g_seed * 1103515245u + 12345u;
  return g_seed >> 8;
}

std::vector<Shape> Shapes() {
  std::vector<Shape> s;
  s.push_back({"empty", Bytes()});
  s.push_back({"one byte", Bytes(1, 'k')});
  Bytes text;
  static const char *words[] = {"alpha ", "beta ", "gamma\n", "delta ", "epsilon ", "the ", "of ", "window "};
  while (text.size() < 200000) {
    const char *w = words[Rand() % 8];
    text.insert(text.end(), w, w + strlen(w));
  }
  s.push_back({"text", text});
  Bytes binary(150000);
  for (size_t i = 0; i < binary.size(); i += 4) PutU32(&binary[i], (uint32_t)(i / 4 * 3 + (Rand() % 4)));
  s.push_back({"records", binary});
  Bytes runs;
  while (runs.size() < 300000) runs.insert(runs.end(), 1 + Rand() % 700, (unsigned char)(Rand() % 3));
  s.push_back({"runs", runs});
  Bytes noise(100000);
  for (auto &b : noise) b = (unsigned char)Rand();
  s.push_back({"random", noise});
  Bytes window(65536);
  for (size_t i = 0; i < window.size(); i++) window[i] = (unsigned char)(i % 251 < 200 ? 'a' + i % 7 : Rand());
  s.push_back({"exactly 65,536", window});
  Bytes zeros(70000, 0);
  s.push_back({"zeros", zeros});
  Bytes big;
  while (big.size() < (3u << 20)) {
    size_t n = 1000 + Rand() % 30000;
    int kind = (int)(Rand() % 3);
    if (kind == 0)
      big.insert(big.end(), text.begin() + (long)(Rand() % 100000), text.begin() + (long)(Rand() % 100000 + 100000));
    else if (kind == 1)
      for (size_t i = 0; i < n; i++) big.push_back((unsigned char)Rand());
    else
      big.insert(big.end(), n, (unsigned char)Rand());
  }
  s.push_back({"several megabytes", big});
  return s;
}

}  // namespace

#if defined(KV_HAVE_ZLIB)

namespace {

Bytes RawDeflate(const Bytes &in, int level, int strategy, int memLevel) {
  z_stream z;
  memset(&z, 0, sizeof z);
  EXPECT_EQ(Z_OK, deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, strategy));
  Bytes out(deflateBound(&z, in.size()) + 64);
  z.next_in = (Bytef *)(in.empty() ? (const unsigned char *)"" : in.data());
  z.avail_in = (uInt)in.size();
  z.next_out = out.data();
  z.avail_out = (uInt)out.size();
  EXPECT_EQ(Z_STREAM_END, deflate(&z, Z_FINISH));
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// zlib's verdict on a raw stream: true with its output when it ends cleanly
// and uses all of the input.
bool ZlibInflate(const Bytes &in, Bytes *out) {
  z_stream z;
  memset(&z, 0, sizeof z);
  if (inflateInit2(&z, -15) != Z_OK) return false;
  z.next_in = (Bytef *)(in.empty() ? (const unsigned char *)"" : in.data());
  z.avail_in = (uInt)in.size();
  unsigned char buf[1 << 15];
  int r;
  out->clear();
  do {
    z.next_out = buf;
    z.avail_out = sizeof buf;
    r = inflate(&z, Z_NO_FLUSH);
    out->insert(out->end(), buf, buf + (sizeof buf - z.avail_out));
  } while (r == Z_OK && out->size() < (64u << 20));
  bool ok = r == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return ok;
}

}  // namespace

TEST(InflateReference, ZlibEveryLevelAndStrategy) {
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  for (const Shape &shape : Shapes()) {
    bool big = shape.data.size() > 1000000;
    for (int level = 0; level <= 9; level++) {
      if (big && level % 3 != 0) continue;
      for (int strategy : strategies) {
        if (big && strategy != Z_DEFAULT_STRATEGY && strategy != Z_FIXED) continue;
        for (int memLevel : {1, 8}) {
          if (memLevel == 1 && (big || level % 2)) continue;
          SCOPED_TRACE(std::string(shape.name) + " level " + std::to_string(level) + " strategy " +
                       std::to_string(strategy) + " memLevel " + std::to_string(memLevel));
          Bytes packed = RawDeflate(shape.data, level, strategy, memLevel);
          DecodeOptions opt;
          opt.trailing = (size_t)(level % 4) * 3;  // junk behind the stream stays unread
          Decoded r = DecodeEntry(packed, opt);
          ASSERT_EQ(0, r.error);
          ASSERT_EQ(shape.data.size(), r.output.size());
          ASSERT_TRUE(shape.data == r.output);
          EXPECT_EQ(Crc(shape.data), r.crc);
          EXPECT_EQ((int64_t)opt.trailing, r.leftToDeliver);
        }
      }
    }
  }
}

TEST(InflateReference, CorruptVariantsAgreeWithZlib) {
  // Where zlib still accepts a damaged stream, the output must be the same;
  // nothing may crash or hang either way. (Where zlib refuses, this decoder
  // may accept: it takes distance codes 30 and 31, distances before the
  // first byte and a leading repeat of 0 code lengths, as its format allows.)
  std::vector<Shape> shapes = Shapes();
  g_seed = 77;
  int agreed = 0;
  for (size_t si = 2; si < shapes.size() - 1; si++) {
    for (int level : {1, 6, 9}) {
      Bytes packed = RawDeflate(shapes[si].data, level, level == 1 ? Z_FIXED : Z_DEFAULT_STRATEGY, 8);
      for (int trial = 0; trial < 12; trial++) {
        Bytes bad = packed;
        size_t at = Rand() % (bad.size() < 400 ? bad.size() : 400);  // headers and early data
        if (trial % 3 == 2) at = Rand() % bad.size();
        bad[at] ^= (unsigned char)(1u << (Rand() % 8));
        Bytes want;
        bool zlibOk = ZlibInflate(bad, &want);
        DecodeOptions opt;
        opt.testOnly = zlibOk ? 0 : 1;
        Decoded r = DecodeEntry(bad, opt);
        if (zlibOk) {
          SCOPED_TRACE(std::string(shapes[si].name) + " flip at " + std::to_string(at));
          EXPECT_EQ(0, r.error);
          EXPECT_TRUE(want == r.output);
          agreed++;
        } else {
          EXPECT_TRUE(r.error == 0 || r.error == ERR_INVALID_DATA) << r.error;
        }
      }
    }
  }
  RecordProperty("accepted_by_both", agreed);
}

TEST(InflateReference, CutOffStreamsFail) {
  std::vector<Shape> shapes = Shapes();
  g_seed = 5;
  for (size_t si = 1; si < shapes.size() - 1; si++) {
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
      Bytes packed = RawDeflate(shapes[si].data, 6, strategy, 8);
      for (int trial = 0; trial < 6; trial++) {
        size_t cut = trial == 0 ? packed.size() - 1 : Rand() % packed.size();
        Bytes prefix(packed.begin(), packed.begin() + (long)cut);
        DecodeOptions opt;
        opt.testOnly = 1;
        Decoded r = DecodeEntry(prefix, opt);
        EXPECT_EQ(ERR_INVALID_DATA, r.error) << shapes[si].name << " cut at " << cut << " of " << packed.size();
      }
    }
  }
}

#endif  // KV_HAVE_ZLIB

namespace {

// The first entry of a ZIP written by 7-Zip: method and compressed data
// behind its local header.
bool FirstEntry(const Bytes &zip, int *method, Bytes *packed) {
  if (zip.size() < 30 || GetU32(zip.data()) != 0x04034b50) return false;
  *method = GetU16(zip.data() + 8);
  uint32_t size = GetU32(zip.data() + 18);
  size_t offset = 30u + GetU16(zip.data() + 26) + GetU16(zip.data() + 28);
  if (offset + size > zip.size()) return false;
  packed->assign(zip.begin() + (long)offset, zip.begin() + (long)(offset + size));
  return true;
}

bool Have7zz() { return system("7zz i >/dev/null 2>&1") == 0; }

}  // namespace

TEST(InflateReference, SevenZipDeflateAndDeflate64) {
  if (!Have7zz()) GTEST_SKIP() << "7zz not installed";
  TempFolder folder;
  ASSERT_TRUE(folder.Ok());
  std::string dir = folder.Path("");
  for (char &c : dir)
    if (c == '\\') c = '/';
  std::vector<Shape> shapes = Shapes();
  for (const Shape &shape : shapes) {
    if (shape.data.empty()) continue;  // 7-Zip stores empty files
    ASSERT_TRUE(WriteWholeFile(folder.Path("data.bin"), shape.data));
    for (const char *method : {"Deflate", "Deflate64"}) {
      for (int mx : {1, 5, 9}) {
        SCOPED_TRACE(std::string(shape.name) + " " + method + " -mx=" + std::to_string(mx));
        std::string cmd = "cd '" + dir + "' && rm -f a.zip && 7zz a -tzip -mm=" + method + " -mx=" +
                          std::to_string(mx) + " a.zip data.bin >/dev/null 2>&1";
        ASSERT_EQ(0, system(cmd.c_str()));
        int m = 0;
        Bytes packed;
        ASSERT_TRUE(FirstEntry(ReadWholeFile(folder.Path("a.zip")), &m, &packed));
        if (m == 0) continue;  // stored: incompressible data
        EXPECT_EQ(std::string(method) == "Deflate64" ? 9 : 8, m);
        DecodeOptions opt;
        opt.method = m;
        opt.testOnly = 1;
        Decoded r = DecodeEntry(packed, opt);
        EXPECT_EQ(0, r.error);
        EXPECT_EQ(shape.data.size(), r.produced);
        EXPECT_EQ(Crc(shape.data), r.crc);
        EXPECT_EQ(0, r.leftToDeliver);
      }
    }
  }
}
