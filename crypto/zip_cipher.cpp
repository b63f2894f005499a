// The traditional ZIP cipher: key set-up from the password and the header check.
#include "zip_cipher.h"

void CipherInitKeys(CipherKeys *keys, const char *password) {
  keys->key[0] = 0x12345678u;
  keys->key[1] = 0x23456789u;
  keys->key[2] = 0x34567890u;
  if (password == nullptr) return;
  // Bytes as the user typed them: no sign or code-page change.
  for (const unsigned char *p = (const unsigned char *)password; *p != 0; ++p) CipherUpdateKeys(keys, *p);
}

void CipherDecrypt(CipherKeys *keys, unsigned char *data, size_t length) {
  // The same steps as CipherKeystreamByte and CipherUpdateKeys, arranged for
  // the byte-to-byte dependency chain, which alone sets the speed:
  // - the keys live in locals: a store through data may alias *keys, which
  //   would send every key through memory on every byte;
  // - the keystream byte is bits 8..15 of t * (t ^ 1) with t = k2 | 2, which
  //   only bits 1..15 of t decide; as an odd u = k2 | 3 that is u * u - u;
  // - the table index for key 0 takes the keystream product and the stored
  //   byte together, without waiting for the plain byte;
  // - key 1 is split as (k1 * C + 1) + low * C, so only the last multiply
  //   waits for key 0 (the empty asm stops the compiler folding it back);
  // - key 2's index is the top byte of k1 ^ (k2 << 24): no mask after it.
  const uint32_t kMul = 134775813u;
  uint32_t k0 = keys->key[0], k1 = keys->key[1], k2 = keys->key[2];
  for (size_t i = 0; i < length; ++i) {
    uint32_t stored = data[i];
    uint32_t u = k2 | 3;
    uint32_t product = u * u - u;
    uint32_t index = ((product ^ ((k0 ^ stored) << 8)) >> 8) & 0xFF;
    data[i] = (unsigned char)((product >> 8) ^ stored);
    k0 = kCrc32Table[index] ^ (k0 >> 8);
    uint32_t base = k1 * kMul + 1;
    __asm__("" : "+r"(base));
    k1 = base + (k0 & 0xFF) * kMul;
    k2 = kCrc32Table[(k1 ^ (k2 << 24)) >> 24] ^ (k2 >> 8);
  }
  keys->key[0] = k0;
  keys->key[1] = k1;
  keys->key[2] = k2;
}

int CipherCheckHeaderBytes(CipherKeys *keys, const char *password, const unsigned char header[ENCRYPTION_HEADER_SIZE],
                           uint32_t check) {
  unsigned char plain[ENCRYPTION_HEADER_SIZE];
  for (uint32_t i = 0; i < ENCRYPTION_HEADER_SIZE; ++i) plain[i] = header[i];
  CipherInitKeys(keys, password);
  CipherDecrypt(keys, plain, ENCRYPTION_HEADER_SIZE);
  // A zero check value (CRC unknown until the data descriptor) accepts any header.
  if (check == 0) return 1;
  return plain[ENCRYPTION_HEADER_SIZE - 1] == (uint8_t)(check >> 24) ? 1 : 0;
}
