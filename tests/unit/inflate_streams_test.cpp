// Hand-built Deflate and Deflate64 streams, field by field, through the real
// entry stream and window: the cases where the two methods and the table
// builder's rules matter, corrupt and truncated input, flushes and cancel.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "inflate_test_harness.h"

using namespace inflate_test;

namespace {

Bytes Pattern(size_t n, unsigned mul = 7) {
  Bytes b(n);
  for (size_t i = 0; i < n; i++) b[i] = (unsigned char)((i * mul + i / 251) % 253);
  return b;
}

// Expected output of a match over what was produced so far (byte by byte).
void Match(Bytes &out, size_t distance, size_t length) {
  for (size_t i = 0; i < length; i++) out.push_back(out[out.size() - distance]);
}

// One fixed-code block holding a length symbol with its extra bits and a
// distance code with its extra bits, then end of block.
void FixedMatch(BitWriter &w, unsigned lengthSymbol, uint32_t lengthExtra, int lengthExtraBits, unsigned distCode,
                uint32_t distExtra, int distExtraBits) {
  w.FixedSymbol(lengthSymbol);
  w.Bits(lengthExtra, lengthExtraBits);
  w.FixedDistance(distCode);
  w.Bits(distExtra, distExtraBits);
}

// Literal/length lengths over 286 symbols where only the listed ones are used.
std::vector<int> Lengths(size_t n, std::vector<std::pair<int, int>> used) {
  std::vector<int> l(n, 0);
  for (auto &u : used) l[(size_t)u.first] = u.second;
  return l;
}

// Two stored blocks of 70,000 bytes in all: more than a window of history
// for the far matches that follow. Returns the bytes they hold.
Bytes StoredHistory(BitWriter &w) {
  Bytes a = Pattern(40000), b = Pattern(30000, 11);
  w.Stored(0, a);
  w.Stored(0, b);
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct StreamCase {
  const char *name;
  int method;
  std::function<Bytes(Bytes &expected)> build;  // fills expected; returns the stream
  int32_t error;                                // 0 or the code the entry must end with
};

}  // namespace

TEST(InflateStreams, HandBuilt) {
  const StreamCase cases[] = {
      {"stored LEN 0 with NLEN 0xFFFF is empty", 8,
       [](Bytes &) {
         BitWriter w;
         w.Stored(1, Bytes());
         return w.Finish();
       },
       0},
      {"stored NLEN not the complement of LEN", 8,
       [](Bytes &) {
         BitWriter w;
         w.Stored(1, Pattern(10), 0x0100);
         return w.Finish();
       },
       ERR_INVALID_DATA},
      {"stored after a fixed block starts at the next byte", 8,
       [](Bytes &e) {
         BitWriter w;
         w.Header(0, 1);
         w.FixedSymbol('a');
         w.FixedSymbol(256);
         Bytes s = Pattern(40000);  // longer than one input piece
         w.Stored(1, s);
         e.push_back('a');
         e.insert(e.end(), s.begin(), s.end());
         return w.Finish();
       },
       0},
      {"fixed block with only the end code", 8,
       [](Bytes &) {
         BitWriter w;
         w.Header(1, 1);
         w.FixedSymbol(256);
         return w.Finish();
       },
       0},
      {"block type 3", 8,
       [](Bytes &) {
         BitWriter w;
         w.Header(1, 3);
         w.Bits(0, 16);
         return w.Finish();
       },
       ERR_INVALID_DATA},
      {"distance code 30 in method 8 is 32,769 and more", 8,
       [](Bytes &e) {
         BitWriter w;
         e = Pattern(50000);
         w.Stored(0, e);
         w.Header(1, 1);
         FixedMatch(w, 257, 0, 0, 30, 5, 14);  // length 3, distance 32,774
         w.FixedSymbol(256);
         Match(e, 32774, 3);
         return w.Finish();
       },
       0},
      {"distance code 31 with all extra bits is 65,536 (method 8)", 8,
       [](Bytes &e) {
         BitWriter w;
         e = StoredHistory(w);
         w.Header(1, 1);
         FixedMatch(w, 265, 1, 1, 31, 16383, 14);  // length 12, distance 65,536
         w.FixedSymbol(256);
         Match(e, 65536, 12);
         return w.Finish();
       },
       0},
      {"a dynamic block with code 31 (65,536 back) after a short match (method 8)", 8,
       [](Bytes &e) {
         // Blocks that declare codes 30 and 31 take the careful copies: a
         // match's word copy must not touch what the far match reads next.
         BitWriter w;
         e = StoredHistory(w);
         DynamicCodes c = DynamicHeader(w, 1, Lengths(266, {{'a', 2}, {256, 2}, {257, 2}, {265, 2}}),
                                        Lengths(32, {{8, 1}, {31, 1}}));
         w.Code(c.literal[257], 2);  // length 3, distance 17
         w.Code(c.distance[8], 1);
         w.Bits(0, 3);
         Match(e, 17, 3);
         w.Code(c.literal[265], 2);  // length 12, distance 65,536
         w.Bits(1, 1);
         w.Code(c.distance[31], 1);
         w.Bits(16383, 14);
         Match(e, 65536, 12);
         for (int i = 0; i < 80; i++) w.Code(c.literal['a'], 2);  // input for the fast loop to run on
         e.insert(e.end(), 80, 'a');
         w.Code(c.literal[256], 2);
         return w.Finish();
       },
       0},
      {"distance 65,536 in method 9", 9,
       [](Bytes &e) {
         BitWriter w;
         e = StoredHistory(w);
         w.Header(1, 1);
         FixedMatch(w, 284, 31, 5, 31, 16383, 14);  // length 258, distance 65,536
         w.FixedSymbol(256);
         Match(e, 65536, 258);
         return w.Finish();
       },
       0},
      {"method 9 symbol 285 with 16 extra bits of ones: 65,538 bytes across a flush", 9,
       [](Bytes &e) {
         BitWriter w;
         w.Header(1, 1);
         w.FixedSymbol('A');
         FixedMatch(w, 285, 0xFFFF, 16, 0, 0, 0);
         w.FixedSymbol('z');
         w.FixedSymbol(256);
         e.push_back('A');
         Match(e, 1, 65538);
         e.push_back('z');
         return w.Finish();
       },
       0},
      {"method 9 symbol 285 with extra bits 0 is length 3", 9,
       [](Bytes &e) {
         BitWriter w;
         w.Header(1, 1);
         w.FixedSymbol('x');
         w.FixedSymbol('y');
         FixedMatch(w, 285, 0, 16, 0, 0, 0);
         w.FixedSymbol(256);
         e = Bytes{'x', 'y'};
         Match(e, 1, 3);
         return w.Finish();
       },
       0},
      {"method 8 symbol 285 is 258 without extra bits", 8,
       [](Bytes &e) {
         BitWriter w;
         w.Header(1, 1);
         w.FixedSymbol('x');
         FixedMatch(w, 285, 0, 0, 0, 0, 0);
         w.FixedSymbol(256);
         e = Bytes{'x'};
         Match(e, 1, 258);
         return w.Finish();
       },
       0},
      {"fixed symbol 286 is invalid (method 8)", 8,
       [](Bytes &) {
         BitWriter w;
         w.Header(1, 1);
         w.FixedSymbol('x');
         w.FixedSymbol(286);
         w.Bits(0, 16);
         return w.Finish();
       },
       ERR_INVALID_DATA},
      {"fixed symbol 287 is invalid (method 9)", 9,
       [](Bytes &) {
         BitWriter w;
         w.Header(1, 1);
         w.FixedSymbol(287);
         w.Bits(0, 16);
         return w.Finish();
       },
       ERR_INVALID_DATA},
      {"match over a wrapped source and its own output across flushes", 8,
       [](Bytes &e) {
         BitWriter w;
         e = Pattern(65530);
         w.Stored(0, e);
         w.Header(1, 1);
         for (int i = 0; i < 300; i++) FixedMatch(w, 284, 31, 5, 0, 0, 0);  // distance 1, length 258
         FixedMatch(w, 284, 31, 5, 29, 8191, 13);  // distance 32,768
         w.FixedSymbol(256);
         for (int i = 0; i < 300; i++) Match(e, 1, 258);
         Match(e, 32768, 258);
         return w.Finish();
       },
       0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Bytes expected;
    Bytes packed = c.build(expected);
    DecodeOptions opt;
    opt.method = c.method;
    Decoded r = DecodeEntry(packed, opt);
    EXPECT_EQ(c.error, r.error);
    if (c.error == 0) {
      EXPECT_EQ(expected.size(), r.output.size());
      EXPECT_TRUE(expected == r.output);
      EXPECT_EQ(Crc(expected), r.crc);
      EXPECT_EQ(expected.size(), r.produced);
      EXPECT_EQ(0, r.leftToDeliver) << "the whole stream is used";
    }
  }
}

TEST(InflateStreams, DynamicHeaders) {
  // A complete literal/length code of four symbols: 'a', 'b', end, 257 (length 3).
  const std::vector<int> four = Lengths(258, {{'a', 2}, {'b', 2}, {256, 2}, {257, 2}});
  const std::vector<int> dist32(32, 5);
  struct Case {
    const char *name;
    std::vector<int> literal, distance;
    int hlitField;  // -1: from the literal count
    bool useMatch;  // data: a, b, then a match of 3 at distance 2 (code 1) or 1 (code 0)
    int matchDistCode;
    int32_t error;
  } cases[] = {
      {"HDIST 32 (all 32 distance codes) is accepted", four, dist32, -1, true, 1, 0},
      {"a single distance code of length 1 is accepted", four, Lengths(1, {{0, 1}}), -1, true, 0, 0},
      {"HLIT 287 is rejected", Lengths(287, {{'a', 2}, {'b', 2}, {256, 2}, {257, 2}}), dist32, 30, false, 0,
       ERR_INVALID_DATA},
      {"HLIT 288 is rejected", Lengths(288, {{'a', 2}, {'b', 2}, {256, 2}, {257, 2}}), dist32, 31, false, 0,
       ERR_INVALID_DATA},
      {"an incomplete literal/length code is rejected", Lengths(258, {{'a', 2}, {'b', 2}, {256, 2}}), dist32, -1,
       false, 0, ERR_INVALID_DATA},
      {"an over-subscribed literal/length code is rejected",
       Lengths(258, {{'a', 1}, {'b', 2}, {256, 2}, {257, 2}}), dist32, -1, false, 0, ERR_INVALID_DATA},
      {"an incomplete distance code (one code of length 2) is rejected", four, Lengths(1, {{0, 2}}), -1, false, 0,
       ERR_INVALID_DATA},
      {"no distance code, literals only, is valid", Lengths(257, {{'a', 1}, {256, 1}}), Lengths(1, {}), -1, false, 0,
       0},
      {"no distance code but a length symbol is invalid", four, Lengths(1, {}), -1, true, 0, ERR_INVALID_DATA},
      {"no literal/length code at all is invalid", Lengths(257, {}), dist32, -1, false, 0, ERR_INVALID_DATA},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    for (int method : {8, 9}) {
      BitWriter w;
      DynamicCodes codes = DynamicHeader(w, 1, c.literal, c.distance, c.hlitField);
      Bytes expected;
      auto lit = [&](unsigned sym) {
        if (sym < codes.literal.size() && codes.literalLengths[sym])
          w.Code(codes.literal[sym], codes.literalLengths[sym]);
      };
      lit('a');
      if (codes.literalLengths.size() > 'b' && codes.literalLengths['b']) {
        lit('b');
        expected = Bytes{'a', 'b'};
      } else {
        expected = Bytes{'a'};
      }
      if (c.useMatch) {
        lit(257);
        unsigned dc = (unsigned)c.matchDistCode;
        if (dc < codes.distanceLengths.size() && codes.distanceLengths[dc])
          w.Code(codes.distance[dc], codes.distanceLengths[dc]);
        else
          w.Bits(0, 8);
        Match(expected, dc + 1, 3);
      }
      lit(256);
      w.Bits(0, 16);  // room for lookups that run ahead of the input
      Bytes packed = w.Finish();
      DecodeOptions opt;
      opt.method = method;
      Decoded r = DecodeEntry(packed, opt);
      EXPECT_EQ(c.error, r.error) << "method " << method;
      if (c.error == 0) {
        EXPECT_TRUE(expected == r.output) << "method " << method;
        EXPECT_EQ(2, r.leftToDeliver) << "the two padding bytes stay unread";
      }
    }
  }
}

TEST(InflateStreams, CodeLengthCodeFaults) {
  struct Case {
    const char *name;
    std::function<void(BitWriter &)> header;
  } cases[] = {
      {"all code-length code lengths 0",
       [](BitWriter &w) {
         w.Header(1, 2);
         w.Bits(0, 5);
         w.Bits(0, 5);
         w.Bits(0, 4);
         w.Bits(0, 12);
       }},
      {"a repeat of 0 runs past the end of the lengths",
       [](BitWriter &w) {
         w.Header(1, 2);
         w.Bits(0, 5);   // 257
         w.Bits(0, 5);   // 1
         w.Bits(15, 4);  // 19 lengths: 17 and 18 get length 1
         static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
         for (int i = 0; i < 19; i++) w.Bits(order[i] == 17 || order[i] == 18 ? 1 : 0, 3);
         // symbol 17 is code 0, 18 is code 1: three times 138 zeros = 414 > 258
         for (int i = 0; i < 3; i++) {
           w.Code(1, 1);
           w.Bits(127, 7);
         }
       }},
      {"a code-length code that is incomplete",
       [](BitWriter &w) {
         w.Header(1, 2);
         w.Bits(0, 5);
         w.Bits(0, 5);
         w.Bits(0, 4);  // 4 lengths: 16, 17, 18, 0
         w.Bits(2, 3);
         w.Bits(2, 3);
         w.Bits(2, 3);
         w.Bits(0, 3);
       }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    BitWriter w;
    c.header(w);
    w.Bits(0, 32);
    Decoded r = DecodeEntry(w.Finish());
    EXPECT_EQ(ERR_INVALID_DATA, r.error);
  }
}

TEST(InflateStreams, FlushesAndProgress) {
  // Exactly 65,536 bytes: one full flush during decoding, then a final flush of 0.
  {
    BitWriter w;
    w.Stored(0, Pattern(65535));
    w.Stored(1, Bytes(1, 9));
    Decoded r = DecodeEntry(w.Finish());
    EXPECT_EQ(0, r.error);
    EXPECT_EQ((std::vector<uint32_t>{65536, 0}), r.chunks);
    EXPECT_EQ(65536u, r.produced);
  }
  // An empty entry still reports once, with 0 bytes.
  {
    BitWriter w;
    w.Header(1, 1);
    w.FixedSymbol(256);
    Decoded r = DecodeEntry(w.Finish());
    EXPECT_EQ(0, r.error);
    EXPECT_EQ((std::vector<uint32_t>{0}), r.chunks);
  }
  // A test run checksums and reports the same, writing nothing.
  {
    BitWriter w;
    Bytes data = Pattern(70000);
    w.Stored(0, Bytes(data.begin(), data.begin() + 40000));
    w.Stored(1, Bytes(data.begin() + 40000, data.end()));
    DecodeOptions opt;
    opt.testOnly = 1;
    Decoded r = DecodeEntry(w.Finish(), opt);
    EXPECT_EQ(0, r.error);
    EXPECT_EQ(Crc(data), r.crc);
    EXPECT_EQ((std::vector<uint32_t>{65536, 70000 - 65536}), r.chunks);
  }
}

TEST(InflateStreams, CancelAtAFlush) {
  // A stored block finishes its copy after the refusal; the block counts as
  // the last; the final flush writes the rest without counting or reporting.
  {
    BitWriter w;
    Bytes data = Pattern(65535);
    Bytes more = Pattern(65535, 3);
    w.Stored(0, data);
    w.Stored(0, more);
    w.Stored(1, Pattern(100));  // never reached
    DecodeOptions opt;
    opt.refuseAt = 0;
    Decoded r = DecodeEntry(w.Finish(), opt);
    data.insert(data.end(), more.begin(), more.end());
    EXPECT_EQ(ERR_CANCELLED, r.error);
    EXPECT_EQ((std::vector<uint32_t>{65536}), r.chunks);
    EXPECT_EQ(65536u, r.produced);
    EXPECT_TRUE(data == r.output) << "the window left at the cancel is still written";
    EXPECT_EQ(Crc(data), r.crc);
  }
  // In compressed data the loop stops at the next symbol after the copy.
  for (int method : {8, 9}) {
    BitWriter w;
    w.Header(0, 1);
    w.FixedSymbol('q');
    for (int i = 0; i < 300; i++) FixedMatch(w, 284, 31, 5, 0, 0, 0);  // 300 * 258 bytes of 'q'
    w.FixedSymbol(256);
    w.Header(1, 1);
    w.FixedSymbol('r');
    w.FixedSymbol(256);
    DecodeOptions opt;
    opt.method = method;
    opt.refuseAt = 0;
    Decoded r = DecodeEntry(w.Finish(), opt);
    EXPECT_EQ(ERR_CANCELLED, r.error);
    EXPECT_EQ((std::vector<uint32_t>{65536}), r.chunks);
    // 1 + 254 matches of 258 = 65,533 < 65,536 < 1 + 255 * 258: the match that
    // crossed the flush completes, then decoding stops.
    EXPECT_EQ(1u + 255u * 258u, r.output.size());
  }
}

TEST(InflateStreams, HistoryBeforeTheEntryReadsZeros) {
  // A distance reaching before the entry's first byte copies zeros, not what
  // the window held before (an earlier entry's bytes, here 0xAA), also when
  // the match runs on into the entry's own bytes.
  struct Case {
    const char *name;
    std::function<void(BitWriter &)> body;
    Bytes expected;
  } cases[] = {
      {"all before the entry",
       [](BitWriter &w) {
         w.FixedSymbol('x');
         FixedMatch(w, 258, 0, 0, 4, 0, 1);  // length 4, distance 5
       },
       Bytes{'x', 0, 0, 0, 0}},
      {"into the entry's own bytes",
       [](BitWriter &w) {
         w.FixedSymbol('x');
         w.FixedSymbol('y');
         FixedMatch(w, 260, 0, 0, 3, 0, 0);  // length 6, distance 4
       },
       Bytes{'x', 'y', 0, 0, 'x', 'y', 0, 0}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    BitWriter w;
    w.Header(1, 1);
    c.body(w);
    w.FixedSymbol(256);
    DecodeOptions opt;
    opt.windowFill = 0xAA;
    Decoded r = DecodeEntry(w.Finish(), opt);
    EXPECT_EQ(0, r.error);
    EXPECT_EQ(c.expected, r.output);
  }
}

TEST(InflateStreams, DeclaredSizesBoundTheOutput) {
  // Output past the declared size fails the entry before any of it is
  // written; less output than declared, or a compressed size that runs past
  // the end of the file, is left to the CRC check.
  Bytes data = Pattern(200000);
  BitWriter w;
  for (size_t at = 0; at < data.size(); at += 50000)
    w.Stored(at + 50000 >= data.size(), Bytes(data.begin() + (long)at, data.begin() + (long)at + 50000));
  const Bytes packed = w.Finish();
  const struct {
    uint64_t declared;
    int64_t missing;
    int32_t error;
  } cases[] = {
      {200000, 0, 0}, {300000, 0, 0}, {200000, 5000, 0}, {199999, 0, ERR_INVALID_DATA},
      {70000, 0, ERR_INVALID_DATA}, {0, 0, ERR_INVALID_DATA},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "declared " << c.declared << ", missing " << c.missing);
    DecodeOptions opt;
    opt.declared = c.declared;
    opt.missing = c.missing;
    Decoded r = DecodeEntry(packed, opt);
    EXPECT_EQ(c.error, r.error);
    if (c.error == 0) {
      EXPECT_TRUE(data == r.output);
    } else {
      EXPECT_LE(r.output.size(), c.declared);
      EXPECT_TRUE(Bytes(data.begin(), data.begin() + (long)r.output.size()) == r.output);
    }
  }
}

TEST(InflateStreams, InputEndingInsideABlock) {
  // A stream of 0xFF bytes reads as fixed-code literals without end; every
  // strict prefix of a valid stream ends inside a block. Neither may hang.
  for (int method : {8, 9}) {
    Decoded r = DecodeEntry(Bytes(5000, 0xFF), DecodeOptions{method, 0, -1, 1, -1});
    EXPECT_EQ(ERR_INVALID_DATA, r.error) << method;
  }
  BitWriter w;
  w.Header(0, 1);
  for (int i = 0; i < 40; i++) w.FixedSymbol((unsigned)('a' + i % 26));
  FixedMatch(w, 270, 3, 2, 6, 3, 2);
  w.FixedSymbol(256);
  Bytes s = Pattern(300);
  w.Stored(0, s);
  // The end code is the one-bit code 0: zero bits from beyond a cut would
  // read as the end of the last block if they could be consumed.
  DynamicCodes codes = DynamicHeader(w, 1, Lengths(258, {{'a', 2}, {256, 1}, {257, 2}}), std::vector<int>(32, 5));
  for (int i = 0; i < 5; i++) w.Code(codes.literal['a'], 2);
  w.Code(codes.literal[256], 1);
  Bytes full = w.Finish();
  ASSERT_EQ(0, DecodeEntry(full).error);
  for (size_t cut = 0; cut < full.size(); cut++) {
    Bytes prefix(full.begin(), full.begin() + (long)cut);
    Decoded r = DecodeEntry(prefix, DecodeOptions{8, 0, -1, 1, -1});
    EXPECT_EQ(ERR_INVALID_DATA, r.error) << "cut at " << cut;
  }
}

TEST(InflateStreams, NothingReadBeyondTheStream) {
  // Junk behind a well-formed stream stays unread, whatever the lengths of
  // the end codes: the counters show exactly the stream's bytes used.
  std::vector<Bytes> streams;
  {
    BitWriter w;
    w.Header(1, 1);
    w.FixedSymbol('a');
    w.FixedSymbol(256);
    streams.push_back(w.Finish());
  }
  {
    BitWriter w;
    w.Stored(1, Pattern(20000));
    streams.push_back(w.Finish());
  }
  {
    // End code of length 1 right after a match with a one-bit distance code.
    BitWriter w;
    DynamicCodes c = DynamicHeader(w, 1, Lengths(258, {{'a', 2}, {256, 1}, {257, 2}}), Lengths(1, {{0, 1}}));
    w.Code(c.literal['a'], 2);
    w.Code(c.literal[257], 2);
    w.Code(c.distance[0], 1);
    w.Code(c.literal[256], 1);
    streams.push_back(w.Finish());
  }
  {
    // Long literal run spanning several input pieces.
    BitWriter w;
    w.Header(1, 1);
    for (int i = 0; i < 60000; i++) w.FixedSymbol((unsigned)(i * 31 % 256));
    w.FixedSymbol(256);
    streams.push_back(w.Finish());
  }
  for (size_t i = 0; i < streams.size(); i++) {
    for (int method : {8, 9}) {
      for (size_t trailing : {0, 1, 7, 9, 20000}) {
        DecodeOptions opt;
        opt.method = method;
        opt.trailing = trailing;
        opt.testOnly = 1;
        Decoded r = DecodeEntry(streams[i], opt);
        EXPECT_EQ(0, r.error) << "stream " << i << " method " << method << " trailing " << trailing;
        EXPECT_EQ((int64_t)trailing, r.leftToDeliver)
            << "stream " << i << " method " << method << " trailing " << trailing;
      }
    }
  }
}
