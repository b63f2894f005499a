// Bounded string operations and the CRC-32.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/crc32.h"
#include "fileio/kv_base.h"

TEST(Bounded, CopyAppendPrintCutAndTerminate) {
  struct Case {
    const char *start, *add;
    size_t size;
    const char *want;
  } cases[] = {
      {"", "abc", 4, "abc"},     {"", "abcd", 4, "abc"},  {"ab", "cd", 4, "abc"},
      {"abc", "d", 4, "abc"},    {"", nullptr, 4, ""},    {"x", "", 2, "x"},
  };
  for (const auto &c : cases) {
    char buf[8];
    memset(buf, 'Z', sizeof buf);
    StrCopy(buf, c.start, c.size);
    StrAppend(buf, c.add, c.size);
    EXPECT_STREQ(c.want, buf) << c.start << "+" << (c.add ? c.add : "(null)");
    EXPECT_EQ('Z', buf[c.size]) << "wrote past the buffer";
  }
  char out[6];
  StrPrintf(out, sizeof out, "%s-%u", "abc", 12345u);
  EXPECT_STREQ("abc-1", out);
}

// The formatter is the program's own; the C library's answers are the oracle.
TEST(Bounded, PrintfEqualsTheCLibraryForTheConversionsInUse) {
  char got[64], want[64];
#define CHECK_FORMAT(...)                                                      \
  do {                                                                         \
    StrPrintf(got, sizeof got, __VA_ARGS__);                                   \
    snprintf(want, sizeof want, __VA_ARGS__);                                  \
    EXPECT_STREQ(want, got) << #__VA_ARGS__;                                   \
  } while (0)
  CHECK_FORMAT("%d|%i|%u", -2147483647 - 1, 0, 4294967295u);
  CHECK_FORMAT("%ld %lu %lld %llu", -5L, 7UL, -9223372036854775807LL - 1, 18446744073709551615ULL);
  CHECK_FORMAT("%x %X %08X %5d|%-4s|%4s", 0xbeefu, 0xbeefu, 0xabcu, -42, "ab", "cd");
  CHECK_FORMAT("%c%c 100%% %s", 'o', 'k', "done");
  CHECK_FORMAT(".z%02u .%03llu %s", 7u, 99ULL, "");
#undef CHECK_FORMAT
  char small[8];
  StrPrintf(small, sizeof small, "%s%d", "abcdef", 12345);
  EXPECT_STREQ("abcdef1", small);
}

static uint32_t CrcBytewise(const std::vector<unsigned char> &d) {
  uint32_t c = 0xFFFFFFFF;
  for (unsigned char b : d) {
    c ^= b;
    for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
  }
  return ~c;
}

TEST(Crc32, KnownValuesAndEqualsBytewiseAtEveryLengthAndOffset) {
  const char *check = "123456789";
  EXPECT_EQ(0xCBF43926u, ~Crc32Update(0xFFFFFFFF, check, 9));
  EXPECT_EQ(0u, Crc32Update(0x1234, nullptr, 5));
  EXPECT_EQ(0x1234u, Crc32Update(0x1234, check, 0));
  std::vector<unsigned char> data(1200);
  for (size_t i = 0; i < data.size(); i++) data[i] = (unsigned char)(i * 131 + 7);
  // Lengths around every path: bytes, 8-byte steps, and the 16-byte folding
  // of long inputs with their remainders.
  for (size_t off = 0; off < 17; off++) {
    for (size_t len = 0; len + off <= 1100; len += (len < 80 ? 1 : 13)) {
      std::vector<unsigned char> part(data.begin() + off, data.begin() + off + len);
      ASSERT_EQ(CrcBytewise(part), ~Crc32Update(0xFFFFFFFF, data.data() + off, len)) << off << "/" << len;
    }
  }
  // Split at every point: continuing a running CRC equals one call.
  uint32_t whole = Crc32Update(0xFFFFFFFF, data.data(), data.size());
  for (size_t cut = 0; cut <= data.size(); cut += 7)
    EXPECT_EQ(whole, Crc32Update(Crc32Update(0xFFFFFFFF, data.data(), cut), data.data() + cut, data.size() - cut));
}
