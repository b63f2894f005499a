// POSIX backend specifics: UTF-8 character stepping, code page conversions,
// backslash paths translated at the system boundary, and starting programs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fileio/file_excl.h"
#include "fileio/file_io.h"
#include "fileio/output_file.h"
#include "fileio/path.h"
#include "fileio/platform.h"
#include "fileio/posix/posix_path.h"

// The system's spelling of a program path.
static std::string Native(std::string path) {
  for (char &c : path)
    if (c == '\\') c = '/';
  return path;
}

// A fresh name in the temporary folder, made by create (which must fail on an
// existing name). Should another process take a name first, the next one is
// drawn.
static bool ClaimTempName(const char *suffix, char *out, const std::function<bool(const char *)> &create) {
  char tmp[PATH_BUF_SIZE];
  if (!SysGetTempPath(tmp, sizeof tmp)) return false;
  for (int attempt = 0; attempt < 50; attempt++)
    if (PathMakeTempName(tmp, suffix, out, PATH_BUF_SIZE) && create(out)) return true;
  return false;
}

static bool CreateNewFile(const char *name) {
  FileHandle h = FileCreateExclusive(name);
  return h != INVALID_FILE && FileClose(h);
}

TEST(PosixText, StepsByWholeUtf8Sequences) {
  // a, a-umlaut (2), euro (3), emoji (4), b; then a lone continuation byte, a
  // lead cut short by an ASCII byte, and a byte that leads nothing.
  const char s[] = "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80"
                   "b\x80\xE2z\xFF";
  const std::vector<int> starts = {0, 1, 3, 6, 10, 11, 12, 13, 14, 15};
  const char *p = s;
  for (size_t i = 1; i < starts.size(); i++) {
    p = TextNext(p);
    EXPECT_EQ(starts[i], p - s) << "forward step " << i;
  }
  EXPECT_EQ(p, TextNext(p)) << "no step past the terminator";
  for (size_t i = starts.size() - 1; i > 0; i--) {
    p = TextPrev(s, p);
    EXPECT_EQ(starts[i - 1], p - s) << "backward step " << i;
  }
  EXPECT_EQ(s, TextPrev(s, s));
  // Backwards from inside a sequence lands on a byte of its own, never before s.
  EXPECT_EQ(s + 6, TextPrev(s, s + 7));
  EXPECT_EQ(s + 2, TextPrev(s + 2, s + 3));
}

TEST(PosixText, PathWalksKeepMultibyteNamesWhole) {
  char path[PATH_BUF_SIZE] = "\\tmp\\\xC3\xA4rger.d\xC3\xAF\\\xE2\x82\xAC.txt";
  EXPECT_STREQ("\xE2\x82\xAC.txt", PathFindName(path));
  EXPECT_STREQ(".txt", PathFindExt(path));
  ASSERT_EQ(1, PathCutLast(path));
  EXPECT_STREQ("\\tmp\\\xC3\xA4rger.d\xC3\xAF", path);
  EXPECT_STREQ(".d\xC3\xAF", PathFindExt(path));
}

TEST(PosixText, UpperAndCompareAreAsciiOnly) {
  char s[] = "abc-\xC3\xA4z";
  TextUpper(s);
  EXPECT_STREQ("ABC-\xC3\xA4Z", s);
  EXPECT_EQ(0, TextCompareNoCase("Setup.EXE", "setup.exe"));
  EXPECT_LT(TextCompareNoCase("a", "B"), 0);
  EXPECT_GT(TextCompareNoCase("b", "A"), 0);
}

TEST(PosixText, OemIsCp437) {
  struct Case {
    const char *src;
    size_t size;
    const char *want;
    int exact;  // a cut name names no file exactly
  } cases[] = {
      {"A\x80\x81\xE1\xFF", 64, "A\xC3\x87\xC3\xBC\xC3\x9F\xC2\xA0", 1},  // A C-cedilla u-umlaut sharp-s nbsp
      {"\x9E\xB0\xCD", 64, "\xE2\x82\xA7\xE2\x96\x91\xE2\x95\x90", 1},    // peseta, light shade, double line
      {"x\x80", 3, "x", 0},     // the cut falls inside a character: it is left out whole
      {"x\x80", 4, "x\xC3\x87", 1},
      {"abc", 3, "ab", 0},
      {"", 8, "", 1},
  };
  for (const auto &c : cases) {
    char out[64];
    memset(out, 'Z', sizeof out);
    EXPECT_EQ(c.exact, TextFromOem(c.src, strlen(c.src), out, c.size)) << c.src;
    EXPECT_STREQ(c.want, out) << c.src;
  }
  char out[8];
  TextFromOem("abcdef", 3, out, sizeof out);
  EXPECT_STREQ("abc", out) << "the given length counts, not the terminator";
}

TEST(PosixText, Utf8IsCheckedAndCopied) {
  struct Case {
    const char *src;
    size_t size;
    const char *want;
    int exact;
  } cases[] = {
      {"plain", 64, "plain", 1},
      {"\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80", 64, "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80", 1},
      {"a\xC0\xAFz", 64, "a??z", 0},              // overlong slash
      {"\xED\xA0\x80", 64, "???", 0},             // surrogate
      {"\xF4\x90\x80\x80", 64, "????", 0},        // above U+10FFFF
      {"\x80x", 64, "?x", 0},                     // lone continuation
      {"\xE2\x82", 64, "??", 0},                  // cut short
      {"ab\xE2\x82\xAC", 5, "ab", 0},             // does not fit: left out whole
  };
  for (const auto &c : cases) {
    char out[64];
    EXPECT_EQ(c.exact, TextFromUtf8(c.src, strlen(c.src), out, c.size)) << c.src;
    EXPECT_STREQ(c.want, out) << c.src;
  }
  // The block's texts: Windows-1252 (its 0x80-0x9F letters included) or UTF-8.
  struct Stored {
    const char *src;
    int utf8;
    const char *want;
  } texts[] = {
      {"\x80 \x9F\xFC", 0, "\xE2\x82\xAC \xC5\xB8\xC3\xBC"},
      {"\xE6\x97\xA5\xD0\x96", 1, "\xE6\x97\xA5\xD0\x96"},
  };
  for (const auto &t : texts) {
    char out[64];
    EXPECT_EQ(1, TextFromStored(t.src, strlen(t.src), t.utf8, out, sizeof out)) << t.src;
    EXPECT_STREQ(t.want, out) << t.src;
  }
}

TEST(PosixPaths, TranslatedAtTheSystemBoundary) {
  char buf[16];
  EXPECT_STREQ("/a/b/", PosixFromProgramPath("\\a\\b\\", buf, sizeof buf));
  EXPECT_EQ(nullptr, PosixFromProgramPath("0123456789abcdef", buf, sizeof buf)) << "refused, not cut";
  EXPECT_EQ(nullptr, PosixFromProgramPath(nullptr, buf, sizeof buf));
  EXPECT_EQ(4u, PosixToProgramPath("/a/b", buf, sizeof buf));
  EXPECT_STREQ("\\a\\b", buf);
  EXPECT_EQ(0u, PosixToProgramPath("/0123456789abcdef", buf, sizeof buf));
  EXPECT_STREQ("", buf);

  char file[PATH_BUF_SIZE];
  ASSERT_TRUE(ClaimTempName(".bs", file, CreateNewFile));
  EXPECT_EQ(nullptr, strchr(file, '/'));
  FileHandle h = FileOpen(file, "wb");
  ASSERT_NE(INVALID_FILE, h);
  FileClose(h);
  std::string native = Native(file);
  struct stat st;
  EXPECT_EQ(0, stat(native.c_str(), &st)) << native;
  EXPECT_EQ(1, FileDelete(file));
  EXPECT_NE(0, stat(native.c_str(), &st));
}

TEST(PosixPaths, SystemFoldersComeBackWithBackslashes) {
  const char *saved = getenv("TMPDIR");
  std::string savedValue = saved ? saved : "";
  char out[PATH_BUF_SIZE];
  struct Case {
    const char *tmpdir;  // null: unset
    const char *want;
  } cases[] = {{"/var/tmp", "\\var\\tmp\\"}, {"/var/tmp/", "\\var\\tmp\\"}, {"relative", "\\tmp\\"}, {nullptr, "\\tmp\\"}};
  for (const auto &c : cases) {
    if (c.tmpdir) {
      setenv("TMPDIR", c.tmpdir, 1);
    } else {
      unsetenv("TMPDIR");
    }
    EXPECT_EQ(strlen(c.want), SysGetTempPath(out, sizeof out));
    EXPECT_STREQ(c.want, out);
  }
  if (saved) {
    setenv("TMPDIR", savedValue.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  char small[4];
  EXPECT_EQ(0u, SysGetTempPath(small, sizeof small));

  ASSERT_NE(0u, SysGetModulePath(out, sizeof out));
  EXPECT_EQ('\\', out[0]);
  EXPECT_EQ(nullptr, strchr(out, '/'));
  std::string native = Native(out);
  EXPECT_EQ(0, access(native.c_str(), X_OK));

  ASSERT_NE(0u, SysGetCurrentDir(out, sizeof out));
  EXPECT_EQ('\\', out[0]);
  EXPECT_EQ(nullptr, strchr(out, '/'));
}

TEST(PosixShell, StartsExecutablesOnly) {
  char dir[PATH_BUF_SIZE];
  ASSERT_TRUE(ClaimTempName(".sh.d", dir, DirCreate));
  std::string base = std::string(dir) + "\\";
  std::string script = base + "run.sh", marker = base + "marker", plain = base + "plain.txt";
  std::string nativeMarker = Native(marker);
  std::string body = "#!/bin/sh\necho \"$#:$*\" > " + nativeMarker + ".part && mv " + nativeMarker + ".part " +
                     nativeMarker + "\n";
  for (const std::string &f : {script, plain}) {
    FileHandle h = FileOpen(f.c_str(), "wb");
    ASSERT_NE(INVALID_FILE, h);
    FileWrite(h, body.data(), (uint32_t)body.size());
    FileClose(h);
  }
  std::string nativeScript = Native(script);
  ASSERT_EQ(0, chmod(nativeScript.c_str(), 0755));

  EXPECT_GT(SysShellOpen(nullptr, script.c_str(), "  one\ttwo  three "), 32);
  std::string got;
  for (int i = 0; i < 500 && got.empty(); i++) {
    usleep(10000);
    FILE *f = fopen(nativeMarker.c_str(), "r");
    if (!f) continue;
    char line[64] = {0};
    if (fgets(line, sizeof line, f)) got = line;
    fclose(f);
  }
  EXPECT_EQ("3:one two three\n", got) << "parameters split on blanks";

  EXPECT_EQ(2, SysShellOpen(nullptr, plain.c_str(), nullptr)) << "not executable";
  EXPECT_EQ(2, SysShellOpen(nullptr, (base + "missing").c_str(), nullptr));
  EXPECT_EQ(2, SysShellOpen(nullptr, dir, nullptr)) << "a folder";
  EXPECT_EQ(2, SysShellOpen(nullptr, nullptr, nullptr));

  // A script whose interpreter is missing does not start: exec fails.
  std::string broken = base + "broken.sh";
  FileHandle h = FileOpen(broken.c_str(), "wb");
  ASSERT_NE(INVALID_FILE, h);
  FileWrite(h, "#!/no/such/shell\n", 17);
  FileClose(h);
  std::string nativeBroken = Native(broken);
  ASSERT_EQ(0, chmod(nativeBroken.c_str(), 0755));
  EXPECT_EQ(2, SysShellOpen(nullptr, broken.c_str(), "x"));

  for (const std::string &f : {script, plain, marker, broken}) FileDelete(f.c_str());
  EXPECT_EQ(0, rmdir(Native(dir).c_str()));
}

TEST(PosixFiles, DosTimeSetsModificationAndAccessTimes) {
  char file[PATH_BUF_SIZE];
  ASSERT_TRUE(ClaimTempName(".tm", file, CreateNewFile));
  FileHandle h = FileOpen(file, "wb");
  ASSERT_NE(INVALID_FILE, h);
  // 1999-12-31 23:59:58 local.
  ASSERT_EQ(0u, FileSetDosTime(h, (19 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29));
  FileClose(h);
  struct tm t;
  memset(&t, 0, sizeof t);
  t.tm_year = 99;
  t.tm_mon = 11;
  t.tm_mday = 31;
  t.tm_hour = 23;
  t.tm_min = 59;
  t.tm_sec = 58;
  t.tm_isdst = -1;
  time_t want = mktime(&t);
  std::string native = Native(file);
  struct stat st;
  ASSERT_EQ(0, stat(native.c_str(), &st));
  EXPECT_EQ(want, st.st_mtime);
  EXPECT_EQ(want, st.st_atime);
  FileDelete(file);
}

TEST(PosixFiles, FifoWithoutWriterDoesNotHangTheOpen) {
  char fifo[PATH_BUF_SIZE];
  ASSERT_TRUE(ClaimTempName(".fifo", fifo, [](const char *name) { return mkfifo(Native(name).c_str(), 0600) == 0; }));
  FileHandle h = FileOpen(fifo, "rb");
  ASSERT_NE(INVALID_FILE, h);
  char c;
  EXPECT_EQ(0, FileRead(h, &c, 1)) << "no writer: end of file at once";
  FileClose(h);
  EXPECT_EQ(1, FileDelete(fifo));
}

// A link is seen as what it is (dangling or not) and nothing is ever written
// or changed through it; a finished file replaces the link itself.
TEST(PosixFiles, LinksAreSeenAndNeverWrittenThrough) {
  char dir[PATH_BUF_SIZE];
  ASSERT_TRUE(ClaimTempName(".lk", dir, [](const char *name) { return DirCreate(name) == 1; }));
  std::string base = std::string(dir) + "\\";
  std::string victim = base + "victim", fresh = base + "fresh";
  for (const std::string &name : {victim, fresh}) {
    FileHandle h = FileCreateNew(name.c_str());
    ASSERT_NE(INVALID_FILE, h);
    ASSERT_EQ(1, FileWrite(h, name == victim ? "v" : "f", 1));
    FileClose(h);
  }
  ASSERT_EQ(0, chmod(Native(victim).c_str(), 0640));
  const std::string links[] = {base + "to-file", base + "dangling", base + "to-folder"};
  ASSERT_EQ(0, symlink(Native(victim).c_str(), Native(links[0]).c_str()));
  ASSERT_EQ(0, symlink(Native(base + "none").c_str(), Native(links[1]).c_str()));
  ASSERT_EQ(0, symlink(Native(base).c_str(), Native(links[2]).c_str()));
  for (const std::string &link : links) {
    FindRecord r;
    ASSERT_EQ(1, FileFindFirst(link.c_str(), &r)) << link;
    EXPECT_NE(0u, r.attributes & FILE_ATTRIBUTE_REPARSE_POINT) << link;
    EXPECT_EQ(1, FileIsLink(link.c_str())) << link;
    EXPECT_EQ(1, PathHasLinkBelow(base.c_str(), (link + "\\below.txt").c_str())) << link;
    EXPECT_EQ(INVALID_FILE, FileOpen(link.c_str(), "wb")) << link;
    EXPECT_EQ(INVALID_FILE, FileCreateNew(link.c_str())) << link;
    EXPECT_NE(0u, FileSetAttributes(link.c_str(), FILE_ATTRIBUTE_READONLY)) << link;
  }
  EXPECT_EQ(0, FileIsLink(victim.c_str()));
  EXPECT_EQ(0, PathHasLinkBelow(base.c_str(), victim.c_str()));
  EXPECT_EQ(0, PathHasLinkBelow(links[2].c_str(), (links[2] + "\\victim").c_str())) << "the base itself may be one";
  // What the look found: extraction skips creating folders on its word.
  struct {
    std::string base, path;
    int kind, foldersThere;
  } const looks[] = {{base, victim, NAME_FILE, 1},
                     {base, base + "none\\x", NAME_ABSENT, 0},
                     {links[2], links[2] + "\\victim", NAME_FILE, 1},
                     {base, base, NAME_FOLDER, 1},
                     {base + "none\\", base + "none\\x", NAME_ABSENT, 0}};
  for (const auto &look : looks) {
    int kind = -1, there = -1;
    EXPECT_EQ(0, PathHasLinkBelow(look.base.c_str(), look.path.c_str(), &kind, &there)) << look.path;
    EXPECT_EQ(look.kind, kind) << look.path;
    EXPECT_EQ(look.foldersThere, there) << look.path;
  }
  EXPECT_EQ(1, FileReplace(fresh.c_str(), links[0].c_str()));
  EXPECT_EQ(0, FileIsLink(links[0].c_str()));
  struct stat st;
  ASSERT_EQ(0, stat(Native(victim).c_str(), &st));
  EXPECT_EQ(1, st.st_size);
  EXPECT_EQ(0640u, st.st_mode & 07777);
  EXPECT_NE(0, access(Native(base + "none").c_str(), F_OK));
  for (const std::string &name : {victim, links[0], links[1], links[2]}) FileDelete(name.c_str());
  rmdir(Native(dir).c_str());
}
