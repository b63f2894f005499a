// SHA-1, HMAC-SHA1 and PBKDF2. No allocation, no global state.
#include "sha1.h"

#include <cstring>

#include "wipe.h"

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
  for (int i = first; i < first + 20; i += 5) {
    Step<Group>(a, b, c, d, e, Schedule(w, i));
    Step<Group>(e, a, b, c, d, Schedule(w, i + 1));
    Step<Group>(d, e, a, b, c, Schedule(w, i + 2));
    Step<Group>(c, d, e, a, b, Schedule(w, i + 3));
    Step<Group>(b, c, d, e, a, Schedule(w, i + 4));
  }
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

void Sha1Compress(Sha1State *state) { CompressBlock(state->hash, state->block); }

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
  for (; length >= SHA1_BLOCK_SIZE; p += SHA1_BLOCK_SIZE, length -= SHA1_BLOCK_SIZE) CompressBlock(state->hash, p);
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

void Pbkdf2HmacSha1(const void *password, uint32_t passwordLength, const void *salt, uint32_t saltLength,
                    uint32_t iterations, unsigned char *output, uint32_t outputLength) {
  // Key the password once; every iteration starts from a byte copy of it.
  HmacSha1State passwordState, saltState, work;
  HmacSha1Begin(&passwordState);
  HmacSha1Key(password, passwordLength, &passwordState);
  saltState = passwordState;
  HmacSha1Data(salt, saltLength, &saltState);
  uint32_t blocks = outputLength == 0 ? 0 : (outputLength - 1) / SHA1_DIGEST_SIZE + 1;
  for (uint32_t i = 1; i <= blocks; ++i) {
    unsigned char acc[SHA1_DIGEST_SIZE] = {0};
    unsigned char u[SHA1_DIGEST_SIZE];
    StoreBe32(u, i);
    uint32_t uLength = 4;
    work = saltState;
    for (uint32_t n = 0; n < iterations; ++n) {
      HmacSha1Data(u, uLength, &work);
      HmacSha1End(u, SHA1_DIGEST_SIZE, &work);
      uLength = SHA1_DIGEST_SIZE;
      for (uint32_t j = 0; j < SHA1_DIGEST_SIZE; ++j) acc[j] ^= u[j];
      work = passwordState;
    }
    uint32_t offset = SHA1_DIGEST_SIZE * (i - 1);
    uint32_t take = outputLength - offset;
    if (take > SHA1_DIGEST_SIZE) take = SHA1_DIGEST_SIZE;
    memcpy(output + offset, acc, take);
    CryptoWipe(acc, sizeof(acc));
    CryptoWipe(u, sizeof(u));
  }
  CryptoWipe(&passwordState, sizeof(passwordState));
  CryptoWipe(&saltState, sizeof(saltState));
  CryptoWipe(&work, sizeof(work));
}
