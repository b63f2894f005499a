// The traditional ZIP stream cipher: three 32-bit keys advanced by every
// plain byte, a keystream byte drawn from key 2, and the 12-byte encryption
// header that lets a wrong password be caught before any data is decoded.
#ifndef KV_ZIP_CIPHER_H
#define KV_ZIP_CIPHER_H

#include <cstddef>
#include <cstdint>

#include "crc32.h"

constexpr uint32_t ENCRYPTION_HEADER_SIZE = 12;

struct CipherKeys {
  uint32_t key[3];
};

inline uint8_t CipherUpdateKeys(CipherKeys *keys, uint8_t b) {
  keys->key[0] = Crc32Step(keys->key[0], b);
  keys->key[1] = (keys->key[1] + (keys->key[0] & 0xFF)) * 134775813u + 1;
  keys->key[2] = Crc32Step(keys->key[2], (uint8_t)(keys->key[1] >> 24));
  return b;
}

inline uint8_t CipherKeystreamByte(const CipherKeys *keys) {
  uint32_t t = (keys->key[2] & 0xFFFF) | 2;
  return (uint8_t)((t * (t ^ 1)) >> 8);
}

// Sets the keys from a terminated password, byte for byte as stored.
void CipherInitKeys(CipherKeys *keys, const char *password);

// Decrypts a piece in place, advancing the keys by every plain byte.
void CipherDecrypt(CipherKeys *keys, unsigned char *data, size_t length);

// The pure header check: initialises keys from the password, decrypts a copy
// of the 12 stored bytes and compares the last plain byte with the high byte
// of check (check 0 accepts any header). Returns 1 accepted, 0 rejected; the
// keys then stand where the first data byte's decryption begins. The stored
// bytes are left as they were, so another password can be tried on them.
int CipherCheckHeaderBytes(CipherKeys *keys, const char *password, const unsigned char header[ENCRYPTION_HEADER_SIZE],
                           uint32_t check);

#endif
