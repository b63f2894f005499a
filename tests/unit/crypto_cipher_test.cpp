// The traditional cipher and AES entries on real encryptions: a reference
// encryption made in Python, a stored entry from Info-ZIP `zip -P`, and stored
// AES-128/192/256 entries made by 7-Zip (password "SECRET"), cut from the
// archives' local entries (salt, verifier, data, code in file order).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crypto/aes_entry.h"
#include "crypto/zip_cipher.h"

namespace {

std::vector<unsigned char> FromHex(const char *hex) {
  std::vector<unsigned char> out;
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) out.push_back((unsigned char)std::stoi(std::string(hex + i, 2), nullptr, 16));
  return out;
}

// The 300-byte file inside the fixture archives.
std::vector<unsigned char> Pattern(size_t n) {
  std::vector<unsigned char> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = (unsigned char)(i * 37 + 11);
  return v;
}

uint32_t Crc32Of(const std::vector<unsigned char> &d) {
  return ~Crc32Update(0xFFFFFFFFu, d.data(), d.size());
}

// Header and data encrypted with "pa\xe9ss w\xf6rd" by a Python transcription
// of the cipher; the header's last plain byte is the CRC's high byte 0x62.
const unsigned char kTraditional[] = {
    0x0a, 0x63, 0xec, 0xb0, 0x7c, 0x4d, 0x41, 0x03, 0x5d, 0x55, 0xfb, 0x41, 0xb5, 0x00, 0x5f, 0x0b, 0xff, 0xea, 0x51, 0x32,
    0x88, 0xba, 0xe4, 0x6b, 0xbb, 0xba, 0x1d, 0xae, 0xb4, 0x9e, 0x9a, 0xee, 0x25, 0x24, 0xfc, 0x16, 0x36, 0x5d, 0x20, 0xbc,
    0x22, 0x1b, 0xc7, 0x07, 0x7d, 0xd1, 0xc8, 0xc9, 0xf5, 0x57, 0xf5, 0x41, 0xb3, 0x7b, 0x1d, 0xe1, 0x65, 0x6c, 0xef, 0x42};
const char kTraditionalPlain[] = "Kivrel traditional cipher test data, 0123456789.";
const uint32_t kTraditionalCrc = 0x62d19c5e;

// zip -0 -P zip-pass (general-purpose flags 9: data descriptor, so no CRC check at the header).
const char kInfoZipEntry[] =
    "31a9f8c9d6138b0c22a79fe8b1ee68e37ff3dc09aaacf5b702fa820be78e0f38fed0524016ba923309af1ef5adce3f99"
    "dbe3e99d03bc7a3e55cc470848cfcdc37c58428530b0cc04115c7b6256ff01fa2a4cfee3d7fb3a9957acfb2ca0610d40"
    "5192535b992c4da74788f8bc7640ac0b33c00618f15c704ca8fe87d4667d55e65ca94d2f2913dfaa8c8fa2b91744a21e"
    "722e9337e15978e3b23356d6fa615031d4052a0149236d7aaf2d4f63292bbc719bff7664bd4c3310e7ba6f55d580fdf0"
    "58db0eef78adac84a79df7257ca6c495d4420c025c81058962984bd427a9ff2455bc401e32a997983c6d6e17d0ee5a0e"
    "fd14045bc2235155f9aca83541eda11598395ac71f80446192491fe885d3d0274f11e7116d0b0e31f2f21dc0e8a7ae6f"
    "002bb6a55e81a4c87ef5bb3954f25358a5c5fd430fa9a06c";

const char *const kAesEntries[3] = {
    // 7zz a -tzip -mx0 -mem=AES128 -pSECRET
    "db43693944a46aa4f942432c8fa48e6c5aea1540014e5d6aa4da3726880919ac927a2fd5f8799773b15fc22aa85fa4cc"
    "e5fbfb722fa77ebaae1f0086bedd354d110599da81b18de9d128807fe283308a62ec24f89773b7f50552520c2fbe82bc"
    "276e9b2e2a15151d1ae361d041dafc893f4ffcbd512994552997ce0e4bdeb56b84cbad709b806da90e81eca48b67b330"
    "12ef7972e37346fa235f4f250e4333e871ac6fe6f3b9116318721be881f22c6c82ffa9328a6e950fc38b33c9f9a82198"
    "c817b6ebfd1af7c599e54946c901b4afdea377671a039ed98aa708f0e5ef56c756b3a04733767a53e6ecdaaad5a05de8"
    "aa02c8ed7407a4b5a7199700d7b9d3e8141eefb30bbbb13fa560df6cb3c4fe0365f82a8940400263d6dc96c9b3565c2d"
    "4db9017264b4a9fe3bf668694d858823e685fadcd6cc770becb0d472660ce728",
    // -mem=AES192
    "0a05f698150d5eda13fb44268626213e3ecb7934018868dcce65f459abb3d20d98e15bccce454f82836219c4872601b6"
    "f1dec05a3c72a29750bb5a424821568f9651fe52804fda81cef403c6edf4f86554aab38e2dd2a16595c275a713ca1886"
    "8b74bb8c9d4745a30e32b39ae44a9fe226449cb57c6894198290635fcbaa0031afd68598effbe7f2514d1e2c78254dca"
    "1f17360c6ba752b0d95d1503d13fdb748c87f2351a44253631596fc09ecfdbcbf0331598855e9b69089d7a096e355bf0"
    "7791fb655b1b8fd616168757c6efe763aa2e2517dfbd9179a08aa2bbc89ac60dc807c24cf4e469dfc92a8da017ee7714"
    "f85ff41c31bc7cb02f9078d52cef1de2e4e9a8b5e2cf6b2ca443878af264798b2a65e495c283df17b4698a3610b419e2"
    "aecd79a3f709425f5b898790f669e210838217fc270d50b0f55b27ef36dc446d65ae3ed4",
    // -mem=AES256
    "a35e79346469a2bc82af62195802d71c299dcdb29b92e0438c3757d4938271f280d8ad1e0a57a0c19b54f1aa0a9175f2"
    "c39278b09b18a27a552c1d8afc04baf5364ee9788f2a8bcc2b49f5147828519e0ba08b017e82b0eccc27c874b7ae3a0b"
    "96696f0fbb757550e3c221e64abe4fe8bca79e52338c2f7643526ee5589df6d8917b838e95dd346da096f5227a4af75b"
    "4d5285b78ab00558d3da3d587ca0ae7a08dfb91b1368603ab45259bd0c844e9da5d8b1d47d842289c994017e433a8e92"
    "3bc4151fae30ca969b38773b36250cc9f429be7dcba375210064f8922206dd8ac075400ae5dba0e93e33d4c779718187"
    "c564ff536da2c6531271ae85b74b943ecc395abb6617e0f1ad7bc6cf4b37f8c3c5713273b5dd5597cfa3670ae1d9f8ce"
    "178fda22b8032e8ba0bfa96acbaa5a91a40e836881b8be2eb74639d935b8c5d6a39e1b45d728e6a3",
};

}  // namespace

TEST(TraditionalCipher, HeaderCheckAndDecryptionOfAReferenceEncryption) {
  const char *password = "pa\xe9ss w\xf6rd";  // bytes above 0x7F used as stored
  CipherKeys keys;
  const unsigned char *header = kTraditional;
  const std::vector<unsigned char> headerCopy(header, header + 12);
  struct Case {
    const char *password;
    uint32_t check;
    int accepted;
  } cases[] = {
      {password, kTraditionalCrc, 1},
      {password, 0, 1},
      {"pa\xe9ss w\xf6rD", kTraditionalCrc, 0},
      {"", kTraditionalCrc, 0},
      {"wrong", 0, 1},  // no CRC to compare: any password passes the header
  };
  for (const auto &c : cases) {
    EXPECT_EQ(c.accepted, CipherCheckHeaderBytes(&keys, c.password, header, c.check)) << c.password;
    EXPECT_EQ(0, memcmp(header, headerCopy.data(), 12)) << "stored header changed";
  }
  // Accepted: the keys stand at the first data byte. Decrypt in uneven pieces.
  ASSERT_EQ(1, CipherCheckHeaderBytes(&keys, password, header, kTraditionalCrc));
  std::vector<unsigned char> data(kTraditional + 12, kTraditional + sizeof kTraditional);
  CipherDecrypt(&keys, data.data(), 5);
  for (size_t i = 5; i < 9; ++i) {
    data[i] = CipherUpdateKeys(&keys, (uint8_t)(data[i] ^ CipherKeystreamByte(&keys)));
  }
  CipherDecrypt(&keys, data.data() + 9, data.size() - 9);
  EXPECT_EQ(std::string(kTraditionalPlain), std::string(data.begin(), data.end()));
  EXPECT_EQ(kTraditionalCrc, Crc32Of(data));
}

TEST(TraditionalCipher, InitialKeysAndEmptyPassword) {
  CipherKeys a, b;
  CipherInitKeys(&a, "");
  CipherInitKeys(&b, nullptr);
  EXPECT_EQ(0x12345678u, a.key[0]);
  EXPECT_EQ(0x23456789u, a.key[1]);
  EXPECT_EQ(0x34567890u, a.key[2]);
  EXPECT_EQ(0, memcmp(&a, &b, sizeof a));
}

TEST(TraditionalCipher, InfoZipStoredEntry) {
  std::vector<unsigned char> entry = FromHex(kInfoZipEntry);
  ASSERT_EQ(312u, entry.size());
  CipherKeys keys;
  ASSERT_EQ(1, CipherCheckHeaderBytes(&keys, "zip-pass", entry.data(), 0));
  std::vector<unsigned char> data(entry.begin() + 12, entry.end());
  CipherDecrypt(&keys, data.data(), data.size());
  EXPECT_EQ(Pattern(300), data);
  EXPECT_EQ(0x32ec5e76u, Crc32Of(data));
}

namespace {

struct AesPieces {
  std::vector<unsigned char> salt, verifier, data, mac;
};

AesPieces CutAesEntry(uint32_t mode) {
  std::vector<unsigned char> e = FromHex(kAesEntries[mode - 1]);
  size_t s = AesSaltLength(mode);
  AesPieces p;
  p.salt.assign(e.begin(), e.begin() + s);
  p.verifier.assign(e.begin() + s, e.begin() + s + 2);
  p.data.assign(e.begin() + s + 2, e.end() - 10);
  p.mac.assign(e.end() - 10, e.end());
  return p;
}

}  // namespace

TEST(AesEntry, SevenZipEntriesDecryptAndAuthenticateInOddPieces) {
  for (uint32_t mode = 1; mode <= 3; ++mode) {
    SCOPED_TRACE(mode);
    AesPieces p = CutAesEntry(mode);
    ASSERT_EQ(300u, p.data.size());
    for (size_t piece : {300, 1, 5, 15, 16, 17, 100}) {
      AesEntryState st;
      memset(&st, 0, sizeof st);
      unsigned char verifier[2];
      ASSERT_EQ(0, AesEntryInit(mode, "SECRET", 6, p.salt.data(), verifier, &st));
      EXPECT_EQ(mode, st.mode);
      EXPECT_EQ(6u, st.passwordLength);
      EXPECT_EQ(0, memcmp(verifier, p.verifier.data(), 2));
      std::vector<unsigned char> d = p.data;
      for (size_t at = 0; at < d.size(); at += piece) {
        AesEntryDecrypt(d.data() + at, (uint32_t)std::min(piece, d.size() - at), &st);
      }
      EXPECT_EQ(Pattern(300), d) << "pieces of " << piece;
      unsigned char mac[10];
      EXPECT_EQ(10, AesEntryMac(mac, &st));
      EXPECT_EQ(0, memcmp(mac, p.mac.data(), 10)) << "pieces of " << piece;
    }
  }
}

TEST(AesEntry, WrongPasswordAndAlteredDataAreCaught) {
  AesPieces p = CutAesEntry(3);
  AesEntryState st;
  unsigned char verifier[2];
  ASSERT_EQ(0, AesEntryInit(3, "SECRET", 6, p.salt.data(), verifier, &st));
  ASSERT_EQ(0, memcmp(verifier, p.verifier.data(), 2));
  std::vector<unsigned char> d = p.data;
  d[150] ^= 0x01;
  AesEntryDecrypt(d.data(), (uint32_t)d.size(), &st);
  unsigned char mac[10];
  AesEntryMac(mac, &st);
  EXPECT_NE(0, memcmp(mac, p.mac.data(), 10)) << "a flipped data byte must change the code";
  // Wrong passwords give other verifiers (for this salt; in general 1 in 65536 collide).
  for (const char *pw : {"secret", "SECRET ", "", "SECRE"}) {
    ASSERT_EQ(0, AesEntryInit(3, pw, (uint32_t)strlen(pw), p.salt.data(), verifier, &st));
    EXPECT_NE(0, memcmp(verifier, p.verifier.data(), 2)) << pw;
  }
}

TEST(AesEntry, InitRefusalsChangeNothingAnd128BytesIsAccepted) {
  unsigned char salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  std::string pw(129, 'p');
  struct Case {
    uint32_t mode, length;
    int result;
  } cases[] = {{1, 129, -100}, {3, 1000, -100}, {0, 6, -101}, {4, 6, -101}, {0xFFFFFFFF, 6, -101}};
  for (const auto &c : cases) {
    AesEntryState st, before;
    memset(&st, 0xA5, sizeof st);
    memcpy(&before, &st, sizeof st);
    unsigned char verifier[2] = {0x11, 0x22};
    EXPECT_EQ(c.result, AesEntryInit(c.mode, pw.data(), c.length, salt, verifier, &st));
    EXPECT_EQ(0, memcmp(&st, &before, sizeof st));
    EXPECT_EQ(0x11, verifier[0]);
    EXPECT_EQ(0x22, verifier[1]);
  }
  AesEntryState st;
  unsigned char verifier[2];
  EXPECT_EQ(0, AesEntryInit(2, pw.data(), 128, salt, verifier, &st));
  // The verifier is the last two bytes of the derivation.
  unsigned char derived[50];
  Pbkdf2HmacSha1(pw.data(), 128, salt, 12, 1000, derived, 50);
  EXPECT_EQ(derived[48], verifier[0]);
  EXPECT_EQ(derived[49], verifier[1]);
  EXPECT_EQ(16u, st.keystreamPosition);
}

TEST(AesEntry, CounterIsLittleEndianAndNeverCarriesIntoTheUpperHalf) {
  unsigned char salt[8] = {0};
  AesEntryState st;
  unsigned char verifier[2];
  ASSERT_EQ(0, AesEntryInit(1, "pw", 2, salt, verifier, &st));
  AesKeySchedule ks = st.keySchedule;
  // Keystream = XOR into zeros. Block 256 (the 256th block) comes from 00 01 00 ... 00.
  std::vector<unsigned char> zeros(256 * 16 + 3, 0);
  AesCtrXor(zeros.data(), 7, &st);
  AesCtrXor(zeros.data() + 7, (uint32_t)zeros.size() - 7, &st);
  unsigned char counter[16] = {0}, expect[16];
  counter[0] = 1;
  AesEncryptBlock(counter, expect, &ks);
  EXPECT_EQ(0, memcmp(zeros.data(), expect, 16)) << "first block encrypts 01 00 ... 00";
  counter[0] = 0;
  counter[1] = 1;
  AesEncryptBlock(counter, expect, &ks);
  EXPECT_EQ(0, memcmp(zeros.data() + 255 * 16, expect, 16)) << "byte 0 carries into byte 1";
  counter[0] = 1;
  AesEncryptBlock(counter, expect, &ks);
  EXPECT_EQ(0, memcmp(zeros.data() + 256 * 16, expect, 3)) << "continues into block 257";
  EXPECT_EQ(3u, st.keystreamPosition);

  // A full 64-bit wrap goes back to zero in bytes 0..7 and leaves 8..15 alone.
  memset(st.counterBlock, 0xFF, 8);
  st.keystreamPosition = 16;
  unsigned char block[16] = {0};
  AesCtrXor(block, 16, &st);
  unsigned char allZero[16] = {0};
  AesEncryptBlock(allZero, expect, &ks);
  EXPECT_EQ(0, memcmp(block, expect, 16));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(0, st.counterBlock[i]) << i;
}

TEST(AesEntry, EmptyDataHasTheCodeOfTheEmptyMessage) {
  unsigned char salt[16] = {9};
  AesEntryState st;
  unsigned char verifier[2];
  ASSERT_EQ(0, AesEntryInit(3, "pw", 2, salt, verifier, &st));
  unsigned char mac[10];
  AesEntryMac(mac, &st);
  unsigned char derived[66], expect[20];
  Pbkdf2HmacSha1("pw", 2, salt, 16, 1000, derived, 66);
  HmacSha1State h;
  HmacSha1Begin(&h);
  HmacSha1Key(derived + 32, 32, &h);
  HmacSha1End(expect, 20, &h);
  EXPECT_EQ(0, memcmp(mac, expect, 10));
}
