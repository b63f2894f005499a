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
  for (size_t i = 0; i < length; ++i) data[i] = CipherUpdateKeys(keys, (uint8_t)(data[i] ^ CipherKeystreamByte(keys)));
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
