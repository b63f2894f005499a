// AES encryption (FIPS 197) in the T-table formulation. The S-box and the
// eight tables are computed at compile time from their definitions (the
// multiplicative inverse in GF(2^8) followed by the affine map), so they are
// constant data without a generated source to keep in step.
//
// Words are big-endian: byte 0 of a column is the word's top byte.
#include "aes.h"

namespace {

constexpr uint8_t GfMul2(uint8_t x) { return (uint8_t)((x << 1) ^ ((x & 0x80) ? 0x1B : 0)); }

constexpr uint8_t GfMul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i) {
    if (b & 1) r ^= a;
    a = GfMul2(a);
    b >>= 1;
  }
  return r;
}

constexpr uint8_t Rotl8(uint8_t x, int n) { return (uint8_t)((x << n) | (x >> (8 - n))); }

constexpr uint32_t Ror32(uint32_t x, int n) { return n == 0 ? x : (x >> n) | (x << (32 - n)); }

struct AesTables {
  uint8_t sbox[256];
  uint32_t round[4][256];  // SubBytes, ShiftRows and MixColumns folded, one table per row
  uint32_t last[4][256];   // last round: SubBytes alone, in each row's position
};

constexpr AesTables BuildTables() {
  AesTables t{};
  for (int x = 0; x < 256; ++x) {
    uint8_t inv = 0;
    if (x != 0) {
      // x^254 is the inverse in GF(2^8).
      uint8_t p = (uint8_t)x, r = 1;
      for (int e = 254; e > 0; e >>= 1) {
        if (e & 1) r = GfMul(r, p);
        p = GfMul(p, p);
      }
      inv = r;
    }
    t.sbox[x] = (uint8_t)(inv ^ Rotl8(inv, 1) ^ Rotl8(inv, 2) ^ Rotl8(inv, 3) ^ Rotl8(inv, 4) ^ 0x63);
  }
  for (int x = 0; x < 256; ++x) {
    uint8_t s = t.sbox[x];
    uint32_t w = ((uint32_t)GfMul2(s) << 24) | ((uint32_t)s << 16) | ((uint32_t)s << 8) | (uint32_t)(GfMul2(s) ^ s);
    for (int r = 0; r < 4; ++r) {
      t.round[r][x] = Ror32(w, 8 * r);
      t.last[r][x] = (uint32_t)s << (24 - 8 * r);
    }
  }
  return t;
}

constexpr AesTables kAes = BuildTables();
static_assert(kAes.sbox[0x00] == 0x63 && kAes.sbox[0x53] == 0xED && kAes.sbox[0xFF] == 0x16, "AES S-box");

constexpr uint8_t kRoundConstants[10] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1B, 0x36};

inline uint32_t LoadBe32(const unsigned char *p) {
  return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}

inline void StoreBe32(unsigned char *p, uint32_t v) {
  p[0] = (unsigned char)(v >> 24);
  p[1] = (unsigned char)(v >> 16);
  p[2] = (unsigned char)(v >> 8);
  p[3] = (unsigned char)v;
}

inline uint32_t SubWord(uint32_t w) {
  return ((uint32_t)kAes.sbox[w >> 24] << 24) | ((uint32_t)kAes.sbox[(w >> 16) & 0xFF] << 16) |
         ((uint32_t)kAes.sbox[(w >> 8) & 0xFF] << 8) | (uint32_t)kAes.sbox[w & 0xFF];
}

}  // namespace

int AesSetEncryptKey(const unsigned char *key, uint32_t length, AesKeySchedule *schedule) {
  schedule->flags = AES_FLAG_BLOCK;
  uint32_t nk;
  switch (length) {
    case 16: case 128: nk = 4; break;
    case 24: case 192: nk = 6; break;
    case 32: case 256: nk = 8; break;
    default:
      schedule->rounds = 0;
      return 0;
  }
  schedule->rounds = nk + 6;
  uint32_t total = 4 * (schedule->rounds + 1);
  uint32_t *w = schedule->roundKeys;
  for (uint32_t i = 0; i < nk; ++i) w[i] = LoadBe32(key + 4 * i);
  for (uint32_t i = nk; i < total; ++i) {
    uint32_t t = w[i - 1];
    if (i % nk == 0) {
      t = SubWord((t << 8) | (t >> 24)) ^ ((uint32_t)kRoundConstants[i / nk - 1] << 24);
    } else if (nk > 6 && i % nk == 4) {
      t = SubWord(t);
    }
    w[i] = w[i - nk] ^ t;
  }
  schedule->flags |= AES_FLAG_ENCRYPT;
  return 1;
}

namespace {

bool HasKey(const AesKeySchedule *schedule) {
  // The round count is checked too, so a damaged schedule cannot index past its keys.
  return (schedule->flags & AES_FLAG_ENCRYPT) &&
         (schedule->rounds == 10 || schedule->rounds == 12 || schedule->rounds == 14);
}

// Encrypts n independent blocks side by side: their table look-ups overlap,
// which a single block's chain of rounds does not allow.
template <int N>
void EncryptBlocks(const unsigned char *in, unsigned char *out, const AesKeySchedule *schedule) {
  const uint32_t *rk = schedule->roundKeys;
  const auto &T = kAes.round;
  const auto &L = kAes.last;
  uint32_t s[N][4], t[N][4];
  for (int b = 0; b < N; ++b) {
    for (int j = 0; j < 4; ++j) s[b][j] = LoadBe32(in + 16 * b + 4 * j) ^ rk[j];
  }
  for (uint32_t r = 1; r < schedule->rounds; ++r) {
    rk += 4;
    for (int b = 0; b < N; ++b) {
      for (int j = 0; j < 4; ++j) {
        t[b][j] = T[0][s[b][j] >> 24] ^ T[1][(s[b][(j + 1) & 3] >> 16) & 0xFF] ^ T[2][(s[b][(j + 2) & 3] >> 8) & 0xFF] ^
                  T[3][s[b][(j + 3) & 3] & 0xFF] ^ rk[j];
      }
    }
    for (int b = 0; b < N; ++b) {
      for (int j = 0; j < 4; ++j) s[b][j] = t[b][j];
    }
  }
  rk += 4;
  for (int b = 0; b < N; ++b) {
    for (int j = 0; j < 4; ++j) {
      uint32_t o = L[0][s[b][j] >> 24] ^ L[1][(s[b][(j + 1) & 3] >> 16) & 0xFF] ^ L[2][(s[b][(j + 2) & 3] >> 8) & 0xFF] ^
                   L[3][s[b][(j + 3) & 3] & 0xFF] ^ rk[j];
      StoreBe32(out + 16 * b + 4 * j, o);
    }
  }
}

}  // namespace

int AesEncryptBlocks4(const unsigned char in[4 * AES_BLOCK_SIZE], unsigned char out[4 * AES_BLOCK_SIZE],
                      const AesKeySchedule *schedule) {
  if (!HasKey(schedule)) return 0;
  EncryptBlocks<4>(in, out, schedule);
  return 1;
}

int AesEncryptBlock(const unsigned char in[AES_BLOCK_SIZE], unsigned char out[AES_BLOCK_SIZE],
                    const AesKeySchedule *schedule) {
  if (!HasKey(schedule)) return 0;
  EncryptBlocks<1>(in, out, schedule);
  return 1;
}
