// SHA-1, HMAC-SHA1, PBKDF2 and AES against the published vectors (FIPS 180,
// RFC 2202, RFC 6070, FIPS 197). Digests of the patterned inputs were
// computed with Python's hashlib and hmac.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crypto/aes.h"
#include "crypto/cpu_dispatch.h"
#include "crypto/sha1.h"

namespace {

std::vector<unsigned char> FromHex(const char *hex) {
  std::vector<unsigned char> out;
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) out.push_back((unsigned char)std::stoi(std::string(hex + i, 2), nullptr, 16));
  return out;
}

std::string ToHex(const unsigned char *p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

std::vector<unsigned char> Pattern(size_t n) {
  std::vector<unsigned char> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = (unsigned char)(i * 37 + 11);
  return v;
}

std::vector<unsigned char> Bytes(const char *s) { return std::vector<unsigned char>(s, s + strlen(s)); }

std::string Sha1Pieces(const std::vector<unsigned char> &d, const std::vector<size_t> &cuts) {
  Sha1State st;
  Sha1Begin(&st);
  size_t at = 0;
  for (size_t cut : cuts) {
    Sha1Hash(d.data() + at, (uint32_t)(cut - at), &st);
    at = cut;
  }
  Sha1Hash(d.data() + at, (uint32_t)(d.size() - at), &st);
  unsigned char out[20];
  Sha1End(out, &st);
  return ToHex(out, 20);
}

}  // namespace

TEST(Sha1, KnownAnswersWholeByteByByteAndSplitAtEveryOffset) {
  struct Case {
    std::vector<unsigned char> data;
    const char *digest;
  } cases[] = {
      {Bytes(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {Bytes("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {Bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"), "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {Pattern(55), "c4622048cfef59b72875839ee7ae1cbcf55e7658"},
      {Pattern(56), "ddc12942656468475970fa4fa49161f52ed138e4"},
      {Pattern(63), "7f8c3fa49f1297bd8b9feb964b6b419987f9f0d1"},
      {Pattern(64), "a334b47180c61fd522f99905ec02c36f9e848211"},
      {Pattern(65), "dd27d9eb923d39687e10872c3e8133ba2f0a68a1"},
      {Pattern(119), "bea949473b1ec34747ce121c3293624b5d9d8f84"},
      {Pattern(120), "bf05266acd3ec21592b4d42aaea97fa6f3e51926"},
      {Pattern(128), "3b1953091899492377f686c266b81d84b5d40f70"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.data.size());
    EXPECT_EQ(c.digest, Sha1Pieces(c.data, {}));
    std::vector<size_t> every;
    for (size_t i = 1; i < c.data.size(); ++i) every.push_back(i);
    EXPECT_EQ(c.digest, Sha1Pieces(c.data, every)) << "byte by byte";
    for (size_t i = 0; i <= c.data.size(); ++i) EXPECT_EQ(c.digest, Sha1Pieces(c.data, {i})) << "split at " << i;
    for (size_t i = 0; i + 7 <= c.data.size(); ++i) EXPECT_EQ(c.digest, Sha1Pieces(c.data, {i, i + 7})) << "three pieces at " << i;
  }
}

TEST(Sha1, MillionAInUnevenPieces) {
  std::vector<unsigned char> a(1000000, 'a');
  EXPECT_EQ("34aa973cd4c4daa4f61eeb2bdbad27316534016f", Sha1Pieces(a, {}));
  std::vector<size_t> cuts;
  for (size_t at = 0, step = 1; at + step < a.size(); at += step, step = step * 3 % 997 + 1) cuts.push_back(at + step);
  EXPECT_EQ("34aa973cd4c4daa4f61eeb2bdbad27316534016f", Sha1Pieces(a, cuts));
}

namespace {

std::string Hmac(const std::vector<unsigned char> &key, const std::vector<unsigned char> &data, uint32_t n = 20,
                 size_t keyPiece = 0) {
  HmacSha1State st;
  HmacSha1Begin(&st);
  if (keyPiece == 0) keyPiece = key.size() + 1;
  for (size_t at = 0; at < key.size(); at += keyPiece) {
    size_t take = std::min(keyPiece, key.size() - at);
    EXPECT_EQ(0, HmacSha1Key(key.data() + at, (uint32_t)take, &st));
  }
  if (!data.empty()) HmacSha1Data(data.data(), (uint32_t)data.size(), &st);
  unsigned char out[20];
  memset(out, 0xEE, sizeof out);
  HmacSha1End(out, n, &st);
  for (uint32_t i = n; i < 20; ++i) EXPECT_EQ(0xEE, out[i]) << "wrote past the requested length";
  return ToHex(out, n);
}

}  // namespace

TEST(HmacSha1, Rfc2202AndBlockSizedKeysWholeAndInPieces) {
  struct Case {
    std::vector<unsigned char> key, data;
    const char *mac;
  } cases[] = {
      {std::vector<unsigned char>(20, 0x0b), Bytes("Hi There"), "b617318655057264e28bc0b6fb378c8ef146be00"},
      {Bytes("Jefe"), Bytes("what do ya want for nothing?"), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {std::vector<unsigned char>(20, 0xaa), std::vector<unsigned char>(50, 0xdd), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
      {FromHex("0102030405060708090a0b0c0d0e0f10111213141516171819"), std::vector<unsigned char>(50, 0xcd),
       "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
      {std::vector<unsigned char>(20, 0x0c), Bytes("Test With Truncation"), "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
      {std::vector<unsigned char>(80, 0xaa), Bytes("Test Using Larger Than Block-Size Key - Hash Key First"),
       "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      {std::vector<unsigned char>(80, 0xaa),
       Bytes("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
       "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
      {Pattern(64), Bytes("Hi There"), "05199dcd6c1663ff36ec6ff8750511ac14c7213a"},  // used as is
      {Pattern(65), Bytes("Hi There"), "a278cd4737fa5bb64c58af4b1b6549f48096a667"},  // hashed first
      {Pattern(64), {}, "fd3814e489c3b6edabfce4ce0aa8ea55de0e18d5"},                 // End straight after the key
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.mac);
    EXPECT_EQ(c.mac, Hmac(c.key, c.data));
    for (size_t piece : {1, 7, 33, 63, 64}) EXPECT_EQ(c.mac, Hmac(c.key, c.data, 20, piece)) << "key in pieces of " << piece;
    EXPECT_EQ(std::string(c.mac, 20), Hmac(c.key, c.data, 10)) << "truncated to 10 bytes";
  }
  // RFC 2202 case 5 is also specified truncated to 96 bits.
  EXPECT_EQ("4c1a03424b55e07fe7f27be1", Hmac(std::vector<unsigned char>(20, 0x0c), Bytes("Test With Truncation"), 12));
}

TEST(HmacSha1, KeyAfterDataIsRefusedAndChangesNothing) {
  HmacSha1State st;
  HmacSha1Begin(&st);
  ASSERT_EQ(0, HmacSha1Key("Jefe", 4, &st));
  HmacSha1Data("what do ya ", 11, &st);
  HmacSha1State before;
  memcpy(&before, &st, sizeof st);
  EXPECT_EQ(-1, HmacSha1Key("extra", 5, &st));
  EXPECT_EQ(0, memcmp(&before, &st, sizeof st));
  HmacSha1Data(nullptr, 0, &st);  // an empty piece is allowed with a null pointer
  HmacSha1Data("want for nothing?", 17, &st);
  unsigned char mac[20];
  HmacSha1End(mac, 20, &st);
  EXPECT_EQ("effcdf6ae5eb2fa2d27416d5f184df9c259a7c79", ToHex(mac, 20));
}

TEST(HmacSha1, AllZeroStateIsAnEmptyKeyPhase) {
  HmacSha1State st;
  memset(&st, 0, sizeof st);
  HmacSha1Key("Jefe", 4, &st);
  HmacSha1Data("what do ya want for nothing?", 28, &st);
  unsigned char mac[20];
  HmacSha1End(mac, 20, &st);
  EXPECT_EQ("effcdf6ae5eb2fa2d27416d5f184df9c259a7c79", ToHex(mac, 20));
}

TEST(Pbkdf2, Rfc6070AndPrefixProperty) {
  struct Case {
    std::string password, salt;
    uint32_t iterations, length;
    const char *key;
  } cases[] = {
      {"password", "salt", 1, 20, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
      {"password", "salt", 2, 20, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
      {"password", "salt", 4096, 20, "4b007901b765489abead49d926f721d065a429c1"},
      {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25,
       "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
      {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, 16, "56fa6aa75548099dcc37d7f03425e0c3"},
      {"password", "salt", 1000, 66,
       "6e88be8bad7eae9d9e10aa061224034fed48d03fcbad968b56006784539d5214ce970d912ec2049b04231d47c2eb88506945b26b2325e6"
       "adfeeba08895ff9587a30b"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.key);
    unsigned char out[80];
    memset(out, 0xEE, sizeof out);
    Pbkdf2HmacSha1(c.password.data(), (uint32_t)c.password.size(), c.salt.data(), (uint32_t)c.salt.size(), c.iterations,
                   out, c.length);
    EXPECT_EQ(c.key, ToHex(out, c.length));
    EXPECT_EQ(0xEE, out[c.length]) << "wrote past the output";
  }
  // The first 20 bytes of a 34-byte derivation are the 20-byte derivation.
  unsigned char a[34], b[20];
  Pbkdf2HmacSha1("password", 8, "salt", 4, 2, a, 34);
  Pbkdf2HmacSha1("password", 8, "salt", 4, 2, b, 20);
  EXPECT_EQ(0, memcmp(a, b, 20));
  EXPECT_EQ("ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957", ToHex(b, 20));
  // An empty output writes nothing (a block count computed as (0 - 1) / 20 + 1 would not).
  unsigned char none[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  Pbkdf2HmacSha1("password", 8, "salt", 4, 1, none, 0);
  EXPECT_EQ("eeeeeeee", ToHex(none, 4));
}

TEST(Aes, Fips197ExampleVectorsWithKeyLengthInBytesAndBits) {
  struct Case {
    const char *key, *cipher;
  } cases[] = {
      {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "8ea2b7ca516745bfeafc49904b496089"},
  };
  const std::vector<unsigned char> plain = FromHex("00112233445566778899aabbccddeeff");
  for (const auto &c : cases) {
    SCOPED_TRACE(c.cipher);
    std::vector<unsigned char> key = FromHex(c.key);
    for (uint32_t length : {(uint32_t)key.size(), (uint32_t)key.size() * 8}) {
      AesKeySchedule ks;
      memset(&ks, 0x5A, sizeof ks);
      ASSERT_EQ(1, AesSetEncryptKey(key.data(), length, &ks));
      EXPECT_EQ(key.size() / 4 + 6, ks.rounds);
      EXPECT_EQ(17u, ks.flags);
      unsigned char out[16];
      ASSERT_EQ(1, AesEncryptBlock(plain.data(), out, &ks));
      EXPECT_EQ(c.cipher, ToHex(out, 16));
      unsigned char inPlace[16];
      memcpy(inPlace, plain.data(), 16);
      AesEncryptBlock(inPlace, inPlace, &ks);
      EXPECT_EQ(c.cipher, ToHex(inPlace, 16)) << "in place";
      // Four blocks at once: the vector in each position, among other blocks.
      for (int at = 0; at < 4; ++at) {
        unsigned char four[64], each[64];
        for (int i = 0; i < 64; ++i) four[i] = (unsigned char)(i * 29 + at);
        memcpy(four + 16 * at, plain.data(), 16);
        for (int b = 0; b < 4; ++b) AesEncryptBlock(four + 16 * b, each + 16 * b, &ks);
        ASSERT_EQ(1, AesEncryptBlocks4(four, four, &ks));
        EXPECT_EQ(c.cipher, ToHex(four + 16 * at, 16));
        EXPECT_EQ(0, memcmp(four, each, 64));
      }
    }
  }
}

TEST(Aes, RefusedKeyLengthsAndMissingKey) {
  unsigned char key[32] = {0};
  for (uint32_t length : {0u, 8u, 15u, 17u, 20u, 64u, 127u, 129u, 512u}) {
    AesKeySchedule ks;
    memset(&ks, 0x5A, sizeof ks);
    EXPECT_EQ(0, AesSetEncryptKey(key, length, &ks)) << length;
    EXPECT_EQ(0u, ks.rounds);
    EXPECT_EQ(16u, ks.flags);
    unsigned char in[16] = {1}, out[16];
    memset(out, 0xC3, sizeof out);
    EXPECT_EQ(0, AesEncryptBlock(in, out, &ks));
    for (unsigned char b : out) EXPECT_EQ(0xC3, b) << "wrote without a key";
    unsigned char in4[64] = {0}, out4[64];
    memset(out4, 0xC3, sizeof out4);
    EXPECT_EQ(0, AesEncryptBlocks4(in4, out4, &ks));
    for (unsigned char b : out4) EXPECT_EQ(0xC3, b) << "wrote without a key";
    unsigned char counter[16] = {0}, last[16];
    memset(last, 0xC3, sizeof last);
    EXPECT_EQ(0, AesCtrXorBlocks(out4, 4, counter, last, &ks));
    for (unsigned char b : out4) EXPECT_EQ(0xC3, b) << "wrote without a key";
    for (unsigned char b : last) EXPECT_EQ(0xC3, b) << "wrote without a key";
    EXPECT_EQ(0, counter[0]) << "counted without a key";
  }
  AesKeySchedule zero;
  memset(&zero, 0, sizeof zero);
  unsigned char in[16] = {0}, out[16] = {0};
  EXPECT_EQ(0, AesEncryptBlock(in, out, &zero));
}

// The hardware paths against the portable ones, in one process: every length
// from 0 to a few blocks past the widest hardware run, at every alignment.
namespace {

// Runs fn once with the portable paths and once with every detected one.
template <typename Fn>
void BothPaths(Fn fn) {
  uint32_t saved = CpuLimitFeatures(0);
  fn(0u);
  CpuLimitFeatures(~0u);
  fn(1u);
  CpuLimitFeatures(saved);
}

std::vector<unsigned char> Random(size_t n, uint32_t seed) {
  std::vector<unsigned char> v(n);
  for (auto &b : v) {
    seed = seed * 1664525u + 1013904223u;
    b = (unsigned char)(seed >> 24);
  }
  return v;
}

// PBKDF2 as RFC 2898 writes it, through the HMAC operations alone.
std::vector<unsigned char> TextbookPbkdf2(const std::vector<unsigned char> &pw, const std::vector<unsigned char> &salt,
                                          uint32_t iterations, uint32_t length) {
  std::vector<unsigned char> out;
  for (uint32_t block = 1; out.size() < length; ++block) {
    std::vector<unsigned char> u = salt;
    for (int s = 24; s >= 0; s -= 8) u.push_back((unsigned char)(block >> s));
    unsigned char acc[20] = {0};
    for (uint32_t n = 0; n < iterations; ++n) {
      HmacSha1State st;
      HmacSha1Begin(&st);
      HmacSha1Key(pw.data(), (uint32_t)pw.size(), &st);
      HmacSha1Data(u.data(), (uint32_t)u.size(), &st);
      u.resize(20);
      HmacSha1End(u.data(), 20, &st);
      for (int j = 0; j < 20; ++j) acc[j] ^= u[j];
    }
    out.insert(out.end(), acc, acc + std::min<size_t>(20, length - out.size()));
  }
  return out;
}

}  // namespace

TEST(CpuPaths, HardwareAndPortableAgreeOnEveryLengthAndAlignment) {
  if (CpuFeatures() == 0) GTEST_SKIP() << "portable paths only (no hardware support, or forced)";
  const std::vector<unsigned char> noise = Random(4096, 7);
  AesKeySchedule ks;
  AesSetEncryptKey(noise.data(), 32, &ks);
  for (size_t length = 0; length <= 300; ++length) {
    for (size_t align = 0; align < 16; ++align) {
      SCOPED_TRACE(testing::Message() << "length " << length << " alignment " << align);
      std::string digest[2];
      std::vector<unsigned char> ctr[2];
      unsigned char counter[2][16], last[2][16];
      BothPaths([&](uint32_t path) {
        Sha1State st;
        Sha1Begin(&st);
        Sha1Hash(noise.data() + align, (uint32_t)length, &st);
        unsigned char out[20];
        Sha1End(out, &st);
        digest[path] = ToHex(out, 20);
        // Counters chosen so that runs carry across bytes and wrap at 2^64;
        // bytes 8..15 must come through untouched.
        std::vector<unsigned char> buf(noise.begin() + 1000, noise.begin() + 1000 + length + align);
        memset(counter[path], 0xFF, 8);
        counter[path][0] = (unsigned char)(0xF0 + align);
        memset(counter[path] + 8, (int)align, 8);
        memset(last[path], 0, 16);
        ASSERT_EQ(1, AesCtrXorBlocks(buf.data() + align, length / 16, counter[path], last[path], &ks));
        ctr[path] = buf;
      });
      EXPECT_EQ(digest[0], digest[1]) << "SHA-1";
      EXPECT_EQ(ctr[0], ctr[1]) << "AES-CTR";
      EXPECT_EQ(0, memcmp(counter[0], counter[1], 16)) << "counter block";
      EXPECT_EQ(0, memcmp(last[0], last[1], 16)) << "last keystream block";
    }
  }
}

TEST(Pbkdf2, EqualsTheTextbookDerivationOnBothPaths) {
  struct Case {
    size_t password, salt;
    uint32_t iterations, length;
  } cases[] = {
      {0, 0, 1, 1},   {8, 16, 2, 66},  {64, 8, 3, 34},  {65, 12, 3, 50}, {130, 70, 2, 81},
      {20, 4, 0, 20}, {1, 1, 5, 21},   {63, 55, 4, 101}, {128, 16, 1000, 66},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.password << "-byte password, " << c.salt << "-byte salt, " << c.iterations
                                    << " iterations, " << c.length << " bytes");
    std::vector<unsigned char> pw = Random(c.password, 11), salt = Random(c.salt, 13);
    std::vector<unsigned char> want = TextbookPbkdf2(pw, salt, c.iterations, c.length);
    BothPaths([&](uint32_t path) {
      std::vector<unsigned char> out(c.length + 1, 0xEE);
      Pbkdf2HmacSha1(pw.data(), (uint32_t)pw.size(), salt.data(), (uint32_t)salt.size(), c.iterations, out.data(),
                     c.length);
      EXPECT_EQ(ToHex(want.data(), want.size()), ToHex(out.data(), c.length)) << "path " << path;
      EXPECT_EQ(0xEE, out[c.length]) << "wrote past the output";
    });
  }
}
