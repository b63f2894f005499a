// The traditional cipher and AES entries on real encryptions, first through
// the cipher operations, then through the per-entry set-up and check on a
// hand-built stream over a temporary file with a scripted password prompt.
// Fixtures: a reference encryption made in Python, a stored entry from
// Info-ZIP `zip -P`, and stored AES-128/192/256 entries made by 7-Zip
// (password "SECRET"), cut from the archives' local entries (salt, verifier,
// data, code in file order).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archive/entry_crypto.h"
#include "archive/entry_stream.h"
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
// The empty password, check byte 0xA7.
const unsigned char kEmptyPassword[] = {0xaa, 0x30, 0x3c, 0x1d, 0x09, 0xb0, 0x41, 0xa3, 0x11, 0xe1, 0x7d, 0x4b, 0xfa,
                                        0x66, 0x41, 0x58, 0x49, 0x78, 0x00, 0x78, 0x43, 0x92, 0x4c, 0x8d, 0xa5, 0x22};

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

// The buffer loop is a rearranged form of the one-byte steps: it must agree
// with them for any keys, data and piece boundaries.
TEST(TraditionalCipher, BufferLoopEqualsOneByteSteps) {
  std::mt19937 rng(12);
  for (const char *password : {"", "p", "zip-pass", "\xff\x80 long enough password for every key"}) {
    std::vector<unsigned char> cipher(97);
    for (auto &b : cipher) b = (unsigned char)rng();
    CipherKeys stepKeys;
    CipherInitKeys(&stepKeys, password);
    std::vector<unsigned char> expected = cipher;
    for (auto &b : expected) b = CipherUpdateKeys(&stepKeys, (uint8_t)(b ^ CipherKeystreamByte(&stepKeys)));
    for (size_t split = 0; split <= cipher.size(); ++split) {
      CipherKeys keys;
      CipherInitKeys(&keys, password);
      std::vector<unsigned char> data = cipher;
      CipherDecrypt(&keys, data.data(), split);
      CipherDecrypt(&keys, data.data() + split, data.size() - split);
      ASSERT_EQ(expected, data) << password << " split " << split;
      ASSERT_EQ(0, memcmp(stepKeys.key, keys.key, sizeof keys.key)) << password << " split " << split;
    }
  }
  // A long run reaches every state of key 2's keystream bits the loop looks up.
  std::vector<unsigned char> data(1u << 20);
  for (auto &b : data) b = (unsigned char)rng();
  CipherKeys stepKeys, keys;
  CipherInitKeys(&stepKeys, "long run");
  keys = stepKeys;
  std::vector<unsigned char> expected = data;
  for (auto &b : expected) b = CipherUpdateKeys(&stepKeys, (uint8_t)(b ^ CipherKeystreamByte(&stepKeys)));
  CipherDecrypt(&keys, data.data(), data.size());
  EXPECT_EQ(expected, data);
  EXPECT_EQ(0, memcmp(stepKeys.key, keys.key, sizeof keys.key));
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

  // A full 64-bit wrap goes back to zero in bytes 0..7 and leaves 8..15 alone,
  // for a single block and inside a run of whole blocks alike.
  for (uint32_t length : {16u, 80u}) {
    memset(st.counterBlock, 0xFF, 8);
    st.keystreamPosition = 16;
    std::vector<unsigned char> run(length, 0);
    AesCtrXor(run.data(), length, &st);
    unsigned char next[16] = {0};
    for (uint32_t b = 0; b < length / 16; ++b) {
      next[0] = (unsigned char)b;
      AesEncryptBlock(next, expect, &ks);
      EXPECT_EQ(0, memcmp(run.data() + 16 * b, expect, 16)) << length << " block " << b;
    }
    EXPECT_EQ(length / 16 - 1, st.counterBlock[0]);
    for (int i = 1; i < 16; ++i) EXPECT_EQ(0, st.counterBlock[i]) << i;
    EXPECT_EQ(0, memcmp(st.keystreamBlock, expect, 16)) << "the last block stays for the next byte";
  }
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

namespace {

const char *const kTraditionalPasswordText = "pa\xe9ss w\xf6rd";

// The prompt: hands out scripted answers, a null answer meaning "cancel".
struct Prompt {
  std::vector<const char *> answers;
  size_t asked = 0;
  std::string lastName;
};

int AnswerPassword(uintptr_t user, const char *, char *newPassword, const char *name) {
  Prompt *p = (Prompt *)user;
  p->lastName = name;
  if (p->asked >= p->answers.size()) return 0;
  const char *a = p->answers[p->asked++];
  if (a == nullptr) return 0;
  StrCopy(newPassword, a, PASSWORD_MAX);
  return 1;
}

// One entry's data in a temporary file, opened as the volume, and a stream on it.
class EntryFixture {
 public:
  EntryFixture(const std::vector<unsigned char> &fileBytes, int64_t compressedSize, int32_t kind, const char *password,
               Prompt *prompt) {
    // Unique across processes too: test runs may share a working folder, and
    // the fixture's address repeats from one run to the next.
    static const uint64_t run = ((uint64_t)std::random_device{}() << 32) ^ std::random_device{}();
    static uint32_t serial = 0;
    path_ = "kvcrypto-entry-" + std::to_string(run) + "-" + std::to_string(++serial) + ".tmp";
    FileHandle w = FileOpen(path_.c_str(), "w");
    EXPECT_NE(INVALID_FILE, w);
    if (!fileBytes.empty()) {
      EXPECT_EQ((int32_t)fileBytes.size(), FileWrite(w, fileBytes.data(), (uint32_t)fileBytes.size()));
    }
    FileClose(w);
    memset(&archive, 0, sizeof archive);
    memset(&progress, 0, sizeof progress);
    memset(&callbacks, 0, sizeof callbacks);
    memset(&stream, 0, sizeof stream);
    archive.volumeHandle = FileOpen(path_.c_str(), "r");
    EXPECT_NE(INVALID_FILE, archive.volumeHandle);
    archive.outputHandle = INVALID_FILE;
    archive.encryptionKind = kind;
    StrCopy(archive.password, password, sizeof archive.password);
    progress.leftToDeliver = progress.leftToRead = compressedSize;
    if (prompt) {
      callbacks.onPassword.fn = AnswerPassword;
      callbacks.onPassword.user = (uintptr_t)prompt;
    }
    stream.archive = &archive;
    stream.progress = &progress;
    stream.callbacks = &callbacks;
    stream.position = -1;
  }
  ~EntryFixture() {
    FileClose(archive.volumeHandle);
    FileDelete(path_.c_str());
  }
  std::vector<unsigned char> Read(uint32_t n) {
    std::vector<unsigned char> v(n);
    int32_t got = FileRead(archive.volumeHandle, v.data(), n);
    v.resize(got < 0 ? 0 : (size_t)got);
    return v;
  }

  ArchiveContext archive;
  EntryProgress progress;
  ExtractCallbacks callbacks;
  EntryStream stream;

 private:
  std::string path_;
};

std::vector<unsigned char> Traditional() { return std::vector<unsigned char>(kTraditional, kTraditional + sizeof kTraditional); }

}  // namespace

TEST(EntryCryptoBegin, TraditionalPromptingRules) {
  const uint32_t crc = kTraditionalCrc;
  struct Case {
    const char *label;
    const unsigned char *bytes;
    size_t size;
    uint32_t check;
    const char *preset;
    std::vector<const char *> answers;
    int result;
    size_t asked;
    int32_t error;
    uint32_t alt = 0;
  } cases[] = {
      {"preset right", kTraditional, sizeof kTraditional, crc, kTraditionalPasswordText, {}, 1, 0, 0},
      {"asked once", kTraditional, sizeof kTraditional, crc, "", {kTraditionalPasswordText}, 1, 1, 0},
      {"wrong, then empties skipped", kTraditional, sizeof kTraditional, crc, "wrong", {"", "", kTraditionalPasswordText}, 1, 3, 0},
      {"wrong, then cancel", kTraditional, sizeof kTraditional, crc, "wrong", {"nope", nullptr}, 0, 2, ERR_CANCELLED},
      {"cancel at the first prompt", kTraditional, sizeof kTraditional, crc, "", {nullptr}, 0, 1, ERR_CANCELLED},
      {"data descriptor: any password", kTraditional, sizeof kTraditional, 0, "wrong", {}, 1, 0, 0},
      // A streamed entry's header holds the time's high byte or the CRC's.
      {"second check value matches", kTraditional, sizeof kTraditional, 0x11000000, kTraditionalPasswordText, {}, 1, 0, 0,
       (crc & 0xFF000000u) | 1},
      // The empty password is tried when it is the first answer...
      {"first answer empty is tried", kEmptyPassword, sizeof kEmptyPassword, 0xA7000000, "", {""}, 1, 1, 0},
      // ...but not after a rejection: "" would pass this header, yet the prompt goes on.
      {"empty not tried after rejection", kEmptyPassword, sizeof kEmptyPassword, 0xA7000000, "x", {"", "y", nullptr}, 0, 3,
       ERR_CANCELLED},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    Prompt prompt;
    prompt.answers = c.answers;
    std::vector<unsigned char> bytes(c.bytes, c.bytes + c.size);
    EntryFixture fx(bytes, (int64_t)bytes.size(), 1, c.preset, &prompt);
    fx.archive.passwordCheck = c.check;
    fx.archive.passwordCheckAlt = c.alt;
    EXPECT_EQ(c.result, EntryCryptoBegin(&fx.stream, "out/dir/file.txt"));
    EXPECT_EQ(c.asked, prompt.asked);
    EXPECT_EQ(c.error, fx.archive.errorCode);
    if (c.asked > 0) {
      EXPECT_EQ("out\\dir\\file.txt", prompt.lastName);
    }
    if (c.result == 1) {
      EXPECT_EQ((int64_t)bytes.size() - 12, fx.progress.leftToDeliver);
      EXPECT_EQ(fx.progress.leftToDeliver, fx.progress.leftToRead);
    }
  }
}

TEST(EntryCryptoBegin, TraditionalKeysStandAtTheFirstDataByte) {
  EntryFixture fx(Traditional(), sizeof kTraditional, 1, kTraditionalPasswordText, nullptr);
  fx.archive.passwordCheck = 0x62d19c5e;
  ASSERT_EQ(1, EntryCryptoBegin(&fx.stream, "f"));
  std::vector<unsigned char> data = fx.Read(100);
  ASSERT_EQ(sizeof kTraditional - 12, data.size()) << "the header read must stop at the data";
  CipherDecrypt(&fx.stream.cipherKeys, data.data(), data.size());
  EXPECT_EQ(kTraditionalPlain, std::string(data.begin(), data.end()));
}

TEST(EntryCryptoBegin, BadEntriesFailWithoutEndlessPrompting) {
  struct Case {
    const char *label;
    size_t fileBytes;  // of the traditional or AES fixture
    int64_t compressedSize;
    int32_t kind;
    const char *preset;
    int32_t error;
    size_t asked;
  } cases[] = {
      {"archive ends inside the header", 7, sizeof kTraditional, 1, kTraditionalPasswordText, ERR_FILE_ACCESS, 0},
      {"archive ends before the header", 0, sizeof kTraditional, 1, kTraditionalPasswordText, ERR_FILE_ACCESS, 0},
      {"size below the header", sizeof kTraditional, 11, 1, kTraditionalPasswordText, ERR_INVALID_DATA, 0},
      {"unknown kind", sizeof kTraditional, sizeof kTraditional, 5, "x", ERR_UNSUPPORTED, 0},
      {"kind 0", sizeof kTraditional, sizeof kTraditional, 0, "x", ERR_UNSUPPORTED, 0},
      {"archive ends inside the salt", 10, 328, 4, "SECRET", ERR_FILE_ACCESS, 0},
      {"archive ends inside the verifier", 17, 328, 4, "SECRET", ERR_FILE_ACCESS, 0},
      {"AES-256 size below salt+12", 328, 27, 4, "SECRET", ERR_INVALID_DATA, 0},
      {"AES-128 size below salt+12", 328, 19, 2, "SECRET", ERR_INVALID_DATA, 0},
      {"AES password of 129 bytes", 328, 328, 4, "129", ERR_UNSUPPORTED, 0},
  };
  std::vector<unsigned char> aes = FromHex(kAesEntries[2]);
  std::string longPassword(129, 'q');
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<unsigned char> all = c.kind == 1 || c.kind == 0 || c.kind == 5 ? Traditional() : aes;
    all.resize(c.fileBytes);
    Prompt prompt;
    prompt.answers = {"SECRET", "SECRET"};
    const char *preset = strcmp(c.preset, "129") == 0 ? longPassword.c_str() : c.preset;
    EntryFixture fx(all, c.compressedSize, c.kind, preset, &prompt);
    EXPECT_EQ(0, EntryCryptoBegin(&fx.stream, "f"));
    EXPECT_EQ(c.error, fx.archive.errorCode);
    EXPECT_EQ(c.asked, prompt.asked);
  }
}

TEST(EntryCryptoBegin, NoPromptInstalledFailsWithoutACode) {
  for (int32_t kind : {1, 4}) {
    std::vector<unsigned char> bytes = kind == 1 ? Traditional() : FromHex(kAesEntries[2]);
    EntryFixture fx(bytes, (int64_t)bytes.size(), kind, "wrong", nullptr);
    fx.archive.passwordCheck = 0x62d19c5e;
    EXPECT_EQ(0, EntryCryptoBegin(&fx.stream, "f"));
    EXPECT_EQ(0, fx.archive.errorCode);
  }
}

namespace {

// Runs set-up, decrypts the data straight from the file (as the stream would),
// leaving `unread` encrypted bytes to the check, and runs the check.
struct AesRun {
  int begin = -1, auth = -1;
  int32_t error = 0;
  size_t asked = 0;
  std::vector<unsigned char> plain;
  int64_t leftAfterBegin = -1;
  bool stateWiped = false;
};

AesRun RunAes(std::vector<unsigned char> bytes, int32_t kind, const char *preset, std::vector<const char *> answers,
              size_t unread = 0, int64_t truncateTo = -1) {
  AesRun r;
  Prompt prompt;
  prompt.answers = answers;
  int64_t compressed = (int64_t)bytes.size();
  if (truncateTo >= 0) bytes.resize((size_t)truncateTo);
  EntryFixture fx(bytes, compressed, kind, preset, &prompt);
  r.begin = EntryCryptoBegin(&fx.stream, "f");
  r.asked = prompt.asked;
  r.leftAfterBegin = fx.progress.leftToDeliver;
  if (r.begin == 1) {
    uint32_t n = (uint32_t)(fx.progress.leftToRead - (int64_t)unread);
    r.plain = fx.Read(n);
    AesEntryDecrypt(r.plain.data(), (uint32_t)r.plain.size(), &fx.stream.aesState);
    fx.progress.leftToRead -= (int64_t)r.plain.size();
    fx.progress.leftToDeliver = 0;
    r.auth = EntryAuthCheck(&fx.stream);
    AesEntryState zero;
    memset(&zero, 0, sizeof zero);
    r.stateWiped = memcmp(&zero, &fx.stream.aesState, sizeof zero) == 0;
  }
  r.error = fx.archive.errorCode;
  return r;
}

}  // namespace

TEST(EntryCryptoBegin, AesPromptingAndAuthentication) {
  std::vector<unsigned char> good = FromHex(kAesEntries[2]);
  std::vector<unsigned char> flipped = good;
  flipped[16 + 2 + 123] ^= 0x40;
  std::vector<unsigned char> badCode = good;
  badCode.back() ^= 1;
  std::vector<unsigned char> aes128 = FromHex(kAesEntries[0]);
  std::string pw128(128, 'q');
  // An empty AES-256 entry under the empty password: salt, the verifier and
  // the code of the empty message, all from the derivation.
  std::vector<unsigned char> emptyPassword(16, 0x5C);
  {
    unsigned char derived[66], code[20];
    Pbkdf2HmacSha1("", 0, emptyPassword.data(), 16, 1000, derived, 66);
    HmacSha1State h;
    HmacSha1Begin(&h);
    HmacSha1Key(derived + 32, 32, &h);
    HmacSha1End(code, 10, &h);
    emptyPassword.insert(emptyPassword.end(), derived + 64, derived + 66);
    emptyPassword.insert(emptyPassword.end(), code, code + 10);
  }
  struct Case {
    const char *label;
    const std::vector<unsigned char> *bytes;
    int32_t kind;
    const char *preset;
    std::vector<const char *> answers;
    size_t unread;
    int64_t truncateTo;
    int begin, auth;
    size_t asked;
    int32_t error;
  } cases[] = {
      {"AES-128 right password", &aes128, 2, "SECRET", {}, 0, -1, 1, 1, 0, 0},
      {"empty preset asks", &good, 4, "", {"SECRET"}, 0, -1, 1, 1, 1, 0},
      {"empty answer tried, then right", &good, 4, "wrong", {"", "SECRET"}, 0, -1, 1, 1, 2, 0},
      // Unlike the traditional cipher, an empty answer after a rejection is tried.
      {"empty first answer is the password", &emptyPassword, 4, "", {""}, 0, -1, 1, 1, 1, 0},
      {"empty answer after a wrong one is the password", &emptyPassword, 4, "wrong", {"", nullptr}, 0, -1, 1, 1, 1, 0},
      {"wrong then cancel", &good, 4, "wrong", {"also wrong", nullptr}, 0, -1, 0, -1, 2, ERR_CANCELLED},
      {"128 bytes is derived and prompts", &good, 4, pw128.c_str(), {nullptr}, 0, -1, 0, -1, 1, ERR_CANCELLED},
      {"flipped data byte", &flipped, 4, "SECRET", {}, 0, -1, 1, 0, 0, ERR_WRONG_PASSWORD},
      {"flipped code byte", &badCode, 4, "SECRET", {}, 0, -1, 1, 0, 0, ERR_WRONG_PASSWORD},
      // A decoder that stops short (an unknown method decodes nothing, a stored
      // size that is too small): the data is not what the directory says.
      {"bytes the decoder left fail the entry", &good, 4, "SECRET", {}, 7, -1, 1, 0, 0, ERR_INVALID_DATA},
      {"nothing decoded at all", &good, 4, "SECRET", {}, 300, -1, 1, 0, 0, ERR_INVALID_DATA},
      {"altered bytes the decoder left", &flipped, 4, "SECRET", {}, 300, -1, 1, 0, 0, ERR_WRONG_PASSWORD},
      {"archive ends inside the code", &good, 4, "SECRET", {}, 0, (int64_t)good.size() - 4, 1, 0, 0, ERR_FILE_ACCESS},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    AesRun r = RunAes(*c.bytes, c.kind, c.preset, c.answers, c.unread, c.truncateTo);
    EXPECT_EQ(c.begin, r.begin);
    EXPECT_EQ(c.auth, r.auth);
    EXPECT_EQ(c.asked, r.asked);
    EXPECT_EQ(c.error, r.error);
    if (c.begin == 1) {
      EXPECT_TRUE(r.stateWiped);
      // Salt, verifier and code come off the count: 20 for AES-128, 28 for AES-256.
      EXPECT_EQ((int64_t)c.bytes->size() - (c.kind == 2 ? 20 : 28), r.leftAfterBegin);
    }
    if (c.auth == 1 && c.unread == 0) {
      EXPECT_EQ(Pattern((size_t)r.leftAfterBegin), r.plain);
    }
  }
}

TEST(EntryAuthCheck, PassesOtherEntriesAndStopsAfterAnEarlierError) {
  for (int32_t kind : {0, 1}) {
    EntryFixture fx({}, 0, kind, "", nullptr);
    EXPECT_EQ(1, EntryAuthCheck(&fx.stream));
    EXPECT_EQ(0, fx.archive.errorCode);
  }
  std::vector<unsigned char> good = FromHex(kAesEntries[2]);
  EntryFixture fx(good, (int64_t)good.size(), 4, "SECRET", nullptr);
  ASSERT_EQ(1, EntryCryptoBegin(&fx.stream, "f"));
  fx.archive.errorCode = ERR_INVALID_DATA;  // say the decoder failed halfway
  EXPECT_EQ(0, EntryAuthCheck(&fx.stream));
  EXPECT_EQ(ERR_INVALID_DATA, fx.archive.errorCode);
  AesEntryState zero;
  memset(&zero, 0, sizeof zero);
  EXPECT_EQ(0, memcmp(&zero, &fx.stream.aesState, sizeof zero));
}
