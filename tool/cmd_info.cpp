// kvsfx info: what the stub of a self-extractor would read at start-up.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "args.h"
#include "fileio/file_io.h"
#include "fileio/ini_reader.h"
#include "launcher/lang_table.h"
#include "launcher/sfx_meta.h"
#include "tool.h"

namespace {

const char kInfoAbout[] =
    "Reads the metadata block of the self-extractor FILE the way its stub does\n"
    "at start-up and prints the block's place, revision, language name and every\n"
    "setting, then the values the stub derives from them. If the stub would fail\n"
    "to start, prints that failure (start-up code and message) and exits 1.\n";

// The language name from [description] 0 of the block's language text.
std::string LanguageName(const std::string &programPath, const SfxBlockInfo &block) {
  FileHandle h = FileOpen(programPath.c_str(), "rb");
  if (h == INVALID_FILE) return std::string();
  std::string text(block.langLength, '\0');
  int32_t got = -1;
  if (FileSeek64(h, block.blockOffset + SFX_HEADER_SIZE, FILE_BEGIN) >= 0)
    got = FileRead(h, &text[0], block.langLength);
  FileClose(h);
  if (got <= 0) return std::string();
  char name[LANG_VALUE_BUF];
  IniLookup(text.data(), (size_t)got, "description", "0", "", name, sizeof name);
  return name;
}

void PrintSettings(SfxSettings *s) {
  for (const SfxField &f : kSfxFields) {
    if (f.kind == SFX_FIELD_U32)
      printf("  %-18s %u\n", f.name, *SfxFieldU32(s, f));
    else
      printf("  %-18s \"%s\"\n", f.name, ToolPrintable(SfxFieldText(s, f)).c_str());
  }
}

int RunInfo(const ToolArgs &args) {
  const char *file = args.operands[0].c_str();
  std::string path = ToolProgramPath(file);
  if (path.empty() || path.size() >= PATH_BUF_SIZE) {
    fprintf(stderr, "kvsfx info: cannot open '%s'\n", file);
    return TOOL_FAILED;
  }
  StrCopy(g_programPath, path.c_str(), sizeof g_programPath);
  SfxBlockInfo block;
  int code = SfxReadBlock(&block);
  if (code != 0) {
    printf("%s: the stub would fail to start: code %d\n  %s\n", file, code,
           ToolPrintable(StartupErrorText(code)).c_str());
    return TOOL_FAILED;
  }
  std::string language = LanguageName(path, block);
  printf("%s\n", file);
  printf("  block at offset    %lld\n", (long long)block.blockOffset);
  printf("  format version     %u\n", SFX_FORMAT_VERSION);
  printf("  revision           %u\n", block.revision);
  printf("  language           \"%s\" (%u bytes)\n", ToolPrintable(language.c_str()).c_str(), block.langLength);
  printf("  archive at offset  %lld\n", (long long)block.settingsEnd);
  printf("settings:\n");
  PrintSettings(&g_settings);
  SfxDeriveSettings();
  printf("at start-up:\n");
  printf("  %-18s \"%s\"\n", "runCommand", ToolPrintable(g_settings.runCommand).c_str());
  printf("  %-18s \"%s\"\n", "runParameters", ToolPrintable(g_runParameters).c_str());
  printf("  %-18s \"%s\"\n", "targetFolder", ToolPrintable(g_settings.targetFolder).c_str());
  printf("  %-18s %d\n", "overwriteAll", g_overwriteAll);
  printf("  %-18s %d\n", "premessagePending", g_premessagePending);
  LangTableFree(g_langTable);
  return TOOL_OK;
}

}  // namespace

const ToolVerb &InfoVerb() {
  static const ToolVerb verb = {
      "info", "FILE",          1,      1, "show the block and settings of a self-extractor", kInfoAbout,
      {},     kToolExitsPlain, RunInfo};
  return verb;
}
