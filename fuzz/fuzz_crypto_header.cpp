// Arbitrary bytes as encryption header, password, salt, verifier, ciphertext
// and authentication code, through the traditional header check and the AES
// entry operations. Checks that the traditional buffer loop equals its
// one-byte steps, that AES decryption in arbitrary pieces equals
// decryption in one go (the pieces on the portable paths, the whole on the
// hardware ones where present), and that nothing reads or writes out of bounds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/aes_entry.h"
#include "crypto/cpu_dispatch.h"
#include "crypto/zip_cipher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  const uint8_t selector = data[0];
  const uint8_t passwordLength = data[1];  // up to 255: exercises the 128-byte limit
  const uint8_t pieceSeed = data[2];
  data += 3;
  size -= 3;

  // Traditional: the first 12 bytes as header, the rest as data.
  if (size >= ENCRYPTION_HEADER_SIZE) {
    char password[64];
    size_t n = passwordLength % sizeof password;
    if (n > size) n = size;
    memcpy(password, data, n);
    password[n] = '\0';
    CipherKeys keys;
    uint32_t check = (uint32_t)selector << 24;
    int accepted = CipherCheckHeaderBytes(&keys, password, data, check);
    if (selector & 1) accepted = CipherCheckHeaderBytes(&keys, password, data, 0);
    if (accepted) {
      // The buffer loop against the one-byte steps, split where the seed says.
      std::vector<unsigned char> rest(data + ENCRYPTION_HEADER_SIZE, data + size), steps = rest;
      CipherKeys stepKeys = keys;
      for (auto &b : steps) b = CipherUpdateKeys(&stepKeys, (uint8_t)(b ^ CipherKeystreamByte(&stepKeys)));
      size_t split = rest.empty() ? 0 : pieceSeed % (rest.size() + 1);
      CipherDecrypt(&keys, rest.data(), split);
      CipherDecrypt(&keys, rest.data() + split, rest.size() - split);
      if (rest != steps || memcmp(keys.key, stepKeys.key, sizeof keys.key) != 0) abort();
    }
  }

  // AES: mode 0..4 (0 and 4 refused), password, salt, verifier, data, code.
  uint32_t mode = selector % 5;
  size_t at = 0;
  size_t pwLen = passwordLength;
  if (pwLen > size) pwLen = size;
  std::vector<unsigned char> password(data, data + pwLen);
  at += pwLen;
  unsigned char salt[AES_SALT_MAX] = {0};
  size_t saltTake = size - at < AES_SALT_MAX ? size - at : AES_SALT_MAX;
  memcpy(salt, data + at, saltTake);
  at += saltTake;

  AesEntryState whole, pieces;
  memset(&whole, 0, sizeof whole);
  if ((selector & 0xE0) == 0xE0) {
    // The full key derivation is slow (1000 iterations), so one input in eight takes it.
    unsigned char verifier[AES_VERIFIER_SIZE] = {0xAB, 0xCD};
    int r = AesEntryInit(mode, password.data(), (uint32_t)password.size(), salt, verifier, &whole);
    if ((password.size() > AES_PASSWORD_MAX || mode < 1 || mode > 3) != (r != 0)) abort();
    if (r != 0) {
      if (verifier[0] != 0xAB || verifier[1] != 0xCD) abort();
      return 0;
    }
  } else {
    // The state AesEntryInit leaves, with the input's bytes as keys.
    if (mode < 1 || mode > 3) mode = 3;
    unsigned char keys[64] = {0};
    if (!password.empty()) memcpy(keys, password.data(), password.size() < sizeof keys ? password.size() : sizeof keys);
    whole.mode = mode;
    whole.keystreamPosition = AES_BLOCK_SIZE;
    if (AesSetEncryptKey(keys, AesKeyLength(mode), &whole.keySchedule) != 1) abort();
    HmacSha1Begin(&whole.authentication);
    HmacSha1Key(keys + 32, AesKeyLength(mode), &whole.authentication);
  }
  memcpy(&pieces, &whole, sizeof whole);  // plain bytes: a copy is a second, equal state

  std::vector<unsigned char> a(data + at, data + size), b = a;
  AesEntryDecrypt(a.data(), (uint32_t)a.size(), &whole);
  // The pieces take the portable paths: they must also equal the hardware ones.
  uint32_t paths = CpuLimitFeatures(0);
  size_t step = pieceSeed % 37 + 1;
  for (size_t i = 0; i < b.size();) {
    size_t take = b.size() - i < step ? b.size() - i : step;
    AesEntryDecrypt(b.data() + i, (uint32_t)take, &pieces);
    i += take;
    step = (step * 7 + 3) % 41 + 1;
  }
  if (a != b) abort();
  unsigned char macA[AES_MAC_SIZE], macB[AES_MAC_SIZE];
  AesEntryMac(macA, &whole);
  AesEntryMac(macB, &pieces);
  CpuLimitFeatures(paths);
  if (memcmp(macA, macB, AES_MAC_SIZE) != 0) abort();

  // The block cipher with any key length.
  AesKeySchedule ks;
  unsigned char key[32] = {0}, block[16] = {0};
  memcpy(key, salt, sizeof salt);
  uint32_t keyLength = (uint32_t)passwordLength + ((uint32_t)pieceSeed << 8);
  int set = AesSetEncryptKey(key, keyLength, &ks);
  if (AesEncryptBlock(block, block, &ks) != set) abort();
  return 0;
}
