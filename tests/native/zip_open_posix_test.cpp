// Opening an archive where a candidate file exists but cannot be opened: a
// socket passes the existence test and refuses every open, whoever runs the
// test (permissions would not stop the superuser).
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fileio/path.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("vptr"))), apply_to = function)
#endif
#include "archive/zip_job.h"

namespace {

// Names one folder at the first question and refuses every later one.
struct PromptLog {
  std::string folder;  // empty refuses at once
  int asked = 0;
};

int AnswerOnce(uintptr_t user, char *path, uint32_t, int32_t, int32_t) {
  PromptLog *log = (PromptLog *)user;
  if (log->asked++ > 0 || log->folder.empty()) return 0;
  StrCopy(path, log->folder.c_str(), PATH_BUF_SIZE);
  return 1;
}

std::string ProgramPath(std::string native) {
  for (char &c : native)
    if (c == '/') c = '\\';
  return native;
}

class ZipOpenPosix : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kvopen.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
  }
  void TearDown() override {
    for (int fd : sockets_) close(fd);
    std::string cmd = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(0, system(cmd.c_str()));
  }
  void WriteFile(const std::string &rel, const std::string &data) {
    FILE *f = fopen((dir_ + "/" + rel).c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
  }
  void MakeSocket(const std::string &rel) {
    std::string p = dir_ + "/" + rel;
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockets_.push_back(fd);
    sockaddr_un a;
    memset(&a, 0, sizeof a);
    a.sun_family = AF_UNIX;
    ASSERT_LT(p.size(), sizeof a.sun_path);
    memcpy(a.sun_path, p.c_str(), p.size());
    ASSERT_EQ(0, bind(fd, (sockaddr *)&a, sizeof a));
  }
  std::string dir_;
  std::vector<int> sockets_;
};

TEST_F(ZipOpenPosix, AnUnopenableCandidateEndsTheOpenWith28002) {
  ASSERT_EQ(0, mkdir((dir_ + "/dl").c_str(), 0700));
  ASSERT_EQ(0, mkdir((dir_ + "/other").c_str(), 0700));
  WriteFile("setup.exe", std::string(100, 'x'));  // no end record
  WriteFile("dl/setup.zip", std::string(100, 'y'));  // found, but no archive either
  struct Case {
    const char *sibling;  // beside setup.exe: "socket", "junk" or none
    const char *answer;   // the folder the prompt names; "" refuses
    int32_t want;
    int asked;
  } cases[] = {
      // The ".zip" sibling exists but will not open: no prompt follows.
      {"socket", "", ERR_FILE_ACCESS, 0},
      // The folder the user names holds such a file.
      {nullptr, "other", ERR_FILE_ACCESS, 1},
      // Files that open but hold no archive lead to the prompt, as before.
      {"junk", "", ERR_CANCELLED, 1},
      {nullptr, "dl", ERR_CANCELLED, 2},
  };
  MakeSocket("other/setup.zip");
  for (const Case &c : cases) {
    unlink((dir_ + "/setup.zip").c_str());
    if (c.sibling && strcmp(c.sibling, "socket") == 0) MakeSocket("setup.zip");
    if (c.sibling && strcmp(c.sibling, "junk") == 0) WriteFile("setup.zip", std::string(50, 'z'));
    PromptLog log;
    if (c.answer[0]) log.folder = ProgramPath(dir_ + "/" + c.answer);
    ZipArchiveJob job;
    job.Reset();
    job.callbacks.onNextVolume = {AnswerOnce, (uintptr_t)&log};
    std::string exe = ProgramPath(dir_ + "/setup.exe");
    int32_t got = job.Open(exe.c_str());
    EXPECT_EQ(c.want, got) << (c.sibling ? c.sibling : "no sibling") << ", answer '" << c.answer << "'";
    EXPECT_EQ(c.want, job.GetError());
    EXPECT_EQ(c.asked, log.asked) << (c.sibling ? c.sibling : "no sibling") << ", answer '" << c.answer << "'";
    EXPECT_EQ(INVALID_FILE, job.archive.volumeHandle) << "no file left open";
    job.Close();
  }
}

}  // namespace

#if defined(__clang__)
#pragma clang attribute pop
#endif
