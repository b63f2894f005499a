// kvsfx info: what the stub of a self-extractor would read at start-up.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fileio/file_io.h"
#include "fileio/ini_reader.h"
#include "launcher/lang_table.h"
#include "launcher/run_after.h"
#include "launcher/sfx_meta.h"
#include "tool.h"

namespace {

const char kInfoHelp[] =
    "usage: kvsfx info FILE\n"
    "\n"
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

// The Authenticode signature of a PE file: its certificate table (data
// directory 4). Returns false for a file without one or that is no PE file.
bool FindSignature(const std::string &programPath, uint32_t *offset, uint32_t *size) {
  FileHandle h = FileOpen(programPath.c_str(), "rb");
  if (h == INVALID_FILE) return false;
  unsigned char head[4096];
  int32_t got = FileRead(h, head, sizeof head);
  FileClose(h);
  auto u16 = [&](uint32_t at) { return (uint32_t)(head[at] | head[at + 1] << 8); };
  auto u32 = [&](uint32_t at) { return u16(at) | u16(at + 2) << 16; };
  if (got < 64 || head[0] != 'M' || head[1] != 'Z') return false;
  uint32_t pe = u32(0x3C);
  if (pe > (uint32_t)got - 24 || memcmp(head + pe, "PE\0\0", 4) != 0) return false;
  uint32_t optional = pe + 24, magic = u16(optional);
  uint32_t directories = optional + (magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0);
  if (directories == optional || directories + 5 * 8 > (uint32_t)got) return false;
  if (u32(directories - 4) < 5) return false;  // fewer data directories than the table needs
  *offset = u32(directories + 4 * 8);
  *size = u32(directories + 4 * 8 + 4);
  return *offset != 0 && *size != 0;
}

void PrintSettings(SfxSettings *s) {
  for (const SfxField &f : kSfxFields) {
    if (f.kind == SFX_FIELD_U32)
      printf("  %-18s %u\n", f.name, *SfxFieldU32(s, f));
    else
      printf("  %-18s \"%s\"\n", f.name, ToolPrintable(SfxFieldText(s, f)).c_str());
  }
}

}  // namespace

int CmdInfo(int argc, char **argv) {
  if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    fputs(kInfoHelp, stdout);
    return TOOL_OK;
  }
  if (argc != 2 || argv[1][0] == '-') {
    fprintf(stderr, "kvsfx info: expected exactly one FILE (see kvsfx info --help)\n");
    return TOOL_USAGE;
  }
  std::string path = ToolProgramPath(argv[1]);
  if (path.empty() || path.size() >= PATH_BUF_SIZE) {
    fprintf(stderr, "kvsfx info: cannot open '%s'\n", argv[1]);
    return TOOL_FAILED;
  }
  StrCopy(g_programPath, path.c_str(), sizeof g_programPath);
  SfxBlockInfo block;
  int code = SfxReadBlock(&block);
  if (code != 0) {
    printf("%s: the stub would fail to start: code %d\n  %s\n", argv[1], code,
           ToolPrintable(StartupErrorText(code)).c_str());
    return TOOL_FAILED;
  }
  std::string language = LanguageName(path, block);
  printf("%s\n", argv[1]);
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
  uint32_t flags = g_settings.reservedC;
  printf("  %-18s %s\n", "wait for program", flags & SFX_FLAG_WAIT ? "yes (exit code of the run program)" : "no");
  printf("  %-18s %s\n", "clean up", (flags & SFX_FLAG_CLEANUP) && (flags & SFX_FLAG_WAIT) ? "yes" : "no");
  uint32_t signatureOffset = 0, signatureSize = 0;
  if (FindSignature(path, &signatureOffset, &signatureSize))
    printf("  %-18s Authenticode, %u bytes at offset %u\n", "signature", signatureSize, signatureOffset);
  else
    printf("  %-18s none\n", "signature");
  LangTableFree(g_langTable);
  return TOOL_OK;
}
