// Volume lookup of split and spanned archives through a fake drive backend:
// the volume extensions, the split, appended and executable candidates, the
// prompt and its answers, and the disk labels of removable drives.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "fileio/kv_base.h"

// The engine is built without RTTI, so its classes have no type information
// for the sanitizer's dynamic-type check of this (RTTI) test file.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("vptr"))), apply_to = function)
#endif
#include "archive/volume.h"
#include "archive/zip_job.h"

namespace {

// The drives the fake backend plays: files by exact name, drives "A:" and
// "B:" removable, one label for every removable drive.
struct FakeDrives {
  std::set<std::string> files;
  std::string label;
  int labelResult = 1;  // 0: no disk; -1: a platform without labels
  int labelReads = 0;
};
FakeDrives *g_fake = nullptr;

int FakeRemovable(const char *path) { return (path[0] == 'A' || path[0] == 'B') && path[1] == ':'; }
int FakeLabel(const char *root, char *label, size_t size) {
  g_fake->labelReads++;
  EXPECT_EQ(std::string(root).substr(1), ":\\");
  if (g_fake->labelResult != 1) return g_fake->labelResult;
  StrCopy(label, g_fake->label.c_str(), size);
  return 1;
}
int FakeExists(const char *path) { return g_fake->files.count(path) ? 1 : 0; }
const VolumeDriveBackend kFake = {FakeRemovable, FakeLabel, FakeExists};

// One prompt as the engine made it, and the scripted answers.
struct Prompt {
  std::string offered;
  int32_t volume, volumeAgain;
};
struct PromptScript {
  std::vector<Prompt> seen;
  std::vector<std::string> answers;  // the last one repeats; "" cancels
  std::string labelAfterAnswer;      // the disk the user inserts, if any
};
PromptScript *g_script = nullptr;

int ScriptedPrompt(uintptr_t, char *path, uint32_t zero, int32_t volume, int32_t volumeAgain) {
  EXPECT_EQ(zero, 0u);
  g_script->seen.push_back({path, volume, volumeAgain});
  size_t i = g_script->seen.size() - 1;
  const std::string &answer = g_script->answers[i < g_script->answers.size() ? i : g_script->answers.size() - 1];
  if (answer.empty()) return 0;
  if (!g_script->labelAfterAnswer.empty()) g_fake->label = g_script->labelAfterAnswer;
  StrCopy(path, answer.c_str(), PATH_BUF_SIZE);
  return 1;
}

class VolumeLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &fake;
    g_script = &script;
    VolumeSetDriveBackend(&kFake);
  }
  void TearDown() override {
    VolumeSetDriveBackend(nullptr);
    g_fake = nullptr;
    g_script = nullptr;
  }
  // The path of volume n, or "error N".
  std::string Lookup(const char *archivePath, uint32_t n, uint32_t last, bool withPrompt) {
    ZipArchiveJob job;
    StrCopy(job.archive.archivePath, archivePath, PATH_BUF_SIZE);
    if (withPrompt) job.callbacks.onNextVolume.fn = ScriptedPrompt;
    char out[PATH_BUF_SIZE];
    if (!GetVolumePath(&job, n, last, out, sizeof out)) return "error " + std::to_string(job.GetError());
    EXPECT_EQ(job.GetError(), 0);
    return out;
  }
  FakeDrives fake;
  PromptScript script;
};

TEST(VolumeNames, ExtensionOfEachVolume) {
  struct Case {
    uint32_t n;
    const char *want;
  } cases[] = {{0, ".z01"}, {8, ".z09"}, {9, ".z10"}, {98, ".z99"}, {99, ".100"}, {998, ".999"}, {999, ".1000"},
               {0xFFFFFFFEu, ".4294967295"}, {0xFFFFFFFFu, ".4294967296"}};
  for (const Case &c : cases) {
    char ext[32];
    VolumeExtension(c.n, ext, sizeof ext);
    EXPECT_STREQ(ext, c.want) << c.n;
  }
}

TEST_F(VolumeLookup, CandidatesOnAFixedDrive) {
  struct Case {
    const char *archivePath;
    std::set<std::string> files;
    uint32_t n, last;
    const char *want;
  } cases[] = {
      // Split self-extractor: the last volume keeps its own name.
      {"D:\\dl\\setup.exe", {"D:\\dl\\setup.z01", "D:\\dl\\setup.z02", "D:\\dl\\setup.exe"}, 0, 2, "D:\\dl\\setup.z01"},
      {"D:\\dl\\setup.exe", {"D:\\dl\\setup.z01", "D:\\dl\\setup.z02", "D:\\dl\\setup.exe"}, 1, 2, "D:\\dl\\setup.z02"},
      {"D:\\dl\\setup.exe", {"D:\\dl\\setup.z01", "D:\\dl\\setup.z02", "D:\\dl\\setup.exe"}, 2, 2, "D:\\dl\\setup.exe"},
      {"D:\\dl\\setup.zip", {"D:\\dl\\setup.z10"}, 9, 20, "D:\\dl\\setup.z10"},
      {"D:\\dl\\setup.zip", {"D:\\dl\\setup.100"}, 99, 120, "D:\\dl\\setup.100"},
      // The appended name when no split name exists, the split name first.
      {"D:\\dl\\setup.zip", {"D:\\dl\\setup.zip.z01"}, 0, 2, "D:\\dl\\setup.zip.z01"},
      {"D:\\dl\\setup.zip", {"D:\\dl\\setup.zip.z01", "D:\\dl\\setup.z01"}, 0, 2, "D:\\dl\\setup.z01"},
      // The first volume carried by the self-extractor.
      {"D:\\dl\\setup.zip", {"D:\\dl\\setup.exe", "D:\\dl\\setup.zip"}, 0, 2, "D:\\dl\\setup.exe"},
      {"D:\\dl\\setup.zip", {"D:\\dl\\setup.exe", "D:\\dl\\setup.z01"}, 0, 2, "D:\\dl\\setup.z01"},
      // No own extension; a dot in a folder name is no extension.
      {"D:\\my.dl\\setup", {"D:\\my.dl\\setup.z01", "D:\\my.dl\\setup"}, 0, 1, "D:\\my.dl\\setup.z01"},
      {"D:\\my.dl\\setup", {"D:\\my.dl\\setup.z01", "D:\\my.dl\\setup"}, 1, 1, "D:\\my.dl\\setup"},
      // A long own extension still names the last volume itself.
      {"D:\\dl\\setup.an_extension_longer_than_thirty_two_bytes",
       {"D:\\dl\\setup.an_extension_longer_than_thirty_two_bytes"}, 1, 1,
       "D:\\dl\\setup.an_extension_longer_than_thirty_two_bytes"},
  };
  for (const Case &c : cases) {
    fake.files = c.files;
    EXPECT_EQ(Lookup(c.archivePath, c.n, c.last, false), c.want) << c.archivePath << " volume " << c.n;
  }
}

TEST_F(VolumeLookup, MissingVolumesOnAFixedDrive) {
  struct Case {
    const char *archivePath;
    std::set<std::string> files;
    uint32_t n, last;
  } cases[] = {
      {"D:\\dl\\setup.exe", {"D:\\dl\\setup.exe"}, 1, 2},
      // The executable name serves only the first volume...
      {"D:\\dl\\setup.zip", {"D:\\dl\\setup.exe"}, 1, 2},
      // ...and not when it is the archive's own last volume.
      {"D:\\dl\\setup.exe", {"D:\\dl\\setup.exe"}, 0, 2},
  };
  for (const Case &c : cases) {
    fake.files = c.files;
    EXPECT_EQ(Lookup(c.archivePath, c.n, c.last, false), "error 28149") << c.archivePath << " volume " << c.n;
  }
}

TEST_F(VolumeLookup, PromptOffersTheSplitNameAndTakesAFolder) {
  fake.files = {"E:\\other\\setup.z02"};
  script.answers = {"E:\\nothing", "E:\\other"};
  EXPECT_EQ(Lookup("D:\\dl\\setup.exe", 1, 2, true), "E:\\other\\setup.z02");
  ASSERT_EQ(script.seen.size(), 2u);
  EXPECT_EQ(script.seen[0].offered, "D:\\dl\\setup.z02");
  EXPECT_EQ(script.seen[0].volume, 2);
  EXPECT_EQ(script.seen[0].volumeAgain, 2);
  // The next question offers the folder the user named last.
  EXPECT_EQ(script.seen[1].offered, "E:\\nothing\\setup.z02");
}

TEST_F(VolumeLookup, RefusedOrEndlessPromptsEnd) {
  script.answers = {"E:\\a", ""};
  EXPECT_EQ(Lookup("D:\\dl\\setup.exe", 0, 2, true), "error 28001");
  EXPECT_EQ(script.seen.size(), 2u);

  // A prompt that keeps answering the same folder (as one that cannot show
  // its dialog does) ends as a missing volume instead of asking forever.
  script = PromptScript();
  script.answers = {"E:\\same"};
  EXPECT_EQ(Lookup("D:\\dl\\setup.exe", 0, 2, true), "error 28149");
  EXPECT_EQ(script.seen.size(), (size_t)VOLUME_PROMPT_LIMIT + 1);

  // Different folders each time are the user searching: no limit meanwhile.
  script = PromptScript();
  for (int i = 0; i < 100; i++) script.answers.push_back("E:\\try" + std::to_string(i));
  script.answers.push_back("");
  EXPECT_EQ(Lookup("D:\\dl\\setup.exe", 0, 2, true), "error 28001");
  EXPECT_EQ(script.seen.size(), 101u);
}

TEST_F(VolumeLookup, VolumesBeyondTheLastAreInvalid) {
  // Switching behind the last volume, or reading on past it, is a directory
  // that lies: 28080 without any prompt.
  fake.files = {"D:\\dl\\setup.z04"};
  for (int next = 0; next < 2; next++) {
    ZipArchiveJob job;
    StrCopy(job.archive.archivePath, "D:\\dl\\setup.exe", PATH_BUF_SIZE);
    job.callbacks.onNextVolume.fn = ScriptedPrompt;
    job.archive.lastDisk = 2;
    job.archive.currentDisk = 2;
    EXPECT_EQ(next ? NextVolume(&job) : SwitchToVolume(&job, 3), 0);
    EXPECT_EQ(job.GetError(), 28080);
  }
  EXPECT_TRUE(script.seen.empty());
}

TEST_F(VolumeLookup, DiskLabels) {
  struct Case {
    const char *label;
    int readable;
    const char *path;
    uint32_t n;
    int want;
  } cases[] = {
      {"PKBACK# 002", 1, "A:\\setup.zip", 1, 1},
      {"PKBACK# 002", 1, "A:\\setup.zip", 0, 0},
      {"PKBACK# 001", 1, "A:\\setup.zip", 0, 1},
      {"PKBACK#   10", 1, "B:\\x\\setup.zip", 9, 1},
      {"PKBACK# 0100", 1, "A:\\setup.zip", 99, 1},
      {"PKBACK# 002", 1, "D:\\setup.zip", 1, 0},  // fixed drive: no label asked
      {"PKBACK# 002", 0, "A:\\setup.zip", 1, 0},  // no disk in the drive
      {"BACKUP 002", 1, "A:\\setup.zip", 1, 0},
      {"PKBACK#", 1, "A:\\setup.zip", 0, 0},
      {"PKBACK# 000", 1, "A:\\setup.zip", 0, 0},
      {"PKBACK# 99999999999999999999", 1, "A:\\setup.zip", 0, 0},
  };
  for (const Case &c : cases) {
    fake.label = c.label;
    fake.labelResult = c.readable;
    EXPECT_EQ(IsDiskLabelled(c.path, c.n), c.want) << c.label << " " << c.path << " volume " << c.n;
  }
}

TEST_F(VolumeLookup, SpannedDisks) {
  fake.files = {"A:\\setup.zip"};
  fake.label = "PKBACK# 002";
  // The disk in the drive is volume 1: taken at once.
  EXPECT_EQ(Lookup("A:\\setup.zip", 1, 3, true), "A:\\setup.zip");
  EXPECT_TRUE(script.seen.empty());
  // Volume 0 is asked for, offering the drive; the user inserts disk 1.
  script.answers = {"A:\\"};
  script.labelAfterAnswer = "PKBACK# 001";
  EXPECT_EQ(Lookup("A:\\setup.zip", 0, 3, true), "A:\\setup.zip");
  ASSERT_EQ(script.seen.size(), 1u);
  EXPECT_EQ(script.seen[0].offered, "A:");
  EXPECT_EQ(script.seen[0].volume, 1);
  // Without a prompt the wrong disk is a missing volume.
  fake.label = "PKBACK# 002";
  EXPECT_EQ(Lookup("A:\\setup.zip", 0, 3, false), "error 28149");
  // A folder on a fixed drive named at the prompt is searched by name.
  script = PromptScript();
  script.answers = {"D:\\copy"};
  fake.files = {"D:\\copy\\setup.z01"};
  EXPECT_EQ(Lookup("A:\\setup.zip", 0, 3, true), "D:\\copy\\setup.z01");
}

TEST_F(VolumeLookup, RemovableDrivesWithoutSpannedDisks) {
  // A split set on a memory stick (another label), or on any drive of a
  // platform without labels: found by name, nobody asked.
  fake.files = {"A:\\dl\\setup.z01", "A:\\dl\\setup.exe"};
  for (int result : {1, -1}) {
    fake.label = "MYSTICK";
    fake.labelResult = result;
    EXPECT_EQ(Lookup("A:\\dl\\setup.exe", 0, 2, true), "A:\\dl\\setup.z01") << result;
    EXPECT_EQ(Lookup("A:\\dl\\setup.exe", 0, 2, false), "A:\\dl\\setup.z01") << result;
  }
  EXPECT_TRUE(script.seen.empty());
  // No disk in the drive: the disk is asked for, offering the drive.
  fake.labelResult = 0;
  script.answers = {""};
  EXPECT_EQ(Lookup("A:\\dl\\setup.exe", 0, 2, true), "error 28001");
  ASSERT_EQ(script.seen.size(), 1u);
  EXPECT_EQ(script.seen[0].offered, "A:");
}

}  // namespace

#if defined(__clang__)
#pragma clang attribute pop
#endif
