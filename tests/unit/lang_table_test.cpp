// Loading the language table: what makes a load fail, the escapes, and the
// shipped language files with the placeholders their users expect.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "launcher/lang_table.h"
#include "launcher_test_files.h"

namespace {

// A complete, valid language text; edits replace or drop single lines.
std::map<std::string, std::string> ValidLines() {
  std::map<std::string, std::string> lines;
  lines["d0"] = "0=Test";
  for (int k = 0; k < LANG_STRING_COUNT; ++k) lines["k" + std::to_string(k)] = std::to_string(k) + "=String " + std::to_string(k);
  lines["k34"] = "34=%s %s %s %s";
  return lines;
}

std::string Render(const std::map<std::string, std::string> &lines, const char *eol = "\r\n",
                   const char *dataHeader = "[data]") {
  std::string text = std::string("[description]") + eol;
  if (lines.count("d0")) text += lines.at("d0") + eol;
  text += std::string(dataHeader) + eol;
  for (int k = 0; k < LANG_STRING_COUNT; ++k) {
    auto it = lines.find("k" + std::to_string(k));
    if (it != lines.end()) text += it->second + eol;
  }
  return text;
}

int LoadFromText(const std::string &text) {
  std::string path = TestTempPath("lang");
  if (!TestWriteFile(path, text)) return -1;
  int ok = LoadLangTable(path.c_str());
  FileDelete(path.c_str());
  return ok;
}

struct LoadCase {
  const char *what;
  const char *line;         // which line to change ("" for none)
  const char *replacement;  // null drops the line
  int want;
};

const LoadCase kLoadCases[] = {
    {"complete text", "", nullptr, 1},
    {"string 73 missing", "k73", nullptr, 0},
    {"string 73 blank after =", "k73", "73 =", 0},
    {"string 73 empty quotes", "k73", "73=\"\"", 0},
    {"string 0 missing", "k0", nullptr, 0},
    {"string 7 written 07", "k7", "07=seven", 0},
    {"description missing", "d0", nullptr, 0},
    {"description empty", "d0", "0=", 0},
    {"string 34 with three %s", "k34", "34=%s %s %s", 0},
    {"string 34 with five %s", "k34", "34=%s%s%s%s%s", 0},
    {"string 34 with %S counts no s", "k34", "34=%s %s %s %S", 0},
    {"string 34 packed %s", "k34", "34=%s%s%s%s", 1},
    {"string 34 with %%s still counts", "k34", "34=%%s %s %s %s", 1},
    {"unused string 60 missing", "k60", nullptr, 0},
};

class LangLoadTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LangLoadTest, Outcome) {
  const LoadCase &c = GetParam();
  auto lines = ValidLines();
  if (c.line[0]) {
    if (c.replacement)
      lines[c.line] = c.replacement;
    else
      lines.erase(c.line);
  }
  EXPECT_EQ(c.want, LoadFromText(Render(lines))) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, LangLoadTest, ::testing::ValuesIn(kLoadCases));

TEST(LangLoad, LineEndsAndSectionCaseDoNotMatter) {
  EXPECT_EQ(1, LoadFromText(Render(ValidLines(), "\n")));
  EXPECT_EQ(1, LoadFromText(Render(ValidLines(), "\r\n", "[DATA]")));
}

TEST(LangLoad, StringsAreExpandedAndCut) {
  auto lines = ValidLines();
  lines["k5"] = "5=two\\nlines\\tand \\x \\\\n";
  lines["k9"] = "9=" + std::string(3000, 'w');
  lines["k10"] = "10=\" padded \"";
  ASSERT_EQ(1, LoadFromText(Render(lines)));
  EXPECT_STREQ("two\r\nlines\tand \\x \\\r\n", LangString(5));
  EXPECT_EQ(std::string(2047, 'w'), LangString(9));
  EXPECT_STREQ(" padded ", LangString(10));
  EXPECT_STREQ("String 73", LangString(73));
  EXPECT_EQ(1, CountPercentS(34, 4));
  EXPECT_EQ(0, CountPercentS(34, 3));
  EXPECT_STREQ("", LangString(74));
  EXPECT_STREQ("", LangString(-1));
}

struct EscapeCase {
  const char *in;
  const char *want;
};

TEST(ExpandEscapes, Table) {
  const EscapeCase cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"a\\nb", "a\r\nb"},
      {"\\t", "\t"},
      {"\\n\\n", "\r\n\r\n"},
      {"\\x\\N\\T", "\\x\\N\\T"},
      {"\\\\n", "\\\r\n"},
      {"end\\", "end\\"},
      {"%1\\n%2", "%1\r\n%2"},
  };
  for (const EscapeCase &c : cases) {
    char buffer[64];
    StrCopy(buffer, c.in, sizeof buffer);
    ExpandEscapes(buffer);
    EXPECT_STREQ(c.want, buffer) << "input: " << c.in;
  }
}

// --- The shipped language files ---------------------------------------------

// Placeholders in order of appearance: %s %u %lu %d and %N or %N!x!.
std::vector<std::string> Placeholders(const char *text) {
  std::vector<std::string> found;
  for (const char *p = text; *p; ++p) {
    if (*p != '%') continue;
    const char *start = p++;
    if (*p == 'l' && p[1] == 'u') {
      ++p;
    } else if (*p >= '1' && *p <= '9') {
      while (p[1] >= '0' && p[1] <= '9') ++p;
      if (p[1] == '!') {
        const char *close = strchr(p + 2, '!');
        if (close) p = close;
      }
    } else if (*p == '\0') {
      --p;
    }
    found.emplace_back(start, (size_t)(p - start + 1));
  }
  return found;
}

// What each user of a string fills in; every other string has none.
const std::map<int, std::vector<std::string>> kExpectedPlaceholders = {
    {12, {"%s"}},
    {13, {"%s", "%lu"}},
    {17, {"%1"}},
    {20, {"%3!d!", "%1", "%2"}},
    {21, {"%3!d!", "%1", "%2"}},
    {24, {"%s"}},
    {28, {"%u", "%s"}},
    {29, {"%s"}},
    {34, {"%s", "%s", "%s", "%s"}},
    {43, {"%s"}},
    {44, {"%u", "%s"}},
    {52, {"%s"}},
};

class ShippedLanguageTest : public ::testing::TestWithParam<const char *> {};

TEST_P(ShippedLanguageTest, LoadsWithExpectedPlaceholders) {
  std::string raw;
  ASSERT_TRUE(TestReadFile(std::string(KV_SOURCE_DIR) + "/resources/lang/" + GetParam() + ".ini", &raw));
  for (size_t i = 0; i < raw.size(); ++i)
    if (raw[i] == '\n') {
      ASSERT_TRUE(i > 0 && raw[i - 1] == '\r') << "bare LF at byte " << i;
    }
  ASSERT_EQ(1, LoadFromText(raw));
  for (int k = 0; k < LANG_STRING_COUNT; ++k) {
    auto it = kExpectedPlaceholders.find(k);
    std::vector<std::string> want = it == kExpectedPlaceholders.end() ? std::vector<std::string>() : it->second;
    EXPECT_EQ(want, Placeholders(LangString(k))) << "string " << k << ": " << LangString(k);
  }
  EXPECT_STREQ("Kivrel Self Extractor - %s", LangString(52));
  EXPECT_NE(nullptr, strstr(LangString(20), "\r\n"));
}

INSTANTIATE_TEST_SUITE_P(Files, ShippedLanguageTest, ::testing::Values("de", "en"));

// German letters are single Windows-1252 bytes, as the ANSI stub shows them.
TEST(ShippedLanguage, GermanIsWindows1252) {
  std::string raw;
  ASSERT_TRUE(TestReadFile(std::string(KV_SOURCE_DIR) + "/resources/lang/de.ini", &raw));
  EXPECT_NE(std::string::npos, raw.find("17=Dieser Ordner enth\xE4lt bereits eine Datei namens '%1'.\r\n"));
  EXPECT_NE(std::string::npos, raw.find("20=%3!d! Bytes\\nge\xE4ndert am %1, %2\r\n"));
  EXPECT_NE(std::string::npos, raw.find("[description]\r\n0=Deutsch\r\n"));
  EXPECT_EQ(std::string::npos, raw.find("\xC3\xA4"));  // no UTF-8 "ä"
}

}  // namespace
