// SHA-1 (FIPS 180), HMAC-SHA1 (RFC 2104) and PBKDF2 over HMAC-SHA1
// (RFC 2898). The state records hold no pointers: a state is duplicated by
// copying its bytes, which PBKDF2 uses to key the password once.
#ifndef KV_SHA1_H
#define KV_SHA1_H

#include <cstdint>

constexpr uint32_t SHA1_BLOCK_SIZE = 64;
constexpr uint32_t SHA1_DIGEST_SIZE = 20;
constexpr uint32_t HMAC_IN_DATA = 0xFFFFFFFFu;  // key length once the data phase has begun

struct Sha1State {
  uint32_t count[2];  // bytes absorbed, low word first
  uint32_t hash[5];   // chaining values H0..H4
  unsigned char block[SHA1_BLOCK_SIZE];
};

struct HmacSha1State {
  unsigned char keyBlock[SHA1_BLOCK_SIZE];  // key bytes, later the key XOR the inner (then outer) pad
  Sha1State hash;
  uint32_t keyLength;  // key bytes so far, or HMAC_IN_DATA
};
static_assert(sizeof(HmacSha1State) == 160, "HMAC state is copied as 160 plain bytes");

void Sha1Begin(Sha1State *state);
void Sha1Hash(const void *data, uint32_t length, Sha1State *state);
void Sha1End(unsigned char digest[SHA1_DIGEST_SIZE], Sha1State *state);
void Sha1Compress(Sha1State *state);

// An all-zero state is an empty state in the key phase.
void HmacSha1Begin(HmacSha1State *state);
// 0, or -1 (state unchanged) once the data phase has begun.
int HmacSha1Key(const void *key, uint32_t length, HmacSha1State *state);
// Ends the key phase on its first call; data may be null when length is 0.
void HmacSha1Data(const void *data, uint32_t length, HmacSha1State *state);
// Writes the first length (1..20) bytes of the MAC; the state is then spent.
void HmacSha1End(unsigned char *mac, uint32_t length, HmacSha1State *state);

void Pbkdf2HmacSha1(const void *password, uint32_t passwordLength, const void *salt, uint32_t saltLength,
                    uint32_t iterations, unsigned char *output, uint32_t outputLength);

#endif
