// Random INI texts from an alphabet of the characters that matter to the
// lookup rules, looked up through IniGetString over a file and IniLookup over
// the same bytes. Natively both are the project's reader; under Wine the
// first is the platform's profile API, so agreement there shows that the
// project's reader follows the same rules on texts nobody wrote by hand.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "fileio/ini_reader.h"
#include "fileio/platform.h"
#include "launcher_test_files.h"

namespace {

std::string RandomText(std::mt19937 &rng) {
  static const char *const kPieces[] = {"[", "]", "=", " ", "\t", "\"", "'", "\r\n", "\n", "\r", "a", "A", "b",
                                        "7", "07", "data", "DATA", "[data]", "[Data]\r\n", "7=", " = ", "x y",
                                        ";", "\"x\"", "' '", "\x1a", "\r\n[a]\r\n", "\r\nb=1\r\n"};
  std::uniform_int_distribution<size_t> piece(0, sizeof kPieces / sizeof kPieces[0] - 1);
  std::uniform_int_distribution<int> count(0, 40);
  std::string text;
  for (int i = count(rng); i > 0; --i) text += kPieces[piece(rng)];
  return text;
}

TEST(IniRandom, FileReaderAndBufferReaderAgree) {
  std::mt19937 rng(20261208);
  const char *const sections[] = {"data", "DATA", "a", ""};
  const char *const keys[] = {"7", "a", "A", "07", "b"};
  for (int round = 0; round < 300; ++round) {
    std::string text = RandomText(rng);
    std::string path = TestTempPath("inirand");
    ASSERT_TRUE(TestWriteFile(path, text));
    for (const char *section : sections) {
      if (!section[0]) continue;  // the profile API reads a null section differently
      for (const char *key : keys) {
        char fromFile[64], fromBuffer[64];
        uint32_t n1 = IniGetString(section, key, "-", fromFile, sizeof fromFile, path.c_str());
        uint32_t n2 = IniLookup(text.data(), text.size(), section, key, "-", fromBuffer, sizeof fromBuffer);
        EXPECT_EQ(std::string(fromFile), std::string(fromBuffer))
            << "[" << section << "] " << key << " in:\n" << ::testing::PrintToString(text);
        EXPECT_EQ(n1, n2);
      }
    }
    FileDelete(path.c_str());
  }
}

}  // namespace
