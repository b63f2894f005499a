// Finding and reading the metadata block in a file, SplitCommand and the
// derivations of the three kinds of mode.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "fileio/path.h"
#include "fileio/platform.h"
#include "launcher/lang_table.h"
#include "launcher/sfx_meta.h"
#include "launcher_test_files.h"

namespace {

std::string U32(uint32_t v) {
  unsigned char b[4];
  PutU32(b, v);
  return std::string((const char *)b, 4);
}

std::string Header(uint32_t langLength, uint32_t revision = 5, uint32_t version = SFX_FORMAT_VERSION) {
  return std::string(SFX_MAGIC, 6) + U32(version) + U32(revision) + U32(langLength);
}

std::string LangText() {
  std::string text = "[description]\r\n0=Test\r\n[data]\r\n";
  for (int k = 0; k < LANG_STRING_COUNT; ++k)
    text += std::to_string(k) + "=" + (k == 34 ? std::string("%s %s %s %s") : "S" + std::to_string(k)) + "\r\n";
  return text;
}

// Settings in stored order; texts by name, numbers by name, the rest 0/"".
std::string Settings(const std::map<std::string, std::string> &texts = {},
                     const std::map<std::string, uint32_t> &numbers = {}) {
  std::string out;
  for (const SfxField &f : kSfxFields) {
    if (f.kind == SFX_FIELD_U32) {
      auto it = numbers.find(f.name);
      out += U32(it == numbers.end() ? 0 : it->second);
    } else {
      auto it = texts.find(f.name);
      std::string value = it == texts.end() ? std::string() : it->second;
      out += U32((uint32_t)value.size()) + value;
    }
  }
  return out;
}

std::string Block(const std::string &settings = Settings(), uint32_t revision = 5) {
  std::string lang = LangText();
  return Header((uint32_t)lang.size(), revision) + lang + settings;
}

// A stand-in for the stub: the magic bytes appear in it as a bare constant.
std::string Stub(size_t size = SFX_SCAN_OFFSET) {
  std::string stub(size, '\x90');
  if (size > 40000) stub.replace(30000, 6, SFX_MAGIC, 6);
  return stub;
}

struct ReadResult {
  int code;
  SfxBlockInfo info;
};

ReadResult ReadImage(const std::string &image) {
  std::string path = TestTempPath("meta");
  ReadResult r = {-100, {}};
  if (!TestWriteFile(path, image)) return r;
  StrCopy(g_programPath, path.c_str(), sizeof g_programPath);
  r.code = SfxReadBlock(&r.info);
  FileDelete(path.c_str());
  LangTableFree(g_langTable);
  return r;
}

// --- Finding the block ------------------------------------------------------

struct ScanCase {
  const char *what;
  std::string image;
  int wantCode;
  int64_t wantOffset;  // when wantCode is 0
};

std::string At(size_t offset, const std::string &bytes, std::string image) {
  if (image.size() < offset + bytes.size()) image.resize(offset + bytes.size(), '\0');
  image.replace(offset, bytes.size(), bytes);
  return image;
}

class ScanTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanTest, FindsFirstAcceptedCandidate) {
  const ScanCase &c = GetParam();
  ReadResult r = ReadImage(c.image);
  EXPECT_EQ(c.wantCode, r.code) << c.what;
  if (c.wantCode == 0) {
    EXPECT_EQ(c.wantOffset, r.info.blockOffset) << c.what;
  }
}

const ScanCase kScanCases[] = {
    {"block right at 50000", Stub() + Block(), 0, 50000},
    {"block behind a longer stub", Stub(70000) + Block(), 0, 70000},
    {"only the stub's own magic", Stub(90000), SFX_NOT_FOUND, 0},
    {"magic with short tail", Stub() + "KV5SFX" + std::string(12, '\0'), SFX_NOT_FOUND, 0},
    {"revision 4 skipped", Stub() + Block(Settings(), 4) + Block(), 0, 50000 + (int64_t)Block().size()},
    {"revision 6 accepted", Stub() + Block(Settings(), 6), 0, 50000},
    {"language length 0 skipped", Stub() + Header(0) + Block(), 0, 50018},
    {"language length 65536 skipped", Stub() + Header(65536) + Block(), 0, 50018},
    {"other format version skipped", Stub() + Header(100, 5, 110799) + Block(), 0, 50018},
    {"magic overlapping a later block", Stub() + "KV5" + Block(), 0, 50003},
    {"block before the scan offset", At(49000, Block(), Stub()) + std::string(2000, '\0'), SFX_NOT_FOUND, 0},
    {"empty file", "", SFX_NOT_FOUND, 0},
    {"file of 50000 bytes", Stub(), SFX_NOT_FOUND, 0},
    {"file of 50018 bytes holding a header", Stub() + Header(1), SFX_NOT_FOUND, 0},
    {"file of 50019 bytes: header found, text cut", Stub() + Header(1) + "[", SFX_BAD_LANGUAGE, 0},
    {"language text runs past the end", Stub() + Header(60000) + LangText().substr(0, 300), SFX_BAD_LANGUAGE, 0},
    {"language text of 65535 bytes", Stub() + Header(65535) + LangText() + std::string(65535 - LangText().size(), ' ') + Settings(), 0, 50000},
    {"language text without string 73",
     Stub() + Header((uint32_t)LangText().find("73=")) + LangText().substr(0, LangText().find("73=")) + Settings(),
     SFX_BAD_LANGUAGE, 0},
};

INSTANTIATE_TEST_SUITE_P(Cases, ScanTest, ::testing::ValuesIn(kScanCases));

// The window holds 1 MiB from offset 50000; a header must start at least 19
// bytes before its end.
TEST(ScanWindow, LastPositionInsideIsFoundNextIsNot) {
  const size_t lastInside = SFX_SCAN_OFFSET + SFX_SCAN_WINDOW - 19;
  std::string block = Block();
  std::string inside = Stub(lastInside) + block + std::string(4096, '\0');
  ReadResult r = ReadImage(inside);
  EXPECT_EQ(0, r.code);
  EXPECT_EQ((int64_t)lastInside, r.info.blockOffset);
  EXPECT_EQ(SFX_NOT_FOUND, ReadImage(Stub(lastInside + 1) + block + std::string(4096, '\0')).code);
}

TEST(ScanBuffer, PositionsBelowNMinus18Only) {
  std::string header = Header(1);
  EXPECT_EQ(0, SfxScanBlock((const unsigned char *)header.data(), 19));
  EXPECT_EQ(-1, SfxScanBlock((const unsigned char *)header.data(), 18));
  EXPECT_EQ(-1, SfxScanBlock(nullptr, 100));
}

TEST(ReadBlock, MissingOwnFileIsNotFound) {
  StrCopy(g_programPath, TestTempPath("absent").c_str(), sizeof g_programPath);
  EXPECT_EQ(SFX_NOT_FOUND, SfxReadBlock(nullptr));
  g_programPath[0] = '\0';
  EXPECT_EQ(SFX_NOT_FOUND, ReadSfxMeta());
}

// --- Reading the settings ---------------------------------------------------

TEST(ReadSettings, EveryFieldInStoredOrder) {
  std::map<std::string, std::string> texts;
  std::map<std::string, uint32_t> numbers;
  uint32_t value = 100;
  for (const SfxField &f : kSfxFields) {
    if (f.kind == SFX_FIELD_U32)
      numbers[f.name] = value++;
    else
      texts[f.name] = std::string("text of ") + f.name;
  }
  texts["premessageText"] = std::string(4095, 'p');
  std::string settings = Settings(texts, numbers);
  std::string archive = "PK\x03\x04 archive follows";
  ReadResult r = ReadImage(Stub() + Block(settings) + archive);
  ASSERT_EQ(0, r.code);
  EXPECT_EQ(5u, r.info.revision);
  EXPECT_EQ(LangText().size(), r.info.langLength);
  EXPECT_EQ((int64_t)(50000 + Block(settings).size()), r.info.settingsEnd);
  for (const SfxField &f : kSfxFields) {
    if (f.kind == SFX_FIELD_U32)
      EXPECT_EQ(numbers[f.name], *SfxFieldU32(&g_settings, f)) << f.name;
    else
      EXPECT_EQ(texts[f.name], SfxFieldText(&g_settings, f)) << f.name;
  }
}

// An over-long text keeps its first bytes up to the limit; the next field is
// read directly behind them.
TEST(ReadSettings, OverlongTextKeepsLimitAndContinuesBehindIt) {
  std::string info = std::string(255, 'i') + U32(3) + "abc";
  info.resize(300, '\0');
  std::string settings = U32(0) + U32(0) + U32(0) + U32(0) + U32(0) + U32(0) + U32(300) + info;
  ReadResult r = ReadImage(Stub() + Block(settings) + std::string(64, '\0'));
  ASSERT_EQ(0, r.code);
  EXPECT_EQ(std::string(255, 'i'), g_settings.infoText);
  EXPECT_STREQ("abc", g_settings.targetFolder);
  EXPECT_STREQ("", g_settings.runCommand);

  std::string caption = std::string(300, 'c');
  r = ReadImage(Stub() + Block(Settings({{"premessageCaption", caption}, {"premessageText", std::string(5000, 't')}})));
  ASSERT_EQ(0, r.code);
  EXPECT_EQ(std::string(255, 'c'), g_settings.premessageCaption);
}

TEST(ReadSettings, CutShortFileLeavesTheRestEmpty) {
  std::string settings = Settings({{"premessageCaption", "cap"}, {"premessageText", "message text"}}, {{"mode", 2}});
  std::string cut = settings.substr(0, settings.find("message") + 3);
  ReadResult r = ReadImage(Stub() + Block(cut));
  ASSERT_EQ(0, r.code);
  EXPECT_EQ(2u, g_settings.mode);
  EXPECT_STREQ("cap", g_settings.premessageCaption);
  EXPECT_STREQ("mes", g_settings.premessageText);
  EXPECT_EQ(0u, g_settings.premessageType);
  EXPECT_STREQ("", g_settings.targetFolder);
}

TEST(ReadSettings, ZeroLengthTextStaysEmpty) {
  ReadResult r = ReadImage(Stub() + Block(Settings({{"infoText", ""}, {"targetFolder", "T"}})));
  ASSERT_EQ(0, r.code);
  EXPECT_STREQ("", g_settings.infoText);
  EXPECT_STREQ("T", g_settings.targetFolder);
}

// --- SplitCommand and the derivations ---------------------------------------

struct SplitCase {
  const char *command, *parametersBefore, *wantCommand, *wantParameters;
};

void CheckSplits(const SplitCase *cases, size_t count) {
  for (size_t i = 0; i < count; i++) {
    const SplitCase &c = cases[i];
    char command[PATH_BUF_SIZE], parameters[PATH_BUF_SIZE];
    StrCopy(command, c.command, sizeof command);
    StrCopy(parameters, c.parametersBefore, sizeof parameters);
    SplitCommand(command, parameters, sizeof parameters);
    EXPECT_STREQ(c.wantCommand, command) << c.command;
    EXPECT_STREQ(c.wantParameters, parameters) << c.command;
  }
}

TEST(SplitCommand, Table) {
  const SplitCase cases[] = {
      {"setup.exe|/S", "", "setup.exe", "/S"},
      {"setup.exe", "kept", "setup.exe", "kept"},
      {"|/quiet", "", "|/quiet", "/quiet"},
      {"a b |x|y", "", "a b ", "x|y"},
      {"run|", "old", "run", ""},
      {"", "kept", "", "kept"},
  };
  CheckSplits(cases, sizeof cases / sizeof cases[0]);
  char command[] = "x|0123456789";
  char small[5];
  SplitCommand(command, small, sizeof small);
  EXPECT_STREQ("0123", small);
}

// Japanese code page: 0x83 0x7C is one character whose second byte is '|'.
TEST(SplitCommand, DoubleByteTrailBarIsNoSeparator) {
  const char probe[] = "\x83\x7C";
  if (TextNext(probe) != probe + 2) GTEST_SKIP() << "the code page is not double-byte";
  const SplitCase cases[] = {
      {"\x83\x7C.exe|/q", "", "\x83\x7C.exe", "/q"},
      {"\x83\x7C.exe", "kept", "\x83\x7C.exe", "kept"},
  };
  CheckSplits(cases, sizeof cases / sizeof cases[0]);
}

struct DeriveCase {
  const char *what;
  uint32_t mode;
  const char *runCommand, *mode2Command, *targetFolder, *premessageText;
  uint32_t overwriteOption, unattended;
  const char *programPath;
  // wanted
  const char *wantRun, *wantParameters, *wantTarget;
  int wantOverwriteAll, wantPending;
};

const DeriveCase kDeriveCases[] = {
    {"mode 0 splits run command", 0, "setup.exe|/S", "m2|p", "D:\\T", "", 0, 0, "C:\\Dir\\x.exe",
     "setup.exe", "/S", "D:\\T", 0, 0},
    {"mode 0 without bar", 0, "setup.exe", "", "D:\\T", "", 0, 0, "C:\\Dir\\x.exe", "setup.exe", "", "D:\\T", 0, 0},
    {"mode 0 empty target is own folder", 0, "", "", "", "", 0, 0, "C:\\Dir\\x.exe", "", "", "C:\\Dir", 0, 0},
    {"mode 0 own folder at a root", 0, "", "", "", "", 0, 0, "C:\\x.exe", "", "", "C:\\", 0, 0},
    {"mode 0 overwrite option", 0, "", "", "T", "", 1, 0, "C:\\x.exe", "", "", "T", 1, 0},
    {"mode 0 unattended alone", 0, "", "", "T", "", 0, 1, "C:\\x.exe", "", "", "T", 1, 0},
    {"mode 0 message pending", 0, "", "", "T", "hello", 0, 0, "C:\\x.exe", "", "", "T", 0, 1},
    {"mode 1 derives nothing", 1, "setup.exe|/S", "m2|p", "", "", 1, 1, "C:\\Dir\\x.exe", "setup.exe|/S", "", "", 0,
     0},
    {"mode 1 message pending", 1, "", "", "", "hi", 0, 0, "C:\\x.exe", "", "", "", 0, 1},
    {"mode 2 splits mode2 command", 2, "setup.exe|/S", "m2.exe|-a -b", "", "", 0, 0, "C:\\Dir\\x.exe",
     "setup.exe|/S", "-a -b", "", 1, 0},
    {"mode 2 without bar", 2, "r", "m2", "", "msg", 0, 0, "C:\\x.exe", "r", "", "", 1, 1},
    {"mode 7 derives nothing", 7, "a|b", "c|d", "", "", 1, 1, "C:\\x.exe", "a|b", "", "", 0, 0},
};

class DeriveTest : public ::testing::TestWithParam<DeriveCase> {};

TEST_P(DeriveTest, Flags) {
  const DeriveCase &c = GetParam();
  memset(&g_settings, 0, sizeof g_settings);
  g_runParameters[0] = '\0';
  g_overwriteAll = 0;
  g_premessagePending = 0;
  g_settings.mode = c.mode;
  StrCopy(g_settings.runCommand, c.runCommand, sizeof g_settings.runCommand);
  StrCopy(g_settings.mode2Command, c.mode2Command, sizeof g_settings.mode2Command);
  StrCopy(g_settings.targetFolder, c.targetFolder, sizeof g_settings.targetFolder);
  StrCopy(g_settings.premessageText, c.premessageText, sizeof g_settings.premessageText);
  g_settings.overwriteOption = c.overwriteOption;
  g_settings.unattended = c.unattended;
  StrCopy(g_programPath, c.programPath, sizeof g_programPath);
  SfxDeriveSettings();
  EXPECT_STREQ(c.wantRun, g_settings.runCommand) << c.what;
  EXPECT_STREQ(c.wantParameters, g_runParameters) << c.what;
  EXPECT_STREQ(c.wantTarget, g_settings.targetFolder) << c.what;
  EXPECT_EQ(c.wantOverwriteAll, g_overwriteAll) << c.what;
  EXPECT_EQ(c.wantPending, g_premessagePending) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Modes, DeriveTest, ::testing::ValuesIn(kDeriveCases));

// Mode 0 resolves a folder macro at the start of the target; other modes don't.
TEST(Derive, FolderMacroInModeZeroOnly) {
  char temp[PATH_BUF_SIZE];
  ASSERT_NE(0u, SysGetTempPath(temp, sizeof temp));
  for (uint32_t mode : {0u, 1u}) {
    memset(&g_settings, 0, sizeof g_settings);
    g_settings.mode = mode;
    StrCopy(g_settings.targetFolder, "%TeMp%\\sub", sizeof g_settings.targetFolder);
    SfxDeriveSettings();
    EXPECT_EQ(mode == 0 ? std::string(temp) + "sub" : std::string("%TeMp%\\sub"), g_settings.targetFolder);
  }
}

TEST(StartupError, FixedTextsAndCodes) {
  static std::string shown;
  SetStartupErrorSink([](const char *text) { shown = text; });
  EXPECT_EQ(-2, ShowStartupError(-2));
  // Shown in the program's code page (the u-umlaut is Windows-1252 here).
  const char stored[] = "Kann Metadaten f\xFCr Spracheinstellungen nicht finden.\n\nCould not locate meta data for language settings.";
  char want[256];
  TextFromStored(stored, strlen(stored), 0, want, sizeof want);
  EXPECT_EQ(want, shown);
  EXPECT_EQ(stored, std::string(StartupErrorText(-2)));
  EXPECT_EQ(7, ShowStartupError(7));
  EXPECT_EQ("Zuwenig Speicher.\n\nInsufficient memory.", shown);
  EXPECT_EQ(5, ShowStartupError(5));
  EXPECT_EQ("Der Zugriff auf den Temp-Ordner wurde verweigert.\n\nCould not access temp directory.", shown);
  g_programPath[0] = '\0';
  EXPECT_EQ(-1, ReadSfxMeta());
  EXPECT_EQ("Kann Metadaten nicht finden.\n\nCould not locate meta data.", shown);
  SetStartupErrorSink(nullptr);
}

}  // namespace
