// The traditional ZIP cipher: key set-up from the password, the buffer
// decryption and the header check.
#include "zip_cipher.h"

namespace {

// Tables derived from the CRC table at first use (zero-filled storage costs
// the program file nothing; 16 KiB of stored bytes would):
// - gKey2Bits[i]: bits 2..15 of table[i], moved down to bits 0..13. The
//   keystream byte depends on exactly these bits of key 2.
// - gKey0Low[s]: the low byte of table[keystream byte of key-2 bits s]. The
//   CRC table is linear (table[a ^ b] = table[a] ^ table[b]), so key 0's step
//   splits into this part and one that does not wait for the keystream.
uint16_t gKey2Bits[256];
uint8_t gKey0Low[1u << 14];
bool gTablesReady = false;

inline uint32_t KeystreamOfBits(uint32_t bits) {
  // t = bits 0..15 of key 2 with bit 1 set; t * (t ^ 1) is the same for
  // either value of bit 0, and as u * u - u with the odd u = t | 1.
  uint32_t u = (bits << 2) | 3;
  return ((u * u - u) >> 8) & 0xFF;
}

void PrepareTables() {
  for (uint32_t i = 0; i < 256; ++i) gKey2Bits[i] = (uint16_t)((kCrc32Table[i] >> 2) & 0x3FFF);
  for (uint32_t s = 0; s < (1u << 14); ++s) gKey0Low[s] = (uint8_t)kCrc32Table[KeystreamOfBits(s)];
  gTablesReady = true;
}

}  // namespace

void CipherInitKeys(CipherKeys *keys, const char *password) {
  keys->key[0] = 0x12345678u;
  keys->key[1] = 0x23456789u;
  keys->key[2] = 0x34567890u;
  if (password == nullptr) return;
  // Bytes as the user typed them: no sign or code-page change.
  for (const unsigned char *p = (const unsigned char *)password; *p != 0; ++p) CipherUpdateKeys(keys, *p);
}

void CipherDecrypt(CipherKeys *keys, unsigned char *data, size_t length) {
  // The same steps as CipherKeystreamByte and CipherUpdateKeys, arranged so
  // that the byte-to-byte dependency chain, which alone sets the speed, is
  // key 1's top byte -> table load -> xor -> table load -> xor -> multiply ->
  // add, back to key 1's top byte. Everything else runs beside it:
  // - s holds the keystream bits of key 2, taken straight from the step's
  //   table entry (gKey2Bits) and from the part of the step that needs only
  //   the previous key 2 (r), with no shift or mask after the load;
  // - key 0's step is table[low0 ^ stored ^ keystream] ^ (key 0 >> 8), with
  //   low0 key 0's low byte; it splits by linearity into q (no keystream)
  //   and table[keystream], whose low byte gKey0Low gives without waiting
  //   for the keystream byte itself;
  // - key 1 is (k1 * C + 1) + low0 * C, so only the last multiply waits for
  //   key 0 (the empty asm stops the compiler folding it back);
  // - the keys live in locals: a store through data may alias *keys.
  if (length == 0) return;
  if (!gTablesReady) PrepareTables();
  const uint32_t kMul = 134775813u;
  uint32_t k0 = keys->key[0], k1 = keys->key[1], k2 = keys->key[2];
  uint32_t low0 = k0 & 0xFF;
  uint32_t s = (k2 >> 2) & 0x3FFF;
  for (size_t i = 0; i < length; ++i) {
    uint32_t stored = data[i];
    uint32_t q = kCrc32Table[low0 ^ stored] ^ (k0 >> 8);
    uint32_t qLow = q & 0xFF;
    __asm__("" : "+r"(qLow));  // masked beside the chain, not after the xor on it
    low0 = gKey0Low[s] ^ qLow;
    uint32_t keystream = KeystreamOfBits(s);
    data[i] = (unsigned char)(stored ^ keystream);
    k0 = kCrc32Table[keystream] ^ q;
    uint32_t base = k1 * kMul + 1;
    __asm__("" : "+r"(base));
    k1 = base + low0 * kMul;
    uint32_t r = kCrc32Table[k2 & 0xFF] ^ (k2 >> 8);
    uint32_t top = k1 >> 24;
    k2 = kCrc32Table[top] ^ r;
    s = gKey2Bits[top] ^ ((r >> 2) & 0x3FFF);
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
