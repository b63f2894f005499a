// SHA-1, HMAC-SHA1 and PBKDF2. No allocation; whole blocks go through the
// SHA extensions where the processor has them (cpu_dispatch.h).
#include "sha1.h"

#include <cstring>

#include "cpu_dispatch.h"
#include "wipe.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KV_SHA1_HW 1
#define KV_SHA_TARGET __attribute__((target("sha,ssse3,sse4.1")))
#endif

namespace {

inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t LoadBe32(const unsigned char *p) {
  return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}

inline void StoreBe32(unsigned char *p, uint32_t v) {
  p[0] = (unsigned char)(v >> 24);
  p[1] = (unsigned char)(v >> 16);
  p[2] = (unsigned char)(v >> 8);
  p[3] = (unsigned char)v;
}

}  // namespace

void Sha1Begin(Sha1State *state) {
  state->count[0] = 0;
  state->count[1] = 0;
  state->hash[0] = 0x67452301u;
  state->hash[1] = 0xEFCDAB89u;
  state->hash[2] = 0x98BADCFEu;
  state->hash[3] = 0x10325476u;
  state->hash[4] = 0xC3D2E1F0u;
}

namespace {

// One block into the chaining values. The message schedule is kept as a
// rolling 16-word window; five steps are written out with the roles of the
// working variables rotated, so that no step has to move them.
inline uint32_t Schedule(uint32_t w[16], int i) {
  if (i < 16) return w[i];
  uint32_t x = Rotl(w[(i + 13) & 15] ^ w[(i + 8) & 15] ^ w[(i + 2) & 15] ^ w[i & 15], 1);
  w[i & 15] = x;
  return x;
}

struct Choose {
  static uint32_t F(uint32_t b, uint32_t c, uint32_t d) { return d ^ (b & (c ^ d)); }
  static constexpr uint32_t K = 0x5A827999u;
};
struct Parity1 {
  static uint32_t F(uint32_t b, uint32_t c, uint32_t d) { return b ^ c ^ d; }
  static constexpr uint32_t K = 0x6ED9EBA1u;
};
struct Majority {
  static uint32_t F(uint32_t b, uint32_t c, uint32_t d) { return (b & c) | (d & (b | c)); }
  static constexpr uint32_t K = 0x8F1BBCDCu;
};
struct Parity2 {
  static uint32_t F(uint32_t b, uint32_t c, uint32_t d) { return b ^ c ^ d; }
  static constexpr uint32_t K = 0xCA62C1D6u;
};

template <typename Group>
inline void Step(uint32_t a, uint32_t &b, uint32_t c, uint32_t d, uint32_t &e, uint32_t w) {
  e += Rotl(a, 5) + Group::F(b, c, d) + Group::K + w;
  b = Rotl(b, 30);
}

template <typename Group>
inline void TwentySteps(uint32_t v[5], uint32_t w[16], int first) {
  uint32_t a = v[0], b = v[1], c = v[2], d = v[3], e = v[4];
#ifdef __OPTIMIZE_SIZE__
  // Builds for size take one step per pass and move the variables along.
  for (int i = first; i < first + 20; ++i) {
    Step<Group>(a, b, c, d, e, Schedule(w, i));
    uint32_t t = e;
    e = d;
    d = c;
    c = b;
    b = a;
    a = t;
  }
#else
  for (int i = first; i < first + 20; i += 5) {
    Step<Group>(a, b, c, d, e, Schedule(w, i));
    Step<Group>(e, a, b, c, d, Schedule(w, i + 1));
    Step<Group>(d, e, a, b, c, Schedule(w, i + 2));
    Step<Group>(c, d, e, a, b, Schedule(w, i + 3));
    Step<Group>(b, c, d, e, a, Schedule(w, i + 4));
  }
#endif
  v[0] = a;
  v[1] = b;
  v[2] = c;
  v[3] = d;
  v[4] = e;
}

void CompressBlock(uint32_t hash[5], const unsigned char *block) {
  uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = LoadBe32(block + 4 * i);
  uint32_t v[5] = {hash[0], hash[1], hash[2], hash[3], hash[4]};
  TwentySteps<Choose>(v, w, 0);
  TwentySteps<Parity1>(v, w, 20);
  TwentySteps<Majority>(v, w, 40);
  TwentySteps<Parity2>(v, w, 60);
  for (int i = 0; i < 5; ++i) hash[i] += v[i];
}

}  // namespace

#ifdef KV_SHA1_HW
namespace {

// The SHA extensions work on four rounds at a time: A..D in one register (A in
// the top lane), E in the top lane of another, message words four to a
// register. Quad j of the schedule is msg2(msg1(X[j-4], X[j-3]) ^ X[j-2], X[j-1]),
// and the E entering a quad is the rotated A of the state one quad earlier
// (sha1nexte). N lanes hash independent blocks side by side, so that the
// latency of one lane's rounds hides behind the others'.
template <int F, int N>
KV_SHA_TARGET inline void ShaQuad(int j, __m128i (&abcd)[N], __m128i (&prev)[N], const __m128i (&e)[N],
                                  __m128i (&x)[N][4]) {
  for (int l = 0; l < N; ++l) {
    __m128i w = x[l][j & 3];
    if (j >= 4) {
      w = _mm_sha1msg2_epu32(
          _mm_xor_si128(_mm_sha1msg1_epu32(w, x[l][(j + 1) & 3]), x[l][(j + 2) & 3]), x[l][(j + 3) & 3]);
      x[l][j & 3] = w;
    }
    __m128i ew = j == 0 ? _mm_add_epi32(e[l], w) : _mm_sha1nexte_epu32(prev[l], w);
    prev[l] = abcd[l];
    abcd[l] = _mm_sha1rnds4_epu32(abcd[l], ew, F);
  }
}

// One block into each lane's state: the message in x (clobbered), the state
// in abcd and e, fed forward.
template <int N>
KV_SHA_TARGET inline void ShaRoundsHw(__m128i (&abcd)[N], __m128i (&e)[N], __m128i (&x)[N][4]) {
  __m128i abcdSave[N], eSave[N], prev[N];
  for (int l = 0; l < N; ++l) {
    abcdSave[l] = abcd[l];
    eSave[l] = e[l];
  }
  for (int j = 0; j < 5; ++j) ShaQuad<0>(j, abcd, prev, e, x);
  for (int j = 5; j < 10; ++j) ShaQuad<1>(j, abcd, prev, e, x);
  for (int j = 10; j < 15; ++j) ShaQuad<2>(j, abcd, prev, e, x);
  for (int j = 15; j < 20; ++j) ShaQuad<3>(j, abcd, prev, e, x);
  for (int l = 0; l < N; ++l) {
    e[l] = _mm_sha1nexte_epu32(prev[l], eSave[l]);
    abcd[l] = _mm_add_epi32(abcd[l], abcdSave[l]);
  }
}

// Reverses the 16 bytes: big-endian words in memory to word 0 in the top
// lane, and back.
KV_SHA_TARGET inline __m128i ByteOrder() { return _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL); }

KV_SHA_TARGET void ShaBlocksHw(uint32_t hash[5], const unsigned char *data, size_t blocks) {
  __m128i abcd[1] = {_mm_shuffle_epi32(_mm_loadu_si128((const __m128i *)hash), 0x1B)};
  __m128i e[1] = {_mm_set_epi32((int)hash[4], 0, 0, 0)};
  for (; blocks > 0; --blocks, data += SHA1_BLOCK_SIZE) {
    __m128i x[1][4];
    for (int k = 0; k < 4; ++k) x[0][k] = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i *)(data + 16 * k)), ByteOrder());
    ShaRoundsHw(abcd, e, x);
  }
  _mm_storeu_si128((__m128i *)hash, _mm_shuffle_epi32(abcd[0], 0x1B));
  hash[4] = (uint32_t)_mm_extract_epi32(e[0], 3);
}

constexpr int PBKDF2_LANES = 4;

// The last block of an HMAC half after a 64-byte key block: a digest (A..D
// and E, as the rounds leave them) and the padding of an 84-byte message.
KV_SHA_TARGET inline void DigestMessage(__m128i (&x)[4], __m128i abcd, __m128i e) {
  x[0] = abcd;
  x[1] = _mm_or_si128(e, _mm_set_epi32(0, (int)0x80000000u, 0, 0));
  x[2] = _mm_setzero_si128();
  x[3] = _mm_set_epi32(0, 0, 0, (SHA1_BLOCK_SIZE + SHA1_DIGEST_SIZE) * 8);
}

// PBKDF2 iterations 2..iterations for four output blocks side by side, every
// value in registers. acc holds U1 on entry and the XOR of all U on return.
KV_SHA_TARGET void Pbkdf2IterateHw(const uint32_t inner[5], const uint32_t outer[5],
                                   unsigned char (*acc)[SHA1_DIGEST_SIZE], uint32_t iterations) {
  const int N = PBKDF2_LANES;
  const __m128i innerAbcd = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i *)inner), 0x1B);
  const __m128i innerE = _mm_set_epi32((int)inner[4], 0, 0, 0);
  const __m128i outerAbcd = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i *)outer), 0x1B);
  const __m128i outerE = _mm_set_epi32((int)outer[4], 0, 0, 0);
  __m128i uAbcd[N], uE[N], accAbcd[N], accE[N];
  for (int l = 0; l < N; ++l) {
    uAbcd[l] = accAbcd[l] = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i *)acc[l]), ByteOrder());
    uE[l] = accE[l] = _mm_set_epi32((int)LoadBe32(acc[l] + 16), 0, 0, 0);
  }
  for (uint32_t n = 1; n < iterations; ++n) {
    __m128i abcd[N], e[N], x[N][4];
    for (int l = 0; l < N; ++l) {
      DigestMessage(x[l], uAbcd[l], uE[l]);
      abcd[l] = innerAbcd;
      e[l] = innerE;
    }
    ShaRoundsHw(abcd, e, x);
    for (int l = 0; l < N; ++l) {
      DigestMessage(x[l], abcd[l], e[l]);
      abcd[l] = outerAbcd;
      e[l] = outerE;
    }
    ShaRoundsHw(abcd, e, x);
    for (int l = 0; l < N; ++l) {
      uAbcd[l] = abcd[l];
      uE[l] = e[l];
      accAbcd[l] = _mm_xor_si128(accAbcd[l], abcd[l]);
      accE[l] = _mm_xor_si128(accE[l], e[l]);
    }
  }
  for (int l = 0; l < N; ++l) {
    _mm_storeu_si128((__m128i *)acc[l], _mm_shuffle_epi8(accAbcd[l], ByteOrder()));
    StoreBe32(acc[l] + 16, (uint32_t)_mm_extract_epi32(accE[l], 3));
  }
}

}  // namespace
#endif

namespace {

void CompressBlocks(uint32_t hash[5], const unsigned char *data, size_t blocks) {
#ifdef KV_SHA1_HW
  if (CpuFeatures() & CPU_SHA) {
    ShaBlocksHw(hash, data, blocks);
    return;
  }
#endif
  for (; blocks > 0; --blocks, data += SHA1_BLOCK_SIZE) CompressBlock(hash, data);
}

}  // namespace

void Sha1Compress(Sha1State *state) { CompressBlocks(state->hash, state->block, 1); }

void Sha1Hash(const void *data, uint32_t length, Sha1State *state) {
  if (length == 0) return;  // data may then be null
  const unsigned char *p = (const unsigned char *)data;
  uint32_t pos = state->count[0] & (SHA1_BLOCK_SIZE - 1);
  uint32_t low = state->count[0] + length;
  if (low < state->count[0]) ++state->count[1];
  state->count[0] = low;
  if (pos > 0) {
    uint32_t take = SHA1_BLOCK_SIZE - pos;
    if (take > length) take = length;
    memcpy(state->block + pos, p, take);
    p += take;
    length -= take;
    pos += take;
    if (pos < SHA1_BLOCK_SIZE) return;
    Sha1Compress(state);
  }
  // Whole blocks straight from the input; the rest waits in the buffer.
  CompressBlocks(state->hash, p, length / SHA1_BLOCK_SIZE);
  p += length & ~(SHA1_BLOCK_SIZE - 1);
  length &= SHA1_BLOCK_SIZE - 1;
  if (length > 0) memcpy(state->block, p, length);
}

void Sha1End(unsigned char digest[SHA1_DIGEST_SIZE], Sha1State *state) {
  uint32_t pos = state->count[0] & (SHA1_BLOCK_SIZE - 1);
  state->block[pos++] = 0x80;
  if (pos > 56) {
    memset(state->block + pos, 0, SHA1_BLOCK_SIZE - pos);
    Sha1Compress(state);
    pos = 0;
  }
  memset(state->block + pos, 0, 56 - pos);
  // Length in bits, big-endian.
  StoreBe32(state->block + 56, (state->count[1] << 3) | (state->count[0] >> 29));
  StoreBe32(state->block + 60, state->count[0] << 3);
  Sha1Compress(state);
  for (int i = 0; i < 5; ++i) StoreBe32(digest + 4 * i, state->hash[i]);
}

void HmacSha1Begin(HmacSha1State *state) { memset(state, 0, sizeof(*state)); }

int HmacSha1Key(const void *key, uint32_t length, HmacSha1State *state) {
  if (state->keyLength == HMAC_IN_DATA) return -1;
  // Key lengths beyond 4 GiB cannot be told from HMAC_IN_DATA; the system's keys are short.
  if ((uint64_t)state->keyLength + length <= SHA1_BLOCK_SIZE) {
    if (length > 0) memcpy(state->keyBlock + state->keyLength, key, length);
  } else {
    if (state->keyLength <= SHA1_BLOCK_SIZE) {
      // The key has outgrown the block: hash it from here on.
      Sha1Begin(&state->hash);
      Sha1Hash(state->keyBlock, state->keyLength, &state->hash);
    }
    Sha1Hash(key, length, &state->hash);
  }
  state->keyLength += length;
  return 0;
}

void HmacSha1Data(const void *data, uint32_t length, HmacSha1State *state) {
  if (state->keyLength != HMAC_IN_DATA) {
    if (state->keyLength > SHA1_BLOCK_SIZE) {
      Sha1End(state->keyBlock, &state->hash);
      state->keyLength = SHA1_DIGEST_SIZE;
    }
    memset(state->keyBlock + state->keyLength, 0, SHA1_BLOCK_SIZE - state->keyLength);
    for (uint32_t i = 0; i < SHA1_BLOCK_SIZE; ++i) state->keyBlock[i] ^= 0x36;
    Sha1Begin(&state->hash);
    Sha1Hash(state->keyBlock, SHA1_BLOCK_SIZE, &state->hash);
    state->keyLength = HMAC_IN_DATA;
  }
  if (length != 0) Sha1Hash(data, length, &state->hash);
}

void HmacSha1End(unsigned char *mac, uint32_t length, HmacSha1State *state) {
  unsigned char digest[SHA1_DIGEST_SIZE];
  if (state->keyLength != HMAC_IN_DATA) HmacSha1Data(nullptr, 0, state);
  Sha1End(digest, &state->hash);
  // Inner pad to outer pad: 0x36 ^ 0x5C.
  for (uint32_t i = 0; i < SHA1_BLOCK_SIZE; ++i) state->keyBlock[i] ^= 0x6A;
  Sha1Begin(&state->hash);
  Sha1Hash(state->keyBlock, SHA1_BLOCK_SIZE, &state->hash);
  Sha1Hash(digest, SHA1_DIGEST_SIZE, &state->hash);
  Sha1End(digest, &state->hash);
  if (length > SHA1_DIGEST_SIZE) length = SHA1_DIGEST_SIZE;
  memcpy(mac, digest, length);
}

#ifndef KV_SHA1_HW
constexpr int PBKDF2_LANES = 4;
#endif

void Pbkdf2HmacSha1(const void *password, uint32_t passwordLength, const void *salt, uint32_t saltLength,
                    uint32_t iterations, unsigned char *output, uint32_t outputLength) {
  // Key the password once. Its inner and outer states after the padded key
  // block are kept, so that every iteration after the first hashes one block
  // into each: U (20 bytes) and the padding of a 84-byte message.
  HmacSha1State passwordState, saltState, work;
  HmacSha1Begin(&passwordState);
  HmacSha1Key(password, passwordLength, &passwordState);
  saltState = passwordState;
  HmacSha1Data(salt, saltLength, &saltState);
  work = passwordState;
  HmacSha1Data(nullptr, 0, &work);
  uint32_t inner[5], outer[5];
  memcpy(inner, work.hash.hash, sizeof inner);
  for (uint32_t i = 0; i < SHA1_BLOCK_SIZE; ++i) work.keyBlock[i] ^= 0x6A;  // inner pad to outer pad
  Sha1Begin(&work.hash);
  Sha1Hash(work.keyBlock, SHA1_BLOCK_SIZE, &work.hash);
  memcpy(outer, work.hash.hash, sizeof outer);

  // Output blocks are independent: up to four run together.
  uint32_t blocks = outputLength == 0 ? 0 : (outputLength - 1) / SHA1_DIGEST_SIZE + 1;
  unsigned char acc[PBKDF2_LANES][SHA1_DIGEST_SIZE];
  unsigned char u[SHA1_BLOCK_SIZE];
  uint32_t h[5];
  for (uint32_t first = 1; first <= blocks; first += PBKDF2_LANES) {
    int lanes = blocks - first + 1 < (uint32_t)PBKDF2_LANES ? (int)(blocks - first + 1) : PBKDF2_LANES;
    memset(acc, 0, sizeof acc);
    for (int l = 0; l < lanes && iterations > 0; ++l) {
      // The first iteration hashes salt and block number: the general path.
      unsigned char index[4];
      StoreBe32(index, first + l);
      work = saltState;
      HmacSha1Data(index, 4, &work);
      HmacSha1End(acc[l], SHA1_DIGEST_SIZE, &work);
    }
#ifdef KV_SHA1_HW
    if (CpuFeatures() & CPU_SHA) {
      Pbkdf2IterateHw(inner, outer, acc, iterations);
    } else
#endif
    {
      for (int l = 0; l < lanes; ++l) {
        memcpy(u, acc[l], SHA1_DIGEST_SIZE);
        u[SHA1_DIGEST_SIZE] = 0x80;
        memset(u + SHA1_DIGEST_SIZE + 1, 0, SHA1_BLOCK_SIZE - SHA1_DIGEST_SIZE - 1 - 4);
        StoreBe32(u + SHA1_BLOCK_SIZE - 4, (SHA1_BLOCK_SIZE + SHA1_DIGEST_SIZE) * 8);
        for (uint32_t n = 1; n < iterations; ++n) {
          memcpy(h, inner, sizeof h);
          CompressBlocks(h, u, 1);
          for (int k = 0; k < 5; ++k) StoreBe32(u + 4 * k, h[k]);
          memcpy(h, outer, sizeof h);
          CompressBlocks(h, u, 1);
          for (int k = 0; k < 5; ++k) StoreBe32(u + 4 * k, h[k]);
          for (uint32_t j = 0; j < SHA1_DIGEST_SIZE; ++j) acc[l][j] ^= u[j];
        }
      }
    }
    for (int l = 0; l < lanes; ++l) {
      uint32_t offset = SHA1_DIGEST_SIZE * (first + l - 1);
      uint32_t take = outputLength - offset;
      if (take > SHA1_DIGEST_SIZE) take = SHA1_DIGEST_SIZE;
      memcpy(output + offset, acc[l], take);
    }
  }
  CryptoWipe(acc, sizeof acc);
  CryptoWipe(u, sizeof u);
  CryptoWipe(h, sizeof h);
  CryptoWipe(inner, sizeof inner);
  CryptoWipe(outer, sizeof outer);
  CryptoWipe(&passwordState, sizeof(passwordState));
  CryptoWipe(&saltState, sizeof(saltState));
  CryptoWipe(&work, sizeof(work));
}
