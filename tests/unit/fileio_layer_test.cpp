// File access layer and the path helpers that touch the file system: open
// modes, 64-bit positions, reads at the end, times and attributes, probes,
// folder chains, output files with their folders, temporary names. Runs on
// the real file system in a fresh folder under the temporary folder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fileio/file_io.h"
#include "fileio/path.h"
#include "fileio/platform.h"
#include "temp_folder.h"

namespace {

// A fresh folder under the temporary folder, removed with all it holds.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmp[PATH_BUF_SIZE];
    ASSERT_NE(0u, SysGetTempPath(tmp, sizeof tmp));
    ASSERT_EQ('\\', tmp[strlen(tmp) - 1]);
    base_ = MakeTempFolder(".kvt");
    ASSERT_NE("", base_);
  }
  void TearDown() override { RemoveTempFolder(base_); }
  std::string P(const char *rel) const { return base_ + rel; }
  void MakeFile(const std::string &path, const char *content) {
    FileHandle h = FileOpen(path.c_str(), "wb");
    ASSERT_NE(INVALID_FILE, h) << path;
    uint32_t n = (uint32_t)strlen(content);
    ASSERT_EQ((int32_t)n, FileWrite(h, content, n));
    ASSERT_EQ(1, FileClose(h));
  }
  int64_t SizeOf(const std::string &path) {
    FindRecord r;
    if (!FileFindFirst(path.c_str(), &r)) return -1;
    return (int64_t)(((uint64_t)r.sizeHigh << 32) | r.sizeLow);
  }
  std::string base_;
};

}  // namespace

TEST_F(TempDirTest, OpenModes) {
  struct Case {
    const char *mode;
    bool opensMissing, opensExisting, truncates, reads, writes;
  } cases[] = {
      {"a", false, true, false, true, true},   {"b", true, true, true, true, true},
      {"rb", false, true, false, true, false}, {"v", false, true, false, false, true},
      {"wb", true, true, true, false, true},   {"x", false, false, false, false, false},
      {"", false, false, false, false, false}, {"Rb", false, false, false, false, false},
  };
  int i = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string("mode '") + c.mode + "'");
    std::string missing = P("missing") + std::to_string(i);
    std::string existing = P("existing") + std::to_string(i++);
    MakeFile(existing, "hello");

    FileHandle h = FileOpen(missing.c_str(), c.mode);
    EXPECT_EQ(c.opensMissing, h != INVALID_FILE);
    if (h != INVALID_FILE) FileClose(h);
    EXPECT_EQ(c.opensMissing ? 1 : 0, FileExists(missing.c_str())) << "created only by the creating modes";

    h = FileOpen(existing.c_str(), c.mode);
    EXPECT_EQ(c.opensExisting, h != INVALID_FILE);
    if (h == INVALID_FILE) {
      EXPECT_EQ(5, SizeOf(existing)) << "a failed open leaves the file alone";
      continue;
    }
    EXPECT_EQ(c.truncates ? 0 : 5, FileGetSize(h));
    char buf[8] = {0};
    int32_t got = FileRead(h, buf, 5);
    if (c.reads) {
      EXPECT_EQ(c.truncates ? 0 : 5, got);
    } else {
      EXPECT_EQ(-1, got);
    }
    EXPECT_EQ(0, FileSeek(h, 0, 0, FILE_BEGIN));
    EXPECT_EQ(c.writes ? 2 : -1, FileWrite(h, "XY", 2));
    EXPECT_EQ(1, FileClose(h));
  }
  EXPECT_EQ(INVALID_FILE, FileOpen(nullptr, "rb"));
  EXPECT_EQ(INVALID_FILE, FileOpen(P("existing0").c_str(), nullptr));
  EXPECT_EQ(INVALID_FILE, FileOpen(base_.substr(0, base_.size() - 1).c_str(), "rb")) << "a folder is no file";
  EXPECT_EQ(0, FileClose(INVALID_FILE));
}

// What others may do with a file while it is open: an archive being read
// stays readable and writable, an output being written stays readable.
TEST_F(TempDirTest, OpenFilesStayOpenToOthers) {
  struct Case {
    const char *first, *second;
  } cases[] = {{"rb", "rb"}, {"rb", "a"}, {"a", "rb"}, {"b", "a"}, {"wb", "rb"}, {"v", "rb"}};
  int i = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.first) + " then " + c.second);
    std::string f = P("shared") + std::to_string(i++);
    MakeFile(f, "0123");
    FileHandle a = FileOpen(f.c_str(), c.first);
    ASSERT_NE(INVALID_FILE, a);
    FileHandle b = FileOpen(f.c_str(), c.second);
    EXPECT_NE(INVALID_FILE, b);
    if (b != INVALID_FILE) {
      char buf[4];
      EXPECT_EQ(c.first[0] == 'b' || c.first[0] == 'w' ? 0 : 4, FileRead(b, buf, sizeof buf));
      EXPECT_EQ(1, FileClose(b));
    }
    EXPECT_EQ(1, FileClose(a));
  }
}

TEST_F(TempDirTest, PositionsReadsAndWrites) {
  std::string f = P("data.bin");
  FileHandle h = FileOpen(f.c_str(), "b");
  ASSERT_NE(INVALID_FILE, h);
  EXPECT_EQ(10, FileWrite(h, "0123456789", 10));
  EXPECT_EQ(10, FileTell(h));
  EXPECT_EQ(10, FileGetSize(h));
  char buf[16];
  EXPECT_EQ(0, FileRead(h, buf, sizeof buf)) << "at the end a read gives 0, not -1";
  struct Seek {
    int64_t distance;
    int origin;
    int64_t want;
  } seeks[] = {
      {3, FILE_BEGIN, 3}, {2, FILE_CURRENT, 5}, {-1, FILE_END, 9}, {-4, FILE_CURRENT, 5},
      {-6, FILE_CURRENT, -1}, {0, FILE_CURRENT, 5}, {20, FILE_BEGIN, 20}, {0, 3, -1},
  };
  for (const auto &s : seeks)
    EXPECT_EQ(s.want, FileSeek64(h, s.distance, s.origin)) << s.distance << " from " << s.origin;
  EXPECT_EQ(0, FileRead(h, buf, sizeof buf)) << "past the end";
  EXPECT_EQ(4, FileSeek(h, 4, 0, FILE_BEGIN));
  EXPECT_EQ(6, FileRead(h, buf, sizeof buf)) << "a short count at the end is reported as such";
  EXPECT_EQ(0, memcmp(buf, "456789", 6));
  EXPECT_EQ(1, FileClose(h));
  EXPECT_EQ(-1, FileGetSize(INVALID_FILE));
  EXPECT_EQ(-1, FileTell(INVALID_FILE));
  EXPECT_EQ(-1, FileRead(INVALID_FILE, buf, 1));
}

TEST_F(TempDirTest, PositionWithAllOnesLowHalf) {
  std::string f = P("big.bin");
  FileHandle h = FileOpen(f.c_str(), "wb");
  ASSERT_NE(INVALID_FILE, h);
  // A failed call just before leaves an error code that must not be taken
  // for a failure of the seek.
  EXPECT_EQ(INVALID_FILE, FileOpen(P("no-such-file").c_str(), "rb"));
  const int64_t kPos = 0xFFFFFFFFLL;
  EXPECT_EQ(kPos, FileSeek(h, 0xFFFFFFFFu, 0, FILE_BEGIN));
  EXPECT_EQ(kPos, FileTell(h));
  // Sparse files may be refused by the file system; the size check needs one.
  if (FileWrite(h, "x", 1) == 1) {
    EXPECT_EQ(kPos + 1, FileGetSize(h));
    EXPECT_EQ(kPos + 1, FileTell(h));
    EXPECT_EQ(kPos - 1, FileSeek64(h, -2, FILE_END));
  }
  EXPECT_EQ(1, FileClose(h));
  EXPECT_EQ(1, FileDelete(f.c_str()));
}

TEST_F(TempDirTest, DosTimeStampsAllTimesOrNone) {
  std::string f = P("stamp.txt");
  // 2020-06-15 12:34:56 local time.
  const uint16_t kDate = (40 << 9) | (6 << 5) | 15, kTime = (12 << 11) | (34 << 5) | 28;
  FileTime want = 0;
  ASSERT_EQ(1, DosTimeToUtcFileTime(kDate, kTime, &want));
  FileHandle h = FileOpen(f.c_str(), "wb");
  ASSERT_NE(INVALID_FILE, h);
  EXPECT_EQ(0u, FileSetDosTime(h, kDate, kTime));
  EXPECT_EQ(1, FileClose(h));
  FindRecord r;
  ASSERT_EQ(1, FileFindFirst(f.c_str(), &r));
  EXPECT_EQ(want, r.lastWriteTime);
  EXPECT_EQ(want, r.lastAccessTime);
  // Within a day of the UTC value the fields spell (time zones).
  const FileTime kJun15Utc = 132366528000000000ULL + (12 * 3600 + 34 * 60 + 56) * 10000000ULL;
  EXPECT_LT(want > kJun15Utc ? want - kJun15Utc : kJun15Utc - want, 86400ULL * 10000000ULL);

  struct Bad {
    uint16_t date, time;
    const char *why;
  } bad[] = {
      {(40 << 9) | (13 << 5) | 1, 0, "month 13"},  {(40 << 9) | (0 << 5) | 1, 0, "month 0"},
      {(40 << 9) | (6 << 5) | 0, 0, "day 0"},      {(40 << 9) | (2 << 5) | 30, 0, "February 30"},
      {kDate, (24 << 11), "hour 24"},              {kDate, (60 << 5), "minute 60"},
      {kDate, 30, "second 60"},                    {(40 << 9) | (4 << 5) | 31, 0, "April 31"},
  };
  for (const auto &b : bad) {
    EXPECT_EQ(0, DosTimeToUtcFileTime(b.date, b.time, nullptr)) << b.why;
    h = FileOpen(f.c_str(), "a");
    ASSERT_NE(INVALID_FILE, h);
    EXPECT_NE(0u, FileSetDosTime(h, b.date, b.time)) << b.why;
    EXPECT_EQ(1, FileClose(h));
    ASSERT_EQ(1, FileFindFirst(f.c_str(), &r));
    EXPECT_EQ(want, r.lastWriteTime) << b.why << ": nothing set";
  }
  // Leap day and the oldest DOS date are fine.
  EXPECT_EQ(1, DosTimeToUtcFileTime((40 << 9) | (2 << 5) | 29, 0, nullptr));
  EXPECT_EQ(1, DosTimeToUtcFileTime((0 << 9) | (1 << 5) | 2, 0, nullptr));
}

TEST_F(TempDirTest, AttributesAndArchiveOnly) {
  std::string f = P("ro.txt");
  MakeFile(f, "old");
  FindRecord r;
  EXPECT_EQ(0u, FileSetAttributes(f.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  ASSERT_EQ(1, FileFindFirst(f.c_str(), &r));
  EXPECT_TRUE(r.attributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(0u, FileSetArchiveOnly(f.c_str()));
  ASSERT_EQ(1, FileFindFirst(f.c_str(), &r));
  EXPECT_EQ(0u, r.attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  EXPECT_TRUE(r.attributes & FILE_ATTRIBUTE_ARCHIVE);
  FileHandle h = FileOpen(f.c_str(), "wb");
  EXPECT_NE(INVALID_FILE, h) << "writable again";
  FileClose(h);
  EXPECT_NE(0u, FileSetAttributes(P("gone").c_str(), FILE_ATTRIBUTE_ARCHIVE)) << "an error code, not success";
  EXPECT_NE(0u, FileSetArchiveOnly(P("gone").c_str()));
  EXPECT_EQ(1, FileDelete(f.c_str()));
  EXPECT_EQ(0, FileDelete(f.c_str()));
  EXPECT_EQ(0, FileDelete(nullptr));
}

TEST_F(TempDirTest, FindFirstProbes) {
  MakeFile(P("Probe.TXT"), "12345");
  ASSERT_EQ(1, DirCreate(P("sub").c_str()));
  struct Case {
    const char *rel;
    int found;
    const char *name;
    bool directory;
    int64_t size;
  } cases[] = {
      {"Probe.TXT", 1, "Probe.TXT", false, 5}, {"sub", 1, "sub", true, 0},
      {"Pro*.TXT", 1, "Probe.TXT", false, 5},  {"P?obe.*", 1, "Probe.TXT", false, 5},
      {"none.txt", 0, "", false, 0},           {"none*", 0, "", false, 0},
      {"sub\\", 0, "", false, 0},              {"nodir\\x", 0, "", false, 0},
  };
  for (const auto &c : cases) {
    FindRecord r;
    memset(&r, 0x55, sizeof r);
    std::string p = P(c.rel);
    EXPECT_EQ(c.found, FileFindFirst(p.c_str(), &r)) << c.rel;
    EXPECT_EQ(c.found && !c.directory ? 1 : 0, FileExists(p.c_str())) << c.rel;
    if (!c.found) continue;
    EXPECT_STREQ(c.name, r.name) << c.rel;
    EXPECT_EQ(c.directory, (r.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) << c.rel;
    if (!c.directory) {
      EXPECT_EQ(c.size, (int64_t)(((uint64_t)r.sizeHigh << 32) | r.sizeLow)) << c.rel;
    }
    EXPECT_GT(r.lastWriteTime, 116444736000000000ULL) << c.rel << ": after 1970";
  }
  EXPECT_EQ(0, FileFindFirst(nullptr, nullptr));
  EXPECT_EQ(1, FileFindFirst(P("Probe.TXT").c_str(), nullptr)) << "the record is optional";
}

TEST_F(TempDirTest, CreateChain) {
  MakeFile(P("file"), "abc");
  ASSERT_EQ(1, DirCreate(P("P").c_str()));
  MakeFile(P("P\\Q"), "abc");
  struct Case {
    const char *rel;
    int want;
    const char *existAfter[4];  // folders that must exist afterwards
    const char *absentAfter;    // one that must not
  } cases[] = {
      {"A\\B\\C", 1, {"A", "A\\B", "A\\B\\C", nullptr}, nullptr},
      {"A\\B\\C", 1, {"A\\B\\C", nullptr}, nullptr},  // already there
      {"A\\X\\", 1, {"A\\X", nullptr}, nullptr},       // a trailing backslash is harmless
      {"file\\X", 0, {nullptr}, "file\\X"},           // a file blocks the chain
      {"file", 0, {nullptr}, nullptr},
      // Created in order: P exists, P\Q is a file, so P\Q\R\S stops there.
      {"P\\Q\\R\\S", 0, {"P", nullptr}, "P\\Q\\R"},
      {"M\\N\\O", 1, {"M", "M\\N", "M\\N\\O", nullptr}, nullptr},
  };
  for (const auto &c : cases) {
    std::string path = P(c.rel);
    EXPECT_EQ(c.want, DirCreateChain(path.c_str())) << c.rel;
    for (int i = 0; i < 4 && c.existAfter[i]; i++) EXPECT_EQ(1, DirExists(P(c.existAfter[i]).c_str())) << c.existAfter[i];
    if (c.absentAfter) {
      FindRecord r;
      EXPECT_EQ(0, DirExists(P(c.absentAfter).c_str())) << c.absentAfter;
      EXPECT_EQ(0, FileFindFirst(P(c.absentAfter).c_str(), &r)) << c.absentAfter;
    }
  }
  EXPECT_EQ(1, FileExists(P("file").c_str())) << "the blocking file is left alone";
  EXPECT_EQ(0, DirCreateChain(""));
  EXPECT_EQ(0, DirCreateChain(nullptr));
  std::string tooLong = base_ + std::string(300, 'x');
  EXPECT_EQ(0, DirCreateChain(tooLong.c_str()));
  EXPECT_EQ(0, DirCreatePath(tooLong.c_str()));
  EXPECT_EQ(1, DirCreatePath(P("T\\U\\").c_str()));
  EXPECT_EQ(1, DirExists(P("T\\U").c_str()));
}

TEST_F(TempDirTest, RelativeChainNeverCreatesItsFirstComponentAlone) {
  char saved[PATH_BUF_SIZE];
  ASSERT_NE(0u, SysGetCurrentDir(saved, sizeof saved));
  ASSERT_EQ(1, SysSetCurrentDir(base_.c_str()));
  EXPECT_EQ(0, DirCreateChain("rel\\sub"));
  EXPECT_EQ(0, DirExists("rel"));
  EXPECT_EQ(1, DirCreateChain("rel"));
  EXPECT_EQ(1, DirCreateChain("rel\\sub"));
  EXPECT_EQ(1, DirExists(P("rel\\sub").c_str()));
  EXPECT_EQ(1, SysSetCurrentDir(saved));
  EXPECT_EQ(0, SysSetCurrentDir(P("none").c_str()));
}

TEST_F(TempDirTest, FileCreateWithDirs) {
  std::string nested = P("N1\\N2\\out.txt");
  FileHandle h = FileCreateWithDirs(nested.c_str());
  ASSERT_NE(INVALID_FILE, h);
  EXPECT_EQ(2, FileWrite(h, "ok", 2));
  FileClose(h);
  EXPECT_EQ(1, DirExists(P("N1\\N2").c_str()));

  EXPECT_EQ(INVALID_FILE, FileCreateWithDirs("x.txt")) << "no folder part";
  EXPECT_EQ(0, FileExists("x.txt"));
  EXPECT_EQ(INVALID_FILE, FileCreateWithDirs(P("N1").c_str())) << "an existing folder";
  EXPECT_EQ(1, DirExists(P("N1").c_str()));
  EXPECT_EQ(INVALID_FILE, FileCreateWithDirs(nullptr));
  // A path longer than a path buffer is refused whole: a cut folder part
  // would leave folders behind that nobody asked for.
  std::string tooLong = P("L\\") + std::string(300, 'x') + "\\f.txt";
  EXPECT_EQ(INVALID_FILE, FileCreateWithDirs(tooLong.c_str()));
  EXPECT_EQ(0, DirExists(P("L").c_str()));

  // An existing read-only file is replaced and emptied.
  std::string ro = P("ro.txt");
  MakeFile(ro, "abc");
  ASSERT_EQ(0u, FileSetAttributes(ro.c_str(), FILE_ATTRIBUTE_READONLY));
  h = FileCreateWithDirs(ro.c_str());
  ASSERT_NE(INVALID_FILE, h);
  EXPECT_EQ(0, FileGetSize(h));
  FileClose(h);
  FindRecord r;
  ASSERT_EQ(1, FileFindFirst(ro.c_str(), &r));
  EXPECT_EQ(0u, r.attributes & FILE_ATTRIBUTE_READONLY);
}

TEST_F(TempDirTest, TempNames) {
  char first[PATH_BUF_SIZE];
  ASSERT_EQ(1, PathMakeTempName(base_.c_str(), ".~cx", first, sizeof first));
  std::string name = first;
  ASSERT_EQ(0u, name.find(base_));
  std::string digits = name.substr(base_.size(), name.size() - base_.size() - 4);
  EXPECT_EQ(".~cx", name.substr(name.size() - 4));
  EXPECT_GE(digits.size(), 1u);
  EXPECT_LE(digits.size(), 8u);
  EXPECT_EQ(std::string::npos, digits.find_first_not_of("0123456789")) << digits;
  // Names are drawn at random, not from the clock: asked again at once, the
  // same free folder gives another name.
  char again[PATH_BUF_SIZE];
  ASSERT_EQ(1, PathMakeTempName(base_.c_str(), ".~cx", again, sizeof again));
  EXPECT_STRNE(first, again);

  // Taken names are skipped at once, not after the clock moves on.
  MakeFile(first, "abc");
  char second[PATH_BUF_SIZE];
  ASSERT_EQ(1, PathMakeTempName(base_.c_str(), ".~cx", second, sizeof second));
  EXPECT_STRNE(first, second);
  ASSERT_EQ(1, DirCreate(second));
  char third[PATH_BUF_SIZE];
  ASSERT_EQ(1, PathMakeTempName(base_.c_str(), ".~cx", third, sizeof third));
  EXPECT_STRNE(first, third);
  EXPECT_STRNE(second, third) << "a folder of that name counts as taken";

  // The name part of the first argument is dropped; the output may be it.
  char buf[PATH_BUF_SIZE];
  StrCopy(buf, P("ignored.txt").c_str(), sizeof buf);
  ASSERT_EQ(1, PathMakeTempName(buf, ".tmp", buf, sizeof buf));
  EXPECT_EQ(0u, std::string(buf).find(base_));
  EXPECT_EQ(std::string::npos, std::string(buf).find("ignored"));

  // A name that does not fit is refused rather than cut.
  char small[8];
  EXPECT_EQ(0, PathMakeTempName(base_.c_str(), ".tmp", small, sizeof small));
  EXPECT_STREQ("", small);
  ASSERT_LT(base_.size(), 260u);
  std::string deep = base_ + std::string(268 - base_.size(), 'd') + "\\";  // 269 characters
  EXPECT_EQ(0, PathMakeTempName(deep.c_str(), ".longsuffix", buf, sizeof buf));
}

TEST(PlatformQuestions, OsIsNtAndDriveIsRemovable) {
  EXPECT_EQ(1, OsIsNt());
  char tmp[PATH_BUF_SIZE];
  ASSERT_NE(0u, SysGetTempPath(tmp, sizeof tmp));
  EXPECT_EQ(0, DriveIsRemovable(tmp)) << "the temporary folder is on a fixed disk";
  EXPECT_EQ(0, DriveIsRemovable(nullptr));
  EXPECT_EQ(0, DriveIsRemovable(""));
}

TEST(PlatformQuestions, EnvironmentValueWholeOrNothing) {
  // PATH is set on every system the tests run on, and longer than 3 bytes.
  char out[4096], small[4];
  uint32_t n = SysGetEnv("PATH", out, sizeof out);
  ASSERT_GT(n, 3u);
  EXPECT_EQ(n, strlen(out));
  memset(small, 'x', sizeof small);
  EXPECT_EQ(0u, SysGetEnv("PATH", small, sizeof small));
  EXPECT_STREQ("", small) << "a value that does not fit is not cut";
  memset(out, 'x', sizeof out);
  EXPECT_EQ(0u, SysGetEnv("KV_NEVER_SET_3F9A", out, sizeof out));
  EXPECT_STREQ("", out);
}
