// The user interface's decisions without a window: size lines, centring,
// password and next-volume rules, overwrite answers, end-of-run texts and
// exit codes, and the safe formatting of language texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "launcher/dialog_path.h"
#include "launcher/sfx_state.h"
#include "ui/ui_shared.h"

namespace {

// A language table whose string k reads "Sk", with the placeholders of the
// strings the tests format.
class LangFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int k = 0; k < LANG_STRING_COUNT; k++) {
      snprintf(texts_[k], sizeof texts_[k], "S%d", k);
      saved_[k] = g_langTable[k];
      g_langTable[k] = texts_[k];
    }
    strcpy(texts_[13], "%s: %lu files");
    strcpy(texts_[28], "disk %u in %s");
    strcpy(texts_[29], "last disk in %s");
    strcpy(texts_[43], "cannot run '%s'");
    strcpy(texts_[44], "Error (%u) in %s.");
    settings_ = g_settings;
    memset(&g_settings, 0, sizeof g_settings);
    StrCopy(g_programPath, "C:\\dist\\setup.exe", sizeof g_programPath);
    g_lastError = 0;
    g_fileCount = 0;
    g_overwriteAll = 0;
    g_cancelRequested = 0;
    UiResetRun();
  }
  void TearDown() override {
    for (int k = 0; k < LANG_STRING_COUNT; k++) g_langTable[k] = saved_[k];
    g_settings = settings_;
    g_cancelRequested = 0;
    g_overwriteAll = 0;
    UiResetRun();
  }
  char texts_[LANG_STRING_COUNT][64];
  char *saved_[LANG_STRING_COUNT];
  SfxSettings settings_;
};

TEST(UiSizeLine, BytesBelow1024ElseTruncatedKilobytes) {
  struct Case {
    uint32_t high, low;
    int string;
    int32_t value;
  } cases[] = {
      {0, 0, 20, 0},       {0, 1023, 20, 1023},      {0, 1024, 21, 1},
      {0, 1535, 21, 1},    {0, 2048, 21, 2},         {0, 0xFFFFFFFFu, 21, 4194303},
      {1, 0x40000000, 21, 5 * 1024 * 1024},  // 5 GiB: the high half alone makes it KB
      {1, 0, 21, 4 * 1024 * 1024},
  };
  for (const auto &c : cases) {
    int32_t value = -1;
    EXPECT_EQ(UiFileSizeValue(c.high, c.low, &value), c.string) << c.high << ":" << c.low;
    EXPECT_EQ(value, c.value) << c.high << ":" << c.low;
  }
}

TEST(UiCentre, CentresThenClampsToTheScreen) {
  struct Case {
    int overStart, overSize, size, screen, want;
  } cases[] = {
      {0, 1024, 400, 1024, 312},  // centred on the desktop
      {100, 301, 100, 1024, 200},  // odd difference truncates
      {900, 300, 400, 1024, 624},  // would run off the right edge
      {-300, 100, 400, 1024, 0},   // would start left of the screen
      {0, 1024, 1200, 1024, 0},    // wider than the screen: pinned at 0
      {10, 20, 100, 1024, 0},      // (20 - 100) / 2 = -40 -> clamp
  };
  for (const auto &c : cases)
    EXPECT_EQ(UiCentrePosition(c.overStart, c.overSize, c.size, c.screen), c.want)
        << c.overStart << " " << c.overSize << " " << c.size;
}

TEST(UiProgress, TextAndBarSplit) {
  char text[PATH_BUF_SIZE];
  UiProgressText(text, sizeof text, "", 0);
  EXPECT_STREQ(text, " (0 %)");  // before the first file: a blank, then the percentage
  UiProgressText(text, sizeof text, "a.txt", 57);
  EXPECT_STREQ(text, "a.txt (57 %)");
  UiProgressText(text, sizeof text, nullptr, 100);
  EXPECT_STREQ(text, "100 %");
  EXPECT_EQ(UiProgressSplit(0, 218), 0);
  EXPECT_EQ(UiProgressSplit(100, 218), 218);
  EXPECT_EQ(UiProgressSplit(50, 219), 109);
}

TEST_F(LangFixture, PasswordAskedOnceThenOnlyAfterARejection) {
  char out[PATH_BUF_SIZE];
  EXPECT_TRUE(UiPasswordMustAsk(""));  // nothing typed yet
  UiPasswordRemember("secret");
  // The engine asks again with another previous password (its records were
  // cleared): the remembered one is handed back without a question.
  EXPECT_FALSE(UiPasswordMustAsk(""));
  UiPasswordHandOut(out);
  EXPECT_STREQ(out, "secret");
  // The remembered password was the one tried last: rejected, ask again with an empty field.
  EXPECT_TRUE(UiPasswordMustAsk("secret"));
  EXPECT_STREQ(UiPasswordRemembered(), "");
  // Case counts.
  UiPasswordRemember("Secret");
  EXPECT_FALSE(UiPasswordMustAsk("secret"));
}

TEST_F(LangFixture, PasswordCutTo249Characters) {
  std::string longPassword(260, 'p');
  UiPasswordRemember(longPassword.c_str());
  char out[PATH_BUF_SIZE];
  memset(out, 'x', sizeof out);
  UiPasswordHandOut(out);
  EXPECT_EQ(strlen(out), 249u);
}

TEST_F(LangFixture, NextVolumeFolderTidying) {
  struct Case {
    const char *typed, *want;
  } cases[] = {
      {"D", "D:\\"},      {"D:", "D:\\"},           {"", "E:\\set\\"},
      {"e:\\SET\\", "e:\\SET\\"},  // equal to the offer ignoring case: left alone
      {"F:\\other", "F:\\other"},
  };
  for (const auto &c : cases) {
    char folder[PATH_BUF_SIZE];
    StrCopy(folder, c.typed, sizeof folder);
    UiVolumeTidy(folder, sizeof folder, "E:\\set\\");
    EXPECT_STREQ(folder, c.want) << "typed '" << c.typed << "'";
  }
  char offered[PATH_BUF_SIZE], text[256];
  UiVolumeOffer("E:\\set\\data.z02", offered, sizeof offered);
  EXPECT_STREQ(offered, "E:\\set\\");
  UiVolumePromptText(3, offered, text, sizeof text);
  EXPECT_STREQ(text, "disk 3 in E:\\set\\");
  UiVolumePromptText(-1, offered, text, sizeof text);
  EXPECT_STREQ(text, "last disk in E:\\set\\");
}

TEST_F(LangFixture, OverwriteAnswers) {
  EXPECT_EQ(UiOverwriteBeforeAsking(), -1);
  struct Case {
    int answer, result, overwriteAll;
  } cases[] = {
      {ANSWER_REPLACE, OVERWRITE_REPLACE, 0}, {ANSWER_KEEP, OVERWRITE_KEEP, 0},
      {ANSWER_CANCEL, OVERWRITE_STOP, 0},     {ANSWER_REPLACE_ALL, OVERWRITE_REPLACE, 1},
      {-1, OVERWRITE_STOP, 0},  // the dialog could not be created
      {0, OVERWRITE_STOP, 0},   {3, OVERWRITE_STOP, 0},
  };
  for (const auto &c : cases) {
    g_overwriteAll = 0;
    EXPECT_EQ(UiOverwriteFromAnswer(c.answer), c.result) << c.answer;
    EXPECT_EQ(g_overwriteAll, c.overwriteAll) << c.answer;
  }
  g_overwriteAll = 1;
  EXPECT_EQ(UiOverwriteBeforeAsking(), OVERWRITE_REPLACE);
  g_cancelRequested = 1;  // cancel wins over replace-all
  EXPECT_EQ(UiOverwriteBeforeAsking(), OVERWRITE_STOP);
}

TEST_F(LangFixture, EntryStartCountsUntilCancelled) {
  EXPECT_EQ(UiNoteEntryStart("\\docs\\read me.txt"), 1);
  EXPECT_STREQ(g_statusName, "read me.txt");
  EXPECT_EQ(g_fileCount, 1);
  g_cancelRequested = 1;
  EXPECT_EQ(UiNoteEntryStart("\\b.txt"), 0);
  EXPECT_EQ(g_fileCount, 1);
  EXPECT_STREQ(g_statusName, "read me.txt");
}

TEST_F(LangFixture, EndMessageAndExitCodePerError) {
  StrCopy(g_settings.runCommand, "tools\\run.exe", sizeof g_settings.runCommand);
  struct Case {
    int32_t error;
    const char *text;
    int exitCode;
  } cases[] = {
      {28001, "S42", 9},  {28002, "S36", 5},  {28003, "S38", 7},
      {28004, "S41", 6},  {28007, "cannot run 'run.exe'", 8},
      {28062, "S40", 8},  {28063, "S35", 4},  {28080, "S39", 4},
      {28082, "S37", 3},  {28089, "S37", 3},
      {28005, "Error (28005) in setup.exe.", 5},  {28009, "Error (28009) in setup.exe.", 5},
      {28048, "Error (28048) in setup.exe.", 4},  {28058, "Error (28058) in setup.exe.", 8},
      {28149, "Error (28149) in setup.exe.", 8},
  };
  for (const auto &c : cases) {
    char text[2048];
    EndMessageText(c.error, text, sizeof text);
    EXPECT_STREQ(text, c.text) << c.error;
    EXPECT_EQ(ErrorToExitCode(c.error), c.exitCode) << c.error;
  }
  EXPECT_EQ(ErrorToExitCode(0), 0);
}

TEST_F(LangFixture, SummaryOnlyWithoutRunCommandAndWithEntries) {
  char text[2048];
  EXPECT_FALSE(SummaryText(text, sizeof text));  // no entry announced
  g_fileCount = 3;
  ASSERT_TRUE(SummaryText(text, sizeof text));
  EXPECT_STREQ(text, "setup.exe: 3 files");
  StrCopy(g_settings.runCommand, "x.exe", sizeof g_settings.runCommand);
  EXPECT_FALSE(SummaryText(text, sizeof text));
}

TEST(UiFormatting, LanguageTextCannotReadWhatWasNotPassed) {
  struct Case {
    const char *format, *want;
  } cases[] = {
      {"%s and %u", "name and 7"},
      {"%s %s %s %s", "name 7 %s %s"},  // more conversions than arguments: copied as typed
      {"%n%x%p 100%%", "%n%x%p 100%"},  // conversions nobody passes stay text
      {"%lu/%ld", "name/7"},            // a number asked for as text and the other way round
      {"trailing %", "trailing %"},
  };
  UiArg args[] = {{"name", 0}, {nullptr, 7}};
  for (const auto &c : cases) {
    char out[64];
    UiFormat(out, sizeof out, c.format, args, 2);
    EXPECT_STREQ(out, c.want) << c.format;
  }
  char small[8];
  UiFormat(small, sizeof small, "%s%s", args, 2);
  EXPECT_STREQ(small, "name7");
  UiFormat(small, sizeof small, "0123456789", args, 0);
  EXPECT_STREQ(small, "0123456");
}

TEST(UiFormatting, MessageInserts) {
  const char *inserts[3] = {"Monday", "10:30", "1023"};
  struct Case {
    const char *format, *want;
  } cases[] = {
      {"%3!d! bytes\r\nmodified on %1, %2", "1023 bytes\r\nmodified on Monday, 10:30"},
      {"'%1' %5 %0 %%", "'Monday'  %0 %"},  // an insert beyond the three is empty
      {"100%", "100%"},
      {"%3!d", "1023!d"},  // an unterminated format stays text
  };
  for (const auto &c : cases) {
    char out[128];
    UiFormatInserts(out, sizeof out, c.format, inserts, 3);
    EXPECT_STREQ(out, c.want) << c.format;
  }
}

}  // namespace
