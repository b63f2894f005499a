// AES-encrypted ZIP entries: keys derived from the password and the entry's
// salt, AES in counter mode with a little-endian block counter, HMAC-SHA1
// over the encrypted data and a 10-byte authentication code at the end.
#ifndef KV_AES_ENTRY_H
#define KV_AES_ENTRY_H

#include <cstdint>

#include "aes.h"
#include "sha1.h"

constexpr uint32_t AES_PASSWORD_MAX = 128;
constexpr uint32_t AES_VERIFIER_SIZE = 2;
constexpr uint32_t AES_MAC_SIZE = 10;
constexpr uint32_t AES_PBKDF2_ITERATIONS = 1000;
constexpr uint32_t AES_SALT_MAX = 16;
constexpr uint32_t AES_DERIVED_MAX = 66;
constexpr int AES_ERR_PASSWORD_LENGTH = -100;
constexpr int AES_ERR_MODE = -101;

// Mode 1, 2, 3: AES-128, -192, -256.
inline uint32_t AesKeyLength(uint32_t mode) { return 8 * mode + 8; }
inline uint32_t AesSaltLength(uint32_t mode) { return 4 * mode + 4; }
inline uint32_t AesDerivedLength(uint32_t mode) { return 2 * AesKeyLength(mode) + 2; }

struct AesEntryState {
  unsigned char counterBlock[AES_BLOCK_SIZE];    // bytes 0..7 a little-endian counter, 8..15 zero
  unsigned char keystreamBlock[AES_BLOCK_SIZE];  // encryption of the counter block
  AesKeySchedule keySchedule;
  HmacSha1State authentication;                  // keyed with the HMAC key, fed the encrypted data
  uint32_t keystreamPosition;                    // next keystream byte, 16 = a new block is needed
  uint32_t passwordLength;
  uint32_t mode;
};

// Derives the keys (PBKDF2, 1000 iterations) and writes the 2-byte password
// verifier. 0; AES_ERR_PASSWORD_LENGTH above 128 bytes; AES_ERR_MODE for a
// mode outside 1..3. Nothing changes on a negative result.
int AesEntryInit(uint32_t mode, const void *password, uint32_t passwordLength, const unsigned char *salt,
                 unsigned char verifier[AES_VERIFIER_SIZE], AesEntryState *state);
// XORs the keystream into data in place, continuing where the last call stopped.
void AesCtrXor(unsigned char *data, uint32_t length, AesEntryState *state);
// Authenticates the piece as given (still encrypted), then decrypts it in place.
void AesEntryDecrypt(unsigned char *data, uint32_t length, AesEntryState *state);
// Writes the computed 10-byte authentication code; returns 10.
int AesEntryMac(unsigned char mac[AES_MAC_SIZE], AesEntryState *state);

#endif
