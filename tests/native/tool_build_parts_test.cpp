// Pieces of kvsfx build that a wrong byte would spoil without any program
// failing at once: the code page conversion, exclusion patterns, DOS times and
// the PE checksum fed in pieces.
#include <gtest/gtest.h>

#include <string>

#include "tool/build_checks.h"
#include "tool/cp1252.h"
#include "tool/pe_resources.h"
#include "tool/zip_writer.h"

namespace {

TEST(BuildParts, Utf8ToCp1252) {
  struct Case {
    const char *in, *out;
    size_t badCharacter;  // 0: converted (or kept)
  } cases[] = {
      {"plain ascii", "plain ascii", 0},
      {"m\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xE2\x80\x9C\xC5\xB8", "m\xFC\xDF" "e \x80 \x93\x9F", 0},
      {"\xEF\xBB\xBFok", "ok", 0},                      // byte-order mark dropped
      {"caf\xE9", "caf\xE9", 0},                        // not UTF-8: Windows-1252 already
      {"\xC0\xAF overlong", "\xC0\xAF overlong", 0},    // not UTF-8 either
      {"ok \xE4\xB8\xAD", nullptr, 4},                  // U+4E2D
      {"\xC2\x81", nullptr, 1},                         // a C1 control: no character in the code page
      {"a\xF0\x9F\x98\x80", nullptr, 2},                // beyond the BMP
  };
  for (const Case &c : cases) {
    std::string text = c.in;
    Cp1252Failure bad = {};
    bool ok = Utf8ToCp1252(&text, &bad);
    EXPECT_EQ(c.badCharacter == 0, ok) << c.in;
    if (ok) EXPECT_EQ(c.out, text) << c.in;
    else EXPECT_EQ(c.badCharacter, bad.character) << c.in;
  }
}

TEST(BuildParts, NamesThatAreOneFileOnWindows) {
  struct Case {
    const char *a, *b;
    bool same;
  } cases[] = {
      {"Setup.EXE", "setup.exe", true},
      {"docs/Read Me.txt", "DOCS\\read me.txt. .", true},  // trailing dots and blanks go
      {"a\xC3\xA4.txt", "A\xC3\x84.TXT", true},              // Latin letters in UTF-8 fold too
      {"nul.txt", "_NUL.txt", true},                          // a device name gets a '_'
      {"a:b", "a_b", true},                                   // reserved characters become '_'
      {"a?b|c", "a_b_c", true},
      {"sub/", "SUB", true},
      {"a.txt", "a.txt.bak", false},
      {"a\xC3\xB7", "a\xC3\x97", false},  // division and multiplication signs are no letters
      {"nul/x", "null/x", false},
      {"com1.log", "com10.log", false},
  };
  for (const Case &c : cases)
    EXPECT_EQ(c.same, WindowsNameKey(c.a) == WindowsNameKey(c.b)) << c.a << " / " << c.b;
}

TEST(BuildParts, ExcludePatternsAndDosTimes) {
  const std::vector<std::string> patterns = {"*.pdb", "build", "docs/*.tmp"};
  EXPECT_TRUE(ZipPathExcluded("x/y.pdb", patterns));
  EXPECT_TRUE(ZipPathExcluded("sub/build", patterns));  // by its last part
  EXPECT_TRUE(ZipPathExcluded("docs/a.tmp", patterns));
  EXPECT_FALSE(ZipPathExcluded("builder", patterns));
  EXPECT_FALSE(ZipPathExcluded("a.tmp", patterns));
  // 2023-11-14 22:13:20 UTC; before 1980 and after 2107 clamp.
  EXPECT_EQ((43u << 25 | 11u << 21 | 14u << 16) | (22u << 11 | 13u << 5 | 10u), ZipDosTime(1700000000));
  EXPECT_EQ(0x00210000u, ZipDosTime(0));
  EXPECT_EQ(ZipDosTime(4354819198), ZipDosTime(1LL << 40));
}

TEST(BuildParts, PeChecksumDoesNotDependOnHowTheFileIsFed) {
  std::string data;
  for (int i = 0; i < 1001; ++i) data += (char)(i * 37 + 11);
  PeChecksum whole;
  whole.Add(data.data(), data.size());
  for (size_t step : {1, 3, 7, 500}) {
    PeChecksum pieces;
    for (size_t at = 0; at < data.size(); at += step) pieces.Add(data.data() + at, std::min(step, data.size() - at));
    EXPECT_EQ(whole.Finish(), pieces.Finish()) << step;
  }
  // Known value: the words 0x0201 and 0x0003 (odd tail) plus the length 3.
  PeChecksum small;
  small.Add("\x01\x02\x03", 3);
  EXPECT_EQ(0x0201u + 0x0003u + 3u, small.Finish());
}

TEST(BuildParts, FirstIconGroupIsTheOneTheShellShows) {
  // A directory may list its names out of order; the file is written sorted,
  // so the group replaced must be the lowest one, not the first listed.
  PeResType groups;
  groups.type.id = PE_RT_GROUP_ICON;
  for (uint16_t id : {101, 98, 103}) {
    PeResEntry e;
    e.name.id = id;
    e.leaves.emplace_back();
    groups.entries.push_back(e);
  }
  PeResTree tree{groups};
  const PeResEntry *first = PeFindFirst(tree, PE_RT_GROUP_ICON);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(98, first->name.id);
}

}  // namespace
