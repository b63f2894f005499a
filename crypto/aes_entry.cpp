// AES entries: key derivation, counter-mode keystream and authentication.
#include "aes_entry.h"

#include <cstring>

#include "wipe.h"

int AesEntryInit(uint32_t mode, const void *password, uint32_t passwordLength, const unsigned char *salt,
                 unsigned char verifier[AES_VERIFIER_SIZE], AesEntryState *state) {
  if (passwordLength > AES_PASSWORD_MAX) return AES_ERR_PASSWORD_LENGTH;
  if (mode < 1 || mode > 3) return AES_ERR_MODE;
  state->mode = mode;
  state->passwordLength = passwordLength;
  uint32_t keyLength = AesKeyLength(mode);
  unsigned char derived[AES_DERIVED_MAX];
  Pbkdf2HmacSha1(password, passwordLength, salt, AesSaltLength(mode), AES_PBKDF2_ITERATIONS, derived,
                 AesDerivedLength(mode));
  state->keystreamPosition = AES_BLOCK_SIZE;
  for (uint32_t i = 0; i < AES_BLOCK_SIZE; ++i) state->counterBlock[i] = 0;
  AesSetEncryptKey(derived, keyLength, &state->keySchedule);
  HmacSha1Begin(&state->authentication);
  HmacSha1Key(derived + keyLength, keyLength, &state->authentication);
  verifier[0] = derived[2 * keyLength];
  verifier[1] = derived[2 * keyLength + 1];
  CryptoWipe(derived, sizeof(derived));
  return 0;
}

namespace {

// 64-bit little-endian increment in bytes 0..7; bytes 8..15 stay zero.
inline void CounterIncrement(unsigned char counter[AES_BLOCK_SIZE]) {
  for (int j = 0; j < 8; ++j) {
    if (++counter[j] != 0) break;
  }
}

}  // namespace

void AesCtrXor(unsigned char *data, uint32_t length, AesEntryState *state) {
  uint32_t pos = state->keystreamPosition;
  while (length > 0) {
    if (pos >= AES_BLOCK_SIZE && length >= AES_BLOCK_SIZE) {
      // Whole blocks at once, the common case inside a piece. The state is
      // left as after single steps: the last counter and its block. Without
      // a key nothing is written and the byte-wise steps below take over.
      uint32_t whole = length & ~(AES_BLOCK_SIZE - 1);
      if (AesCtrXorBlocks(data, whole / AES_BLOCK_SIZE, state->counterBlock, state->keystreamBlock,
                          &state->keySchedule)) {
        data += whole;
        length -= whole;
        continue;
      }
    }
    if (pos >= AES_BLOCK_SIZE) {
      CounterIncrement(state->counterBlock);
      AesEncryptBlock(state->counterBlock, state->keystreamBlock, &state->keySchedule);
      pos = 0;
    }
    *data++ ^= state->keystreamBlock[pos++];
    --length;
  }
  state->keystreamPosition = pos;
}

void AesEntryDecrypt(unsigned char *data, uint32_t length, AesEntryState *state) {
  HmacSha1Data(data, length, &state->authentication);
  AesCtrXor(data, length, state);
}

int AesEntryMac(unsigned char mac[AES_MAC_SIZE], AesEntryState *state) {
  HmacSha1End(mac, AES_MAC_SIZE, &state->authentication);
  return (int)AES_MAC_SIZE;
}
