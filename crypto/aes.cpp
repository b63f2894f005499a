// AES encryption (FIPS 197) in the T-table formulation, with the round
// instructions of the processor where it has them. The S-box and the eight
// tables are computed from their definitions (the multiplicative inverse in
// GF(2^8) followed by the affine map) on first use: 8 KiB the stub's file
// does not carry, and no generated source to keep in step.
//
// Words are big-endian: byte 0 of a column is the word's top byte.
#include "aes.h"

#include <cstring>

#include "cpu_dispatch.h"
#include "wipe.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KV_AES_HW 1
#define KV_AES_TARGET __attribute__((target("aes,sse4.1")))
#endif

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

constexpr void FillTables(AesTables &t) {
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
}

constexpr uint8_t SboxAt(int x) {
  AesTables t{};
  FillTables(t);
  return t.sbox[x];
}
static_assert(SboxAt(0x00) == 0x63 && SboxAt(0x53) == 0xED && SboxAt(0xFF) == 0x16, "AES S-box");

// One thread: a plain flag is enough.
AesTables g_tables;
bool g_tablesReady = false;

const AesTables &Tables() {
  if (!g_tablesReady) {
    FillTables(g_tables);
    g_tablesReady = true;
  }
  return g_tables;
}

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

inline uint32_t SubWord(const uint8_t *sbox, uint32_t w) {
  return ((uint32_t)sbox[w >> 24] << 24) | ((uint32_t)sbox[(w >> 16) & 0xFF] << 16) |
         ((uint32_t)sbox[(w >> 8) & 0xFF] << 8) | (uint32_t)sbox[w & 0xFF];
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
  const uint8_t *sbox = Tables().sbox;
  for (uint32_t i = 0; i < nk; ++i) w[i] = LoadBe32(key + 4 * i);
  for (uint32_t i = nk; i < total; ++i) {
    uint32_t t = w[i - 1];
    if (i % nk == 0) {
      t = SubWord(sbox, (t << 8) | (t >> 24)) ^ ((uint32_t)kRoundConstants[i / nk - 1] << 24);
    } else if (nk > 6 && i % nk == 4) {
      t = SubWord(sbox, t);
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
void EncryptBlocksT(const unsigned char *in, unsigned char *out, const AesKeySchedule *schedule) {
  const uint32_t *rk = schedule->roundKeys;
  const AesTables &tables = Tables();
  const auto &T = tables.round;
  const auto &L = tables.last;
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

#ifdef KV_AES_HW
namespace {

constexpr int AES_HW_RUN = 8;  // blocks in flight: enough to keep the round unit busy

// The schedule's words are big-endian; the round instructions want the key
// bytes in order.
KV_AES_TARGET inline void LoadRoundKeys(const AesKeySchedule *schedule, __m128i rk[15]) {
  const __m128i swap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
  for (uint32_t r = 0; r <= schedule->rounds; ++r) {
    rk[r] = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i *)(schedule->roundKeys + 4 * r)), swap);
  }
}

template <int N>
KV_AES_TARGET inline void EncryptHw(__m128i (&b)[N], const __m128i rk[15], uint32_t rounds) {
  for (int i = 0; i < N; ++i) b[i] = _mm_xor_si128(b[i], rk[0]);
  for (uint32_t r = 1; r < rounds; ++r) {
    for (int i = 0; i < N; ++i) b[i] = _mm_aesenc_si128(b[i], rk[r]);
  }
  for (int i = 0; i < N; ++i) b[i] = _mm_aesenclast_si128(b[i], rk[rounds]);
}

KV_AES_TARGET void EncryptBlocksHw(const unsigned char *in, unsigned char *out, size_t blocks,
                                   const AesKeySchedule *schedule) {
  __m128i rk[15];
  LoadRoundKeys(schedule, rk);
  for (; blocks > 0; --blocks, in += AES_BLOCK_SIZE, out += AES_BLOCK_SIZE) {
    __m128i b[1] = {_mm_loadu_si128((const __m128i *)in)};
    EncryptHw(b, rk, schedule->rounds);
    _mm_storeu_si128((__m128i *)out, b[0]);
  }
  CryptoWipe(rk, sizeof rk);
}

KV_AES_TARGET void CtrXorHw(unsigned char *data, size_t blocks, unsigned char counter[AES_BLOCK_SIZE],
                            unsigned char last[AES_BLOCK_SIZE], const AesKeySchedule *schedule) {
  __m128i rk[15];
  LoadRoundKeys(schedule, rk);
  const uint32_t rounds = schedule->rounds;
  // Bytes 0..7 are the low lane: a 64-bit add is the byte-wise carry.
  const __m128i one = _mm_set_epi64x(0, 1);
  __m128i ctr = _mm_loadu_si128((const __m128i *)counter);
  __m128i stream = _mm_setzero_si128();
  for (; blocks >= AES_HW_RUN; blocks -= AES_HW_RUN, data += AES_HW_RUN * AES_BLOCK_SIZE) {
    __m128i b[AES_HW_RUN];
    for (int i = 0; i < AES_HW_RUN; ++i) b[i] = ctr = _mm_add_epi64(ctr, one);
    EncryptHw(b, rk, rounds);
    for (int i = 0; i < AES_HW_RUN; ++i) {
      __m128i *p = (__m128i *)(data + AES_BLOCK_SIZE * i);
      _mm_storeu_si128(p, _mm_xor_si128(_mm_loadu_si128(p), b[i]));
    }
    stream = b[AES_HW_RUN - 1];
  }
  for (; blocks > 0; --blocks, data += AES_BLOCK_SIZE) {
    __m128i b[1] = {ctr = _mm_add_epi64(ctr, one)};
    EncryptHw(b, rk, rounds);
    _mm_storeu_si128((__m128i *)data, _mm_xor_si128(_mm_loadu_si128((const __m128i *)data), b[0]));
    stream = b[0];
  }
  _mm_storeu_si128((__m128i *)counter, ctr);
  _mm_storeu_si128((__m128i *)last, stream);
  CryptoWipe(rk, sizeof rk);
}

}  // namespace
#endif

namespace {

// n blocks through whichever path the processor allows.
void EncryptBlocks(const unsigned char *in, unsigned char *out, size_t n, const AesKeySchedule *schedule) {
#ifdef KV_AES_HW
  if (CpuFeatures() & CPU_AES) {
    EncryptBlocksHw(in, out, n, schedule);
    return;
  }
#endif
  for (; n >= 4; n -= 4, in += 4 * AES_BLOCK_SIZE, out += 4 * AES_BLOCK_SIZE) EncryptBlocksT<4>(in, out, schedule);
  for (; n > 0; --n, in += AES_BLOCK_SIZE, out += AES_BLOCK_SIZE) EncryptBlocksT<1>(in, out, schedule);
}

// 64-bit little-endian increment in bytes 0..7.
inline void CounterIncrement(unsigned char counter[AES_BLOCK_SIZE]) {
  for (int j = 0; j < 8; ++j) {
    if (++counter[j] != 0) break;
  }
}

}  // namespace

int AesEncryptBlocks4(const unsigned char in[4 * AES_BLOCK_SIZE], unsigned char out[4 * AES_BLOCK_SIZE],
                      const AesKeySchedule *schedule) {
  if (!HasKey(schedule)) return 0;
  EncryptBlocks(in, out, 4, schedule);
  return 1;
}

int AesEncryptBlock(const unsigned char in[AES_BLOCK_SIZE], unsigned char out[AES_BLOCK_SIZE],
                    const AesKeySchedule *schedule) {
  if (!HasKey(schedule)) return 0;
  EncryptBlocks(in, out, 1, schedule);
  return 1;
}

int AesCtrXorBlocks(unsigned char *data, size_t blocks, unsigned char counter[AES_BLOCK_SIZE],
                    unsigned char last[AES_BLOCK_SIZE], const AesKeySchedule *schedule) {
  if (!HasKey(schedule)) return 0;
  if (blocks == 0) return 1;
#ifdef KV_AES_HW
  if (CpuFeatures() & CPU_AES) {
    CtrXorHw(data, blocks, counter, last, schedule);
    return 1;
  }
#endif
  unsigned char counters[4 * AES_BLOCK_SIZE], stream[4 * AES_BLOCK_SIZE];
  while (blocks > 0) {
    uint32_t run = blocks >= 4 ? 4 : 1;
    for (uint32_t b = 0; b < run; ++b) {
      CounterIncrement(counter);
      memcpy(counters + b * AES_BLOCK_SIZE, counter, AES_BLOCK_SIZE);
    }
    if (run == 4) {
      EncryptBlocksT<4>(counters, stream, schedule);
    } else {
      EncryptBlocksT<1>(counters, stream, schedule);
    }
    for (uint32_t j = 0; j < run * AES_BLOCK_SIZE; ++j) data[j] ^= stream[j];
    memcpy(last, stream + (run - 1) * AES_BLOCK_SIZE, AES_BLOCK_SIZE);
    data += run * AES_BLOCK_SIZE;
    blocks -= run;
  }
  CryptoWipe(stream, sizeof stream);
  return 1;
}
