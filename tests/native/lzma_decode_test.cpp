// The LZMA decoder on byte arrays: data of several shapes encoded at test
// time by liblzma with several settings must decode to the same bytes, fed
// whole and a byte at a time, handing back what follows the stream; damaged
// variants and hand-built streams must fail as bad data.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "decoders/lzma.h"
#include "tool/deflate/lzma_compressor.h"

namespace {

typedef std::vector<unsigned char> Bytes;

struct Feed {
  const Bytes *input;
  size_t at = 0;
  size_t piece = 0;  // bytes per refill; 0 the whole input at once
  size_t flushLimit = ~(size_t)0;  // flush refuses once this much came out
  Bytes out;
  size_t largestFlush = 0;
};

int Refill(void *user, const unsigned char **next, uint32_t *avail) {
  Feed *f = (Feed *)user;
  if (f->at >= f->input->size()) return 0;
  size_t n = f->input->size() - f->at;
  if (f->piece && n > f->piece) n = f->piece;
  *next = f->input->data() + f->at;
  *avail = (uint32_t)n;
  f->at += n;
  return 1;
}

int Flush(void *user, const unsigned char *data, uint32_t count) {
  Feed *f = (Feed *)user;
  f->out.insert(f->out.end(), data, data + count);
  if (count > f->largestFlush) f->largestFlush = count;
  return f->out.size() <= f->flushLimit;
}

// Decodes input; *left receives the input bytes handed back.
DecodeResult Decode(Feed *f, uint64_t size, int endMarker, size_t *left = nullptr) {
  DecodeIo io = {nullptr, 0, Refill, Flush, f};
  DecodeResult r = LzmaDecode(&io, size, endMarker);
  if (left) *left = io.avail + (f->input->size() - f->at);
  return r;
}

uint32_t g_seed = 7;
unsigned Rand() {
  g_seed = g_seed * 1103515245u + 12345u;
  return g_seed >> 8;
}

Bytes Text(size_t n) {
  static const char *words[] = {"range ", "coder ", "literal\n", "match ", "distance ", "the ", "of ", "slot "};
  Bytes b;
  while (b.size() < n) {
    const char *w = words[Rand() % 8];
    b.insert(b.end(), w, w + strlen(w));
  }
  b.resize(n);
  return b;
}

Bytes Noise(size_t n) {
  Bytes b(n);
  for (auto &c : b) c = (unsigned char)Rand();
  return b;
}

// Machine-code-like: records of 4-byte little-endian fields, repeated with
// small changes at varied distances.
Bytes Records(size_t n) {
  Bytes b;
  while (b.size() < n) {
    if (b.size() > 5000 && Rand() % 3) {
      size_t from = b.size() - 1 - Rand() % 5000, len = 2 + Rand() % 300;
      for (size_t i = 0; i < len; i++) b.push_back(b[from + i]);
    } else {
      uint32_t v = Rand() % 4096;
      for (int i = 0; i < 4; i++) b.push_back((unsigned char)(v >> (8 * i)));
    }
  }
  b.resize(n);
  return b;
}

Bytes Encode(const Bytes &data, const LzmaCompressorOptions &o) {
  std::string s;
  EXPECT_TRUE(LzmaEncode(o, data.data(), data.size(), &s));
  return Bytes(s.begin(), s.end());
}

LzmaCompressorOptions Options(int level, bool marker, int lc = -1, int lp = -1, int pb = -1, uint32_t dict = 0) {
  LzmaCompressorOptions o;
  o.level = level;
  o.endMarker = marker;
  o.lc = lc;
  o.lp = lp;
  o.pb = pb;
  o.dictionary = dict;
  return o;
}

// A range encoder whose every bit has probability 1/2: enough for a hand-built
// stream whose models are each used once (a fresh model is at 1/2).
class HalfEncoder {
 public:
  void Bits(const char *bits) {
    for (; *bits; bits++) {
      if (*bits == ' ') continue;
      uint32_t bound = (range_ >> 11) * 1024;
      if (*bits == '1') {
        low_ += bound;
        range_ -= bound;
      } else {
        range_ = bound;
      }
      while (range_ < (1u << 24)) {
        range_ <<= 8;
        ShiftLow();
      }
    }
  }
  // Direct bits: the range halves, no model.
  void Direct(int count, int bit) {
    while (count--) {
      range_ >>= 1;
      if (bit) low_ += range_;
      while (range_ < (1u << 24)) {
        range_ <<= 8;
        ShiftLow();
      }
    }
  }
  // The 9-byte header (lc 3, lp 0, pb 2, 64 KiB dictionary) and the stream.
  Bytes Finish(unsigned char props = 93) {
    for (int i = 0; i < 5; i++) ShiftLow();
    Bytes b = {5, 4, 5, 0, props, 0, 0, 1, 0};
    for (unsigned char c : out_) b.push_back(c);
    return b;
  }

 private:
  void ShiftLow() {
    if ((uint32_t)low_ < 0xFF000000u || (low_ >> 32)) {
      unsigned char carry = (unsigned char)(low_ >> 32);
      unsigned char b = cache_;
      do {
        out_.push_back((unsigned char)(b + carry));
        b = 0xFF;
      } while (--pending_);
      cache_ = (unsigned char)(low_ >> 24);
    }
    pending_++;
    low_ = (low_ & 0x00FFFFFF) << 8;
  }
  uint64_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
  unsigned char cache_ = 0;
  uint64_t pending_ = 1;
  Bytes out_;
};

// Symbols as bits (each model used once): the literal 'a' at position 0,
// then per symbol the isMatch bit onwards.
const char *const kLiteralA = "0 01100001";
const char *const kMatchLen2Dist2 = "1 0 0 000 000001";  // match, isRep 0, length 2, slot 1: distance 2
const char *const kShortRep = "1 1 0 0";                 // rep, G0 0, rep0long 0: one byte from distance 1
const char *const kMarkerHead = "1 0 0 000 111111";      // slot 63, then 26 direct and 4 align bits

Bytes HandBuilt(std::initializer_list<const char *> symbols, bool marker) {
  HalfEncoder e;
  for (const char *s : symbols) e.Bits(s);
  if (marker) {
    e.Bits(kMarkerHead);
    e.Direct(26, 1);
    e.Bits("1111");
  }
  return e.Finish();
}

}  // namespace

TEST(LzmaDecode, MatchesTheEncoder) {
  if (!LzmaCompressorAvailable()) GTEST_SKIP() << "no LZMA encoder linked";
  struct Case {
    const char *name;
    Bytes data;
    LzmaCompressorOptions options;
  };
  const Case cases[] = {
      {"text, end marker", Text(200000), Options(6, true)},
      {"text, no marker", Text(200000), Options(6, false)},
      {"records at the strongest level", Records(300000), Options(12, false)},
      {"lc 0 lp 2 pb 2", Records(100000), Options(6, false, 0, 2, 2)},
      {"lc 4 lp 0 pb 0", Text(100000), Options(6, true, 4, 0, 0)},
      {"lc 0 lp 4 pb 4", Records(100000), Options(3, false, 0, 4, 4)},
      // The smallest dictionary wraps many times, with matches across the wrap.
      {"4 KiB dictionary wraps", Records(150000), Options(9, false, -1, -1, -1, 4096)},
      {"noise", Noise(70000), Options(6, true)},
      // Long runs: matches longer than the flush step's remainder.
      {"zeros past the flush step", Bytes(3 * LZMA_FLUSH_STEP + 123, 0), Options(1, false, -1, -1, -1, 65536)},
      {"one byte", Bytes(1, 'x'), Options(6, false)},
      {"empty, end marker", Bytes(), Options(6, true)},
      {"empty, no marker", Bytes(), Options(6, false)},
  };
  for (const Case &c : cases) {
    Bytes stream = Encode(c.data, c.options);
    stream.insert(stream.end(), {0xAA, 0xBB, 0xCC});  // what follows must be handed back
    for (size_t piece : {(size_t)0, (size_t)1}) {
      SCOPED_TRACE(std::string(c.name) + (piece ? ", a byte at a time" : ", whole"));
      Feed f;
      f.input = &stream;
      f.piece = piece;
      size_t left = 0;
      EXPECT_EQ(Decode(&f, c.data.size(), c.options.endMarker, &left), DECODE_END);
      EXPECT_TRUE(f.out == c.data);
      EXPECT_EQ(left, 3u);
      EXPECT_LE(f.largestFlush, LZMA_FLUSH_STEP);
    }
  }
}

TEST(LzmaDecode, DamagedStreamsAreBadData) {
  if (!LzmaCompressorAvailable()) GTEST_SKIP() << "no LZMA encoder linked";
  const Bytes data = Records(50000);
  const Bytes withMarker = Encode(data, Options(6, true));
  const Bytes without = Encode(data, Options(6, false));
  struct Case {
    const char *name;
    Bytes stream;
    uint64_t size;  // declared
    int endMarker;
  };
  auto edit = [](Bytes b, size_t at, unsigned char v) {
    b[at] = v;
    return b;
  };
  auto cut = [](Bytes b, size_t n) {
    b.resize(b.size() - n);
    return b;
  };
  const uint64_t n = data.size();
  const Case cases[] = {
      {"properties byte 225", edit(without, 4, 225), n, 0},
      {"properties size 4", edit(without, 2, 4), n, 0},
      {"first range byte not 0", edit(without, 9, 1), n, 0},
      {"header cut short", Bytes(without.begin(), without.begin() + 7), n, 0},
      {"last byte missing, no marker", cut(without, 1), n, 0},
      {"last byte missing, end marker", cut(withMarker, 1), n, 1},
      {"end marker before the declared size", withMarker, n + 1, 1},
      {"stream runs past the declared size, end marker", withMarker, n - 1, 1},
      {"stream runs past the declared size, no marker", without, n - 1, 0},
      {"declared size beyond the stream, no marker", without, n + 1, 0},
      {"end marker flagged but missing", without, n, 1},
      {"no range-coded bytes at all", Bytes(without.begin(), without.begin() + 9), n, 0},
      {"first symbol a repeat match", HandBuilt({kShortRep}, false), 1, 0},
      {"distance beyond the bytes decoded", HandBuilt({kLiteralA, kMatchLen2Dist2}, false), 3, 0},
      {"marker before the declared size, hand-built", HandBuilt({kLiteralA}, true), 2, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Feed f;
    f.input = &c.stream;
    EXPECT_EQ(Decode(&f, c.size, c.endMarker), DECODE_BAD_DATA);
  }
  // The hand-built streams are sound where they should be.
  struct Sound {
    Bytes stream;
    const char *out;
    int endMarker;
  };
  const Sound sound[] = {{HandBuilt({kLiteralA, kShortRep}, false), "aa", 0},
                         {HandBuilt({kLiteralA, kShortRep}, true), "aa", 1},
                         {HandBuilt({kLiteralA}, true), "a", 1}};
  for (const Sound &c : sound) {
    Feed f;
    f.input = &c.stream;
    EXPECT_EQ(Decode(&f, strlen(c.out), c.endMarker), DECODE_END);
    EXPECT_TRUE(f.out == Bytes(c.out, c.out + strlen(c.out)));
  }
  // A marker the flag does not announce is taken at the declared size.
  Feed f;
  f.input = &withMarker;
  EXPECT_EQ(Decode(&f, data.size(), 0), DECODE_END);
}

TEST(LzmaDecode, FlushRefusalStopsAndSmallEntriesCostLittle) {
  if (!LzmaCompressorAvailable()) GTEST_SKIP() << "no LZMA encoder linked";
  const Bytes data = Bytes(2 * LZMA_FLUSH_STEP, 'z');
  Bytes stream = Encode(data, Options(6, false));
  Feed f;
  f.input = &stream;
  f.flushLimit = 1;
  EXPECT_EQ(Decode(&f, data.size(), 0), DECODE_STOPPED);
  EXPECT_EQ(f.out.size(), (size_t)LZMA_FLUSH_STEP);

  // A 10 KB entry declaring a 4 GiB dictionary decodes in a few kilobytes
  // of dictionary: in a child whose address space is capped 256 MiB above
  // what it holds, the 4 GiB could not be had.
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's shadow memory defeats an address-space cap";
#else
  const Bytes small = Text(10000);
  Bytes big = Encode(small, Options(6, false));
  big[5] = big[6] = big[7] = big[8] = 0xFF;
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        long pages = 0;
        FILE *statm = fopen("/proc/self/statm", "r");
        if (!statm || fscanf(statm, "%ld", &pages) != 1) _exit(2);
        struct rlimit cap;
        cap.rlim_cur = cap.rlim_max = (rlim_t)pages * (rlim_t)sysconf(_SC_PAGESIZE) + (256u << 20);
        if (setrlimit(RLIMIT_AS, &cap) != 0) _exit(3);
        Feed g;
        g.input = &big;
        _exit(Decode(&g, small.size(), 0) == DECODE_END && g.out == small ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
#endif
}
