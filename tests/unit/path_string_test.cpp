// Path-string helpers: wildcard matching, splitters, roots and trailing
// backslashes, each checked from a table.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "fileio/path.h"
#include "fileio/platform.h"

TEST(NameMatch, Table) {
  struct Case {
    const char *name, *pattern;
    int want;
  } cases[] = {
      // The documented examples; everything else is held against the rules below.
      {"", "*.*", 1},      {"README", "*.*", 1}, {"", "*", 1},        {"", "", 1},       {"A", "", 0},
      {"A.B.TXT", "*.TXT", 1}, {"", "*?", 0},    {"AC", "A?C", 0},    {"a", "A", 0},     {"AB", "A*.*", 1},
      {"AXC", "A**C", 0},  {"A*C", "A**C", 1},
  };
  for (const auto &c : cases)
    EXPECT_EQ(c.want, NameMatch(c.name, c.pattern)) << "'" << c.name << "' vs '" << c.pattern << "'";
  EXPECT_EQ(0, NameMatch(nullptr, "*"));
  EXPECT_EQ(0, NameMatch("A", nullptr));
}

// The matching rules written as plainly as possible, byte by byte and
// recursively, to hold the matcher against on many small inputs.
static int ReferenceMatch(const char *name, const char *pattern) {
  if (!strcmp(pattern, "*.*") || !strcmp(pattern, "*")) return 1;
  if (!*pattern) return *name == '\0';
  if (*pattern != '*') {
    if (!*name) return 0;
    if (*pattern != '?' && *pattern != *name) return 0;
    return ReferenceMatch(name + 1, pattern + 1);
  }
  char d = pattern[1];
  for (const char *p = name; *p; p++)
    if ((*p == d || d == '?') && ReferenceMatch(p + 1, pattern + 2)) return 1;
  return 0;
}

TEST(NameMatch, AgreesWithTheRulesOnEveryShortInput) {
  // Every name of up to 4 bytes and pattern of up to 5 over a small alphabet.
  const char alphabet[] = "A.*?";
  auto forEach = [&](int maxLength, auto &&fn) {
    std::string s;
    std::function<void()> grow = [&]() {
      fn(s);
      if ((int)s.size() == maxLength) return;
      for (int i = 0; alphabet[i]; i++) {
        s.push_back(alphabet[i]);
        grow();
        s.pop_back();
      }
    };
    grow();
  };
  int compared = 0, matched = 0;
  forEach(5, [&](const std::string &pattern) {
    forEach(4, [&](const std::string &name) {
      if (name.find('?') != std::string::npos) return;
      int want = ReferenceMatch(name.c_str(), pattern.c_str());
      ASSERT_EQ(want, NameMatch(name.c_str(), pattern.c_str())) << "'" << name << "' vs '" << pattern << "'";
      compared++;
      matched += want;
    });
  });
  EXPECT_GT(matched, compared / 10);
  EXPECT_LT(matched, compared);
}

TEST(NameMatch, ManyStarsStayFast) {
  std::string name(271, 'a'), pattern;
  for (int i = 0; i < 60; i++) pattern += "*a";
  pattern += "*b";
  EXPECT_EQ(0, NameMatch(name.c_str(), pattern.c_str()));
  name.back() = 'b';
  EXPECT_EQ(1, NameMatch(name.c_str(), pattern.c_str()));
}

TEST(PathBackslash, EnsureAndTrim) {
  struct Case {
    const char *in, *ensured, *trimmed;
  } cases[] = {
      {"", "", ""},
      {"C:\\Dir", "C:\\Dir\\", "C:\\Dir"},
      {"C:\\Dir\\", "C:\\Dir\\", "C:\\Dir"},
      {"C:\\", "C:\\", "C:\\"},
      {"ab\\", "ab\\", "ab\\"},
      {"abc\\", "abc\\", "abc"},
      {"\\", "\\", "\\"},
  };
  for (const auto &c : cases) {
    char buf[PATH_BUF_SIZE];
    strcpy(buf, c.in);
    EXPECT_EQ(buf, PathEnsureBackslash(buf)) << c.in;
    EXPECT_STREQ(c.ensured, buf) << c.in;
    strcpy(buf, c.in);
    EXPECT_EQ(buf, PathTrimBackslash(buf)) << c.in;
    EXPECT_STREQ(c.trimmed, buf) << c.in;
  }
  // 270 characters take one more; 271 are full and left alone.
  char buf[PATH_BUF_SIZE];
  std::string s(270, 'a');
  strcpy(buf, s.c_str());
  ASSERT_EQ(buf, PathEnsureBackslash(buf));
  EXPECT_EQ(271u, strlen(buf));
  EXPECT_EQ(nullptr, PathEnsureBackslash(buf));
  EXPECT_EQ(271u, strlen(buf));
  EXPECT_EQ(nullptr, PathEnsureBackslash(nullptr));
  EXPECT_EQ(nullptr, PathTrimBackslash(nullptr));
}

TEST(PathSplit, ExtNameDir) {
  struct Case {
    const char *path;
    const char *ext;  // null: none
    const char *name, *dir;
  } cases[] = {
      {"C:\\Dir\\File.txt", ".txt", "File.txt", "C:\\Dir\\"},
      {"C:\\my.dir\\setup", ".dir\\setup", "setup", "C:\\my.dir\\"},
      {"C:File.txt", ".txt", "File.txt", "C:"},
      {"C:\\Dir\\", nullptr, "", "C:\\Dir\\"},
      {"File", nullptr, "File", ""},
      {"", nullptr, "", ""},
      {"a.b.c", ".c", "a.b.c", ""},
      {"\\\\server\\share\\f.zip", ".zip", "f.zip", "\\\\server\\share\\"},
      {"C:a:b", nullptr, "a:b", "C:"},
      {"x\\C:y", nullptr, "C:y", "x\\"},
  };
  for (const auto &c : cases) {
    const char *e = PathFindExt(c.path);
    if (c.ext) {
      ASSERT_NE(nullptr, e) << c.path;
      EXPECT_STREQ(c.ext, e) << c.path;
    } else {
      EXPECT_EQ(nullptr, e) << c.path;
    }
    char out[PATH_BUF_SIZE];
    strcpy(out, "junk");
    char *r = PathGetExt(c.path, out, sizeof out);
    EXPECT_EQ(c.ext ? out : nullptr, r) << c.path;
    EXPECT_STREQ(c.ext ? c.ext : "", out) << c.path;
    EXPECT_STREQ(c.name, PathFindName(c.path)) << c.path;
    EXPECT_EQ(out, PathGetName(c.path, out, sizeof out));
    EXPECT_STREQ(c.name, out) << c.path;
    EXPECT_EQ(out, PathGetDir(c.path, out, sizeof out));
    EXPECT_STREQ(c.dir, out) << c.path;
  }
  EXPECT_EQ(nullptr, PathFindName(nullptr));
  EXPECT_EQ(nullptr, PathFindExt(nullptr));
  // A failing split leaves an empty output behind.
  char out[8] = "junk";
  EXPECT_EQ(nullptr, PathGetDir(nullptr, out, sizeof out));
  EXPECT_STREQ("", out);
  strcpy(out, "junk");
  EXPECT_EQ(nullptr, PathGetName(nullptr, out, sizeof out));
  EXPECT_STREQ("", out);
  strcpy(out, "junk");
  EXPECT_EQ(nullptr, PathGetExt(nullptr, out, sizeof out));
  EXPECT_STREQ("", out);
  EXPECT_EQ(nullptr, PathGetName("a", nullptr, 4));
  EXPECT_EQ(nullptr, PathGetDir("a", nullptr, 4));
}

TEST(PathSplit, OutputsAreCutAndMayBeTheInput) {
  char small[5];
  memset(small, 'Z', sizeof small);
  PathGetDir("C:\\Directory\\f", small, 4);
  EXPECT_STREQ("C:\\", small);
  EXPECT_EQ('Z', small[4]);
  PathGetName("C:\\Directory\\file", small, 4);
  EXPECT_STREQ("fil", small);

  char buf[PATH_BUF_SIZE] = "C:\\Dir\\File.txt";
  PathGetName(buf, buf, sizeof buf);
  EXPECT_STREQ("File.txt", buf);
  strcpy(buf, "C:\\Dir\\File.txt");
  PathGetDir(buf, buf, sizeof buf);
  EXPECT_STREQ("C:\\Dir\\", buf);
  strcpy(buf, "C:\\Dir\\File.txt");
  PathGetExt(buf, buf, sizeof buf);
  EXPECT_STREQ(".txt", buf);
  // A failing PathGetExt leaves the input alone when it is the output.
  strcpy(buf, "C:\\Dir\\File");
  EXPECT_EQ(nullptr, PathGetExt(buf, buf, sizeof buf));
  EXPECT_STREQ("C:\\Dir\\File", buf);
}

TEST(PathSetExt, Table) {
  struct Case {
    const char *path, *ext, *want;
  } cases[] = {
      {"C:\\my.dir\\setup", ".zip", "C:\\my.zip"},
      {"setup.exe", ".z01", "setup.z01"},
      {"setup.exe", "", "setup"},
      {"setup.exe", nullptr, "setup"},
      {"setup", ".zip", "setup.zip"},
      {"setup", nullptr, "setup"},
      {"a.b.exe", ".zip", "a.b.zip"},
  };
  for (const auto &c : cases) {
    char buf[PATH_BUF_SIZE];
    strcpy(buf, c.path);
    EXPECT_EQ(1, PathSetExt(buf, c.ext)) << c.path;
    EXPECT_STREQ(c.want, buf) << c.path;
  }
  EXPECT_EQ(0, PathSetExt(nullptr, ".zip"));
  // Appending to a full buffer cuts, never overruns.
  char buf[PATH_BUF_SIZE + 1];
  buf[PATH_BUF_SIZE] = 'Z';
  std::string s(269, 'a');
  strcpy(buf, s.c_str());
  PathSetExt(buf, ".zip");
  EXPECT_EQ(271u, strlen(buf));
  EXPECT_EQ('Z', buf[PATH_BUF_SIZE]);
}

TEST(PathCutLast, Sequences) {
  // Each row: a start and every state after one more successful cut.
  const char *rows[][6] = {
      {"C:\\Dir\\Sub", "C:\\Dir", "C:\\", nullptr},
      {"C:\\Dir\\", "C:\\Dir", "C:\\", nullptr},
      {"\\\\server\\share", "\\\\server", "\\\\", nullptr},
      {"Dir\\File", "Dir", "", nullptr},
      {"\\Dir\\File", "\\Dir", "\\", nullptr},
      {"C:a\\b", "C:a", "C:", nullptr},
      {"", nullptr},
  };
  for (const auto &row : rows) {
    char buf[PATH_BUF_SIZE];
    strcpy(buf, row[0]);
    int i = 1;
    for (; row[i]; i++) {
      ASSERT_EQ(1, PathCutLast(buf)) << row[0] << " step " << i;
      EXPECT_STREQ(row[i], buf) << row[0] << " step " << i;
    }
    EXPECT_EQ(0, PathCutLast(buf)) << row[0] << " after " << buf;
    EXPECT_STREQ(row[i - 1], buf);
  }
  EXPECT_EQ(0, PathCutLast(nullptr));
}

TEST(PathRoots, Table) {
  struct Case {
    const char *path;
    int rootOnly;
    const char *root;  // "" with result 0
    const char *afterRoot;
  } cases[] = {
      {"C:\\", 1, "C:\\", ""},
      {"C:", 0, "", "C:"},
      {"C:\\Dir", 0, "C:\\", "Dir"},
      {"C:\\a\\b", 0, "C:\\", "a\\b"},
      {"\\", 1, "\\", ""},
      {"\\Dir\\File", 0, "\\", "Dir\\File"},
      {"\\\\", 1, "\\\\", ""},
      {"\\\\server", 1, "\\\\server", ""},
      {"\\\\server\\", 1, "\\\\server\\", ""},
      {"\\\\server\\share", 1, "\\\\server\\share", ""},
      {"\\\\server\\share\\", 0, "\\\\server\\share", "\\"},
      {"\\\\server\\share\\x", 0, "\\\\server\\share", "\\x"},
      {"\\\\server\\share\\dir\\f", 0, "\\\\server\\share", "\\dir\\f"},
      {"Dir\\File", 0, "", "Dir\\File"},
      {"C:a", 0, "", "C:a"},
      {"", 0, "", ""},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(c.rootOnly, PathIsRootOnly(c.path)) << c.path;
    char out[PATH_BUF_SIZE];
    strcpy(out, "junk");
    EXPECT_EQ(c.root[0] ? 1 : 0, PathGetRoot(c.path, out, sizeof out)) << c.path;
    EXPECT_STREQ(c.root, out) << c.path;
    strcpy(out, "junk");
    EXPECT_EQ(out, PathAfterRoot(c.path, out, sizeof out));
    EXPECT_STREQ(c.afterRoot, out) << c.path;
    // In place, as callers do with their own buffer.
    char buf[PATH_BUF_SIZE];
    strcpy(buf, c.path);
    PathAfterRoot(buf, buf, sizeof buf);
    EXPECT_STREQ(c.afterRoot, buf) << c.path;
    strcpy(buf, c.path);
    PathGetRoot(buf, buf, sizeof buf);
    EXPECT_STREQ(c.root, buf) << c.path;
  }
  EXPECT_EQ(0, PathIsRootOnly(nullptr));
  char out[8] = "junk";
  EXPECT_EQ(0, PathGetRoot(nullptr, out, sizeof out));
  EXPECT_STREQ("", out);
}

TEST(PathNthBackslash, AndFixSlashes) {
  struct Case {
    const char *path;
    int n;
    size_t want;
  } cases[] = {
      {"C:\\A\\B", 1, 2}, {"C:\\A\\B", 2, 4}, {"C:\\A\\B", 3, 6}, {"", 1, 0},
      {"\\\\s\\h\\d", 4, 5}, {"\\\\s\\h\\d", 5, 7}, {"abc", 2, 3},
  };
  for (const auto &c : cases) EXPECT_EQ(c.want, PathNthBackslash(c.path, c.n)) << c.path << " n=" << c.n;

  char buf[PATH_BUF_SIZE] = "a/b\\c//d/";
  PathFixSlashes(buf);
  EXPECT_STREQ("a\\b\\c\\\\d\\", buf);
  PathFixSlashes(nullptr);
}

TEST(NameUpper, AsciiLettersAndNull) {
  char buf[] = "setup-1.exe";
  EXPECT_EQ(buf, NameUpper(buf));
  EXPECT_STREQ("SETUP-1.EXE", buf);
  EXPECT_EQ(nullptr, NameUpper(nullptr));
}

// In a double-byte code page a trail byte may equal a backslash (0x5C): the
// walks by character must not take it for a separator. Runs where the ANSI
// code page is double-byte (Shift-JIS under Wine with a Japanese locale).
TEST(PathWalks, DoubleByteTrailBackslashIsNoSeparator) {
  const char probe[] = "\x95\x5C";
  if (TextNext(probe) != probe + 2) GTEST_SKIP() << "the code page is not double-byte";
  struct Case {
    const char *path, *name, *dir, *ext;  // ext null: none
  } cases[] = {
      {"C:\\\x95\x5C", "\x95\x5C", "C:\\", nullptr},
      {"\x95\x5C", "\x95\x5C", "", nullptr},
      {"C:\\\x95\x5C.txt", "\x95\x5C.txt", "C:\\", ".txt"},
      {"a.b\\\x95\x5C", "\x95\x5C", "a.b\\", ".b\\\x95\x5C"},
  };
  for (const auto &c : cases) {
    EXPECT_STREQ(c.name, PathFindName(c.path)) << c.path;
    char out[PATH_BUF_SIZE];
    PathGetDir(c.path, out, sizeof out);
    EXPECT_STREQ(c.dir, out) << c.path;
    if (c.ext) {
      EXPECT_STREQ(c.ext, PathFindExt(c.path)) << c.path;
    } else {
      EXPECT_EQ(nullptr, PathFindExt(c.path)) << c.path;
    }
  }
  const char *cuts[] = {"C:\\\x95\x5C\\x\x95\x5C", "C:\\\x95\x5C", "C:\\", nullptr};
  char buf[PATH_BUF_SIZE];
  strcpy(buf, cuts[0]);
  for (int i = 1; cuts[i]; i++) {
    ASSERT_EQ(1, PathCutLast(buf)) << cuts[i - 1];
    EXPECT_STREQ(cuts[i], buf);
  }
  EXPECT_EQ(0, PathCutLast(buf));
  // A folder ending in such a character has no backslash at its end.
  const char *ends[][3] = {{"C:\\\x95\x5C", "C:\\\x95\x5C\\", "C:\\\x95\x5C"},
                           {"C:\\\x95\x5C\\", "C:\\\x95\x5C\\", "C:\\\x95\x5C"}};
  for (const auto &e : ends) {
    strcpy(buf, e[0]);
    EXPECT_STREQ(e[1], PathEnsureBackslash(buf)) << e[0];
    strcpy(buf, e[0]);
    EXPECT_STREQ(e[2], PathTrimBackslash(buf)) << e[0];
  }
  EXPECT_EQ(1, PathIsRootOnly("\\\\s\x95\x5C\\share"));
  EXPECT_EQ(0, PathIsRootOnly("\\\\s\x95\x5C\\share\\x"));
  char root[PATH_BUF_SIZE];
  EXPECT_EQ(1, PathGetRoot("\\\\s\x95\x5C\\share\\f", root, sizeof root));
  EXPECT_STREQ("\\\\s\x95\x5C\\share", root);
}
