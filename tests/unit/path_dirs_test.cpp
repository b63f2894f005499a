// Path helpers that touch the file system: folder chains, output files with
// their folders, temporary names. Runs in a fresh folder under the platform's
// temporary folder.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "fileio/file_io.h"
#include "fileio/path.h"
#include "fileio/platform.h"

namespace {

class DirsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmp[PATH_BUF_SIZE];
    ASSERT_NE(0u, SysGetTempPath(tmp, sizeof tmp));
    ASSERT_EQ('\\', tmp[strlen(tmp) - 1]);
    char name[PATH_BUF_SIZE];
    ASSERT_EQ(1, PathMakeTempName(tmp, ".kvd", name, sizeof name));
    ASSERT_EQ(1, DirCreate(name));
    base_ = std::string(name) + "\\";
  }
  void TearDown() override {
    if (base_.empty()) return;
    std::string native = base_;
    for (char &c : native)
      if (c == '\\') c = '/';  // accepted as a separator on both platforms
    std::error_code ec;
    for (auto &e : std::filesystem::recursive_directory_iterator(native, ec))
      std::filesystem::permissions(e.path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(native, ec);
  }
  std::string P(const char *rel) const { return base_ + rel; }
  void MakeFile(const std::string &path) {
    FileHandle h = FileOpen(path.c_str(), "wb");
    ASSERT_NE(INVALID_FILE, h) << path;
    ASSERT_EQ(3, FileWrite(h, "abc", 3));
    ASSERT_EQ(1, FileClose(h));
  }
  std::string base_;
};

}  // namespace

TEST_F(DirsTest, CreateChain) {
  MakeFile(P("file"));
  ASSERT_EQ(1, DirCreate(P("P").c_str()));
  MakeFile(P("P\\Q"));
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

TEST_F(DirsTest, RelativeChainNeverCreatesItsFirstComponentAlone) {
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

TEST_F(DirsTest, FileCreateWithDirs) {
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

  // An existing read-only file is replaced and emptied.
  std::string ro = P("ro.txt");
  MakeFile(ro);
  ASSERT_EQ(0u, FileSetAttributes(ro.c_str(), FILE_ATTRIBUTE_READONLY));
  h = FileCreateWithDirs(ro.c_str());
  ASSERT_NE(INVALID_FILE, h);
  EXPECT_EQ(0, FileGetSize(h));
  FileClose(h);
  FindRecord r;
  ASSERT_EQ(1, FileFindFirst(ro.c_str(), &r));
  EXPECT_EQ(0u, r.attributes & FILE_ATTRIBUTE_READONLY);
}

TEST_F(DirsTest, TempNames) {
  char first[PATH_BUF_SIZE];
  ASSERT_EQ(1, PathMakeTempName(base_.c_str(), ".~cx", first, sizeof first));
  std::string name = first;
  ASSERT_EQ(0u, name.find(base_));
  std::string digits = name.substr(base_.size(), name.size() - base_.size() - 4);
  EXPECT_EQ(".~cx", name.substr(name.size() - 4));
  EXPECT_GE(digits.size(), 1u);
  EXPECT_LE(digits.size(), 8u);
  EXPECT_EQ(std::string::npos, digits.find_first_not_of("0123456789")) << digits;

  // Taken names are skipped at once, not after the clock moves on.
  MakeFile(first);
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
