// The lookup rules of the language text's INI reader. Every case runs twice:
// through IniGetString over a file (natively the project's reader, under Wine
// the platform's profile API) and through IniLookup over the same bytes, so a
// run under Wine shows that both readers agree.
#include <gtest/gtest.h>

#include <string>

#include "fileio/ini_reader.h"
#include "fileio/platform.h"
#include "launcher_test_files.h"

namespace {

struct IniCase {
  const char *what;
  std::string text;
  const char *section;
  const char *key;
  const char *defaultValue;
  std::string want;
};

std::string Repeat(char c, size_t n) { return std::string(n, c); }

const IniCase kCases[] = {
    {"plain", "[data]\r\n7=seven\r\n", "data", "7", "", "seven"},
    {"section name case-blind", "[DaTa]\r\nkey=v\r\n", "dATA", "key", "", "v"},
    {"key name case-blind", "[data]\r\nMixedKey=v\r\n", "data", "MIXEDKEY", "", "v"},
    {"blanks around = and value ends", "[data]\r\n  7  =   two  words   \r\n", "data", "7", "", "two  words"},
    {"tabs around =", "[data]\r\n7\t=\tv\t\r\n", "data", "7", "", "v"},
    {"section name ends at the last ]", "[da]ta]\r\n7=v\r\n", "da]ta", "7", "", "v"},
    {"text after ] is part of no name", "[data] x]\r\n7=v\r\n", "data", "7", "-", "-"},
    {"[ without ] is a key line", "[data]\r\n[7=v\r\n", "data", "[7", "", "v"},
    {"indented section header", "  [data]  \r\n7=v\r\n", "data", "7", "", "v"},
    {"blanks inside the brackets", "[ data ]\r\n7=v\r\n", "data", "7", "", "v"},
    {"tab inside the brackets", "[\tdata\t]\r\n7=v\r\n", "data", "7", "", "v"},
    {"UTF-8 byte order mark", "\xEF\xBB\xBF[data]\r\n7=v\r\n", "data", "7", "", "v"},
    {"double quotes dropped", "[data]\r\n7=\"  keeps blanks  \"\r\n", "data", "7", "", "  keeps blanks  "},
    {"single quotes dropped", "[data]\r\n7='x y'\r\n", "data", "7", "", "x y"},
    {"only one pair dropped", "[data]\r\n7=\"\"x\"\"\r\n", "data", "7", "", "\"x\""},
    {"unbalanced quote kept", "[data]\r\n7=\"open\r\n", "data", "7", "", "\"open"},
    {"mixed quotes kept", "[data]\r\n7=\"mixed'\r\n", "data", "7", "", "\"mixed'"},
    {"inner quotes kept", "[data]\r\n7=it's \"so\"\r\n", "data", "7", "", "it's \"so\""},
    {"empty quotes", "[data]\r\n7=\"\"\r\n", "data", "7", "x", ""},
    {"later = stays in value", "[data]\r\n7=a=b\r\n", "data", "7", "", "a=b"},
    {"blank inside key name", "[data]\r\nmy key = v\r\n", "data", "my key", "", "v"},
    {"07 is not 7", "[data]\r\n07=zero seven\r\n", "data", "7", "", ""},
    {"7 found after 07", "[data]\r\n07=a\r\n7=b\r\n", "data", "7", "", "b"},
    {"first occurrence wins", "[data]\r\n7=first\r\n7=second\r\n", "data", "7", "", "first"},
    {"LF line ends", "[data]\n6=six\n7=seven\n", "data", "7", "", "seven"},
    {"no line end at the end", "[data]\r\n7=last", "data", "7", "", "last"},
    {"key of another section", "[other]\r\n7=no\r\n[data]\r\n8=yes\r\n", "data", "7", "", ""},
    {"section after another", "[other]\r\n7=no\r\n[data]\r\n7=yes\r\n", "data", "7", "", "yes"},
    {"missing section gives default", "[data]\r\n7=v\r\n", "nothing", "7", "dflt", "dflt"},
    {"missing key gives default", "[data]\r\n7=v\r\n", "data", "8", "dflt", "dflt"},
    {"default loses trailing blanks", "[data]\r\n", "data", "8", "dflt  ", "dflt"},
    {"key without = gives default", "[data]\r\n7\r\n", "data", "7", "dflt", "dflt"},
    {"empty value is empty", "[data]\r\n7=\r\n", "data", "7", "dflt", ""},
    {"blank value is empty", "[data]\r\n7 =   \r\n", "data", "7", "dflt", ""},
    {"value cut to 2047", "[data]\r\n7=" + Repeat('a', 3000) + "\r\n", "data", "7", "", Repeat('a', 2047)},
    {"2047 exactly kept", "[data]\r\n7=" + Repeat('b', 2047) + "\r\n", "data", "7", "", Repeat('b', 2047)},
    {"Windows-1252 bytes kept", "[data]\r\n17=enth\xE4lt\r\n", "data", "17", "", "enth\xE4lt"},
};

class IniLookupTest : public ::testing::TestWithParam<IniCase> {};

TEST_P(IniLookupTest, FileAndBufferAgree) {
  const IniCase &c = GetParam();
  char out[2048];

  memset(out, 'Z', sizeof out);
  uint32_t n = IniLookup(c.text.data(), c.text.size(), c.section, c.key, c.defaultValue, out, sizeof out);
  EXPECT_EQ(c.want, std::string(out)) << "buffer reader: " << c.what;
  EXPECT_EQ(c.want.size(), n) << "buffer reader: " << c.what;

  std::string path = TestTempPath("ini");
  ASSERT_TRUE(TestWriteFile(path, c.text));
  memset(out, 'Z', sizeof out);
  n = IniGetString(c.section, c.key, c.defaultValue, out, sizeof out, path.c_str());
  FileDelete(path.c_str());
  EXPECT_EQ(c.want, std::string(out)) << "file reader: " << c.what;
  EXPECT_EQ(c.want.size(), n) << "file reader: " << c.what;
}

INSTANTIATE_TEST_SUITE_P(Rules, IniLookupTest, ::testing::ValuesIn(kCases));

// A small buffer cuts the value to size - 1 and still terminates it.
TEST(IniLookup, SmallBufferCutsAndTerminates) {
  const std::string text = "[data]\r\n7=abcdefgh\r\n";
  char out[6] = {'Z', 'Z', 'Z', 'Z', 'Z', 'Z'};
  EXPECT_EQ(4u, IniLookup(text.data(), text.size(), "data", "7", "", out, 5));
  EXPECT_STREQ("abcd", out);
  EXPECT_EQ('Z', out[5]);
  std::string path = TestTempPath("ini_small");
  ASSERT_TRUE(TestWriteFile(path, text));
  char fromFile[6] = {'Z', 'Z', 'Z', 'Z', 'Z', 'Z'};
  EXPECT_EQ(4u, IniGetString("data", "7", "", fromFile, 5, path.c_str()));
  FileDelete(path.c_str());
  EXPECT_STREQ("abcd", fromFile);
}

// The buffer reader never looks past the length it is given.
TEST(IniLookup, StopsAtGivenLength) {
  const std::string text = "[data]\r\n7=visible\r\n8=hidden\r\n";
  size_t cut = text.find("8=");
  char out[32];
  EXPECT_EQ(0u, IniLookup(text.data(), cut + 1, "data", "8", "", out, sizeof out));
  EXPECT_EQ(3u, IniLookup(text.data(), text.find("ible"), "data", "7", "", out, sizeof out));
  EXPECT_STREQ("vis", out);
}

TEST(IniLookup, MissingFileGivesDefault) {
  char out[16];
  std::string path = TestTempPath("ini_missing");
  EXPECT_EQ(4u, IniGetString("data", "7", "dflt", out, sizeof out, path.c_str()));
  EXPECT_STREQ("dflt", out);
}

TEST(IniForEachKey, VisitsKeysOfFirstMatchingSectionInOrder) {
  const std::string text = "a=0\r\n[s]\r\none=1\r\n two =2\r\nbare\r\n[t]\r\nthree=3\r\n[S]\r\nfour=4\r\n";
  std::string seen;
  auto visit = [](void *user, const char *name, size_t length) {
    ((std::string *)user)->append(name, length).append(",");
    return 1;
  };
  EXPECT_EQ(1, IniForEachKey(text.data(), text.size(), "S", visit, &seen));
  EXPECT_EQ("one,two,bare,", seen);
  auto stop = [](void *, const char *, size_t) { return 0; };
  EXPECT_EQ(0, IniForEachKey(text.data(), text.size(), "s", stop, nullptr));
  EXPECT_EQ(1, IniForEachKey(text.data(), text.size(), "missing", stop, nullptr));
}

}  // namespace
