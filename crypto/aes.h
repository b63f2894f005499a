// The AES block cipher (FIPS 197), encryption direction only: counter mode
// never needs the inverse cipher. Table-driven from the S-box.
#ifndef KV_AES_H
#define KV_AES_H

#include <cstddef>
#include <cstdint>

constexpr uint32_t AES_BLOCK_SIZE = 16;
constexpr uint32_t AES_FLAG_BLOCK = 16;    // always set by AesSetEncryptKey
constexpr uint32_t AES_FLAG_ENCRYPT = 1;   // an encryption key is in place

struct AesKeySchedule {
  uint32_t roundKeys[64];  // 44, 52 or 60 used
  uint32_t rounds;         // 10, 12 or 14; 0 after a refused key length
  uint32_t flags;
};

// Length in bytes (16, 24, 32) or bits (128, 192, 256). 1, or 0 for any
// other length (rounds then 0, no key set).
int AesSetEncryptKey(const unsigned char *key, uint32_t length, AesKeySchedule *schedule);
// 1, or 0 without writing when no encryption key is set. in and out may alias.
int AesEncryptBlock(const unsigned char in[AES_BLOCK_SIZE], unsigned char out[AES_BLOCK_SIZE],
                    const AesKeySchedule *schedule);

// Four independent blocks at once (faster than four single calls); same result and refusal.
int AesEncryptBlocks4(const unsigned char in[4 * AES_BLOCK_SIZE], unsigned char out[4 * AES_BLOCK_SIZE],
                      const AesKeySchedule *schedule);

// Counter mode over whole blocks, as AES entries use it: before each block
// the 64-bit little-endian counter in bytes 0..7 of the counter block is
// incremented (bytes 8..15 are left alone), the counter block is encrypted
// and the result XORed into the block of data. The counter block is left at
// the last counter, last at its encryption. 1, or 0 without writing anything
// when no key is set.
int AesCtrXorBlocks(unsigned char *data, size_t blocks, unsigned char counter[AES_BLOCK_SIZE],
                    unsigned char last[AES_BLOCK_SIZE], const AesKeySchedule *schedule);

#endif
