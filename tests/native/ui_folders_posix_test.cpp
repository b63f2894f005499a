// Where the folder macros lead on POSIX: the XDG variables, the user-dirs
// file and HOME, in program path form.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "launcher/folder_macros.h"
#include "launcher/sfx_meta.h"

namespace {

class PosixFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kv-folders-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "TMPDIR"}) {
      const char *v = getenv(name);
      saved_.push_back({name, v ? v : "", v != nullptr});
    }
    setenv("HOME", (root_ + "/home").c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_DATA_HOME");
    mkdir((root_ + "/home").c_str(), 0700);
  }
  void TearDown() override {
    for (const auto &s : saved_) {
      if (s.set)
        setenv(s.name, s.value.c_str(), 1);
      else
        unsetenv(s.name);
    }
    std::string cmd = "rm -rf '" + root_ + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
  }
  static std::string Program(std::string native) {
    for (char &c : native)
      if (c == '/') c = '\\';
    return native;
  }
  std::string Expand(const char *path) {
    char out[272] = "";
    EXPECT_EQ(FolderExpandMacro(path, out, sizeof out), 1) << path;
    return out;
  }
  struct Saved {
    const char *name;
    std::string value;
    bool set;
  };
  std::vector<Saved> saved_;
  std::string root_;
};

TEST_F(PosixFolders, XdgVariablesThenHomeDefaults) {
  std::string home = Program(root_ + "/home");
  EXPECT_EQ(Expand("%AppData%\\app"), home + "\\.config\\app");
  EXPECT_EQ(Expand("%LocalAppData%\\app"), home + "\\.local\\share\\app");
  setenv("XDG_CONFIG_HOME", (root_ + "/cfg").c_str(), 1);
  setenv("XDG_DATA_HOME", "relative/ignored", 1);  // not absolute: the default holds
  EXPECT_EQ(Expand("%AppData%\\app"), Program(root_ + "/cfg") + "\\app");
  EXPECT_EQ(Expand("%LocalAppData%\\app"), home + "\\.local\\share\\app");
  setenv("TMPDIR", (root_ + "/t").c_str(), 1);
  EXPECT_EQ(Expand("%Temp%\\x"), Program(root_ + "/t") + "\\x");
  EXPECT_EQ(Expand("%System%\\x"), "\\usr\\bin\\x");
  EXPECT_EQ(Expand("%Windows%\\x"), "\\usr\\x");
  if (geteuid() != 0) {
    EXPECT_EQ(Expand("%Programs%\\p"), home + "\\.local\\opt\\p");
  } else {
    EXPECT_EQ(Expand("%Programs%\\p"), "\\opt\\p");
    EXPECT_EQ(Expand("%CommonFiles%\\c"), "\\usr\\local\\share\\c");
  }
}

TEST_F(PosixFolders, DocumentsFromUserDirsFileElseHome) {
  std::string home = Program(root_ + "/home");
  EXPECT_EQ(Expand("%Documents%\\d"), home + "\\d");  // no Documents folder: HOME itself
  mkdir((root_ + "/home/Documents").c_str(), 0700);
  EXPECT_EQ(Expand("%Documents%\\d"), home + "\\Documents\\d");
  mkdir((root_ + "/home/.config").c_str(), 0700);
  FILE *f = fopen((root_ + "/home/.config/user-dirs.dirs").c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", f);
  fclose(f);
  EXPECT_EQ(Expand("%Documents%\\d"), home + "\\Dokumente\\d");
}

TEST_F(PosixFolders, NoHomeMeansNoFolderAndTheTextStays) {
  unsetenv("HOME");
  char out[272] = "untouched";
  EXPECT_EQ(FolderExpandMacro("%AppData%\\x", out, sizeof out), 0);
  EXPECT_STREQ(out, "untouched");
}

// At start-up an unresolvable macro stops the mode 0 derivations after the
// command split: the stored folder stays and no flag is derived.
TEST_F(PosixFolders, UnresolvableMacroAtStartUpKeepsTheStoredFolder) {
  unsetenv("HOME");
  memset(&g_settings, 0, sizeof g_settings);
  g_runParameters[0] = '\0';
  g_overwriteAll = 0;
  g_premessagePending = 0;
  StrCopy(g_settings.targetFolder, "%AppData%\\app", sizeof g_settings.targetFolder);
  StrCopy(g_settings.runCommand, "setup.exe|/S", sizeof g_settings.runCommand);
  StrCopy(g_settings.premessageText, "hello", sizeof g_settings.premessageText);
  g_settings.unattended = 1;
  SfxDeriveSettings();
  EXPECT_STREQ(g_settings.targetFolder, "%AppData%\\app");
  EXPECT_STREQ(g_settings.runCommand, "setup.exe");
  EXPECT_STREQ(g_runParameters, "/S");
  EXPECT_EQ(g_overwriteAll, 0);
  EXPECT_EQ(g_premessagePending, 0);
  memset(&g_settings, 0, sizeof g_settings);
  g_runParameters[0] = '\0';
}

}  // namespace
