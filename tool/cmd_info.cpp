// kvsfx info: what the stub of a self-extractor would read at start-up.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "archive_cmd.h"
#include "args.h"
#include "fileio/file_io.h"
#include "fileio/ini_reader.h"
#include "fileio/platform.h"
#include "launcher/lang_table.h"
#include "launcher/run_after.h"
#include "launcher/sfx_meta.h"
#include "launcher/stub_version.h"
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
  char converted[LANG_VALUE_BUF * 3];
  TextFromStored(name, strlen(name), (g_settings.reservedC & SFX_FLAG_TEXTS_UTF8) != 0, converted, sizeof converted);
  return converted;
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

// Settings as "name": value pairs, for the JSON document.
std::string JsonSettings(SfxSettings *s) {
  std::string out;
  for (const SfxField &f : kSfxFields) {
    out += out.empty() ? "\n    " : ",\n    ";
    out += "\"" + std::string(f.name) + "\": ";
    out += f.kind == SFX_FIELD_U32 ? std::to_string(*SfxFieldU32(s, f)) : ToolJson(SfxFieldText(s, f));
  }
  return out + "\n  ";
}

void PrintSettings(SfxSettings *s) {
  for (const SfxField &f : kSfxFields) {
    if (f.kind == SFX_FIELD_U32)
      printf("  %-18s %u\n", f.name, *SfxFieldU32(s, f));
    else
      printf("  %-18s \"%s\"\n", f.name, ToolPrintableName(SfxFieldText(s, f)).c_str());
  }
}

// The version the stub carries ahead of its block, or "" when it has none.
std::string StubVersion(const std::string &native, int64_t blockOffset) {
  FILE *f = fopen(native.c_str(), "rb");
  if (!f) return std::string();
  std::string head((size_t)(blockOffset > 0 ? blockOffset : 0), '\0');
  head.resize(fread(&head[0], 1, head.size(), f));
  fclose(f);
  const std::string marker = KV_STUB_VERSION_MARKER;
  size_t at = head.find(marker);
  if (at == std::string::npos) return std::string();
  size_t end = at + marker.size();
  while (end < head.size() && end - at < marker.size() + 32 && head[end] > ' ' && head[end] < 0x7f) end++;
  return head.substr(at + marker.size(), end - at - marker.size());
}

int RunInfo(const ToolArgs &args) {
  const bool json = args.Has("json");
  const char *file = args.operands[0].c_str();
  ToolRun run;
  run.verb = "info";
  if (!ToolCheckArchive(run.verb, file)) return TOOL_FAILED;
  std::string path = ToolProgramPath(file);
  if (path.empty() || path.size() >= PATH_BUF_SIZE) {
    fprintf(stderr, "kvsfx info: cannot open '%s': the path is too long\n", file);
    return TOOL_FAILED;
  }
  StrCopy(g_programPath, path.c_str(), sizeof g_programPath);
  SfxBlockInfo block;
  int code = SfxReadBlock(&block);
  if (code != 0) {
    if (json)
      printf("{\n  \"file\": %s,\n  \"startup_error\": %d,\n  \"message\": %s\n}\n", ToolJson(file).c_str(), code,
             ToolJson(StartupErrorText(code)).c_str());
    else
      printf("%s: the stub would fail to start: code %d\n  %s\n", file, code,
             ToolPrintable(StartupErrorText(code)).c_str());
    return TOOL_FAILED;
  }
  std::string language = LanguageName(path, block);
  std::string stubVersion = StubVersion(file, block.blockOffset);
  if (json) {
    printf("{\n  \"file\": %s,\n  \"stub_version\": %s,\n  \"block_offset\": %lld,\n  \"format_version\": %u,\n",
           ToolJson(file).c_str(), stubVersion.empty() ? "null" : ToolJson(stubVersion).c_str(),
           (long long)block.blockOffset, SFX_FORMAT_VERSION);
    printf("  \"revision\": %u,\n  \"language\": {\"name\": %s, \"bytes\": %u},\n  \"archive_offset\": %lld,\n",
           block.revision, ToolJson(language).c_str(), block.langLength, (long long)block.settingsEnd);
    printf("  \"settings\": {%s},\n", JsonSettings(&g_settings).c_str());
  } else {
    printf("%s\n", file);
    printf("  stub version       %s\n", stubVersion.empty() ? "(none recorded)" : stubVersion.c_str());
    printf("  block at offset    %lld\n", (long long)block.blockOffset);
    printf("  format version     %u\n", SFX_FORMAT_VERSION);
    printf("  revision           %u\n", block.revision);
    printf("  language           \"%s\" (%u bytes)\n", ToolPrintableName(language).c_str(), block.langLength);
    printf("  archive at offset  %lld\n", (long long)block.settingsEnd);
    printf("settings:\n");
    PrintSettings(&g_settings);
  }
  SfxDeriveSettings();
  uint32_t flags = g_settings.reservedC;
  const bool wait = (flags & SFX_FLAG_WAIT) != 0, cleanup = wait && (flags & SFX_FLAG_CLEANUP);
  uint32_t signatureOffset = 0, signatureSize = 0;
  const bool signature = FindSignature(path, &signatureOffset, &signatureSize);
  if (json) {
    printf("  \"at_startup\": {\"runCommand\": %s, \"runParameters\": %s, \"targetFolder\": %s, ",
           ToolJson(g_settings.runCommand).c_str(), ToolJson(g_runParameters).c_str(),
           ToolJson(g_settings.targetFolder).c_str());
    printf("\"overwriteAll\": %d, \"premessagePending\": %d, \"wait\": %s, \"cleanup\": %s},\n", g_overwriteAll,
           g_premessagePending, wait ? "true" : "false", cleanup ? "true" : "false");
    if (signature)
      printf("  \"signature\": {\"kind\": \"Authenticode\", \"offset\": %u, \"bytes\": %u}\n}\n", signatureOffset,
             signatureSize);
    else
      printf("  \"signature\": null\n}\n");
  } else {
    printf("at start-up:\n");
    printf("  %-18s \"%s\"\n", "runCommand", ToolPrintableName(g_settings.runCommand).c_str());
    printf("  %-18s \"%s\"\n", "runParameters", ToolPrintableName(g_runParameters).c_str());
    printf("  %-18s \"%s\"\n", "targetFolder", ToolPrintableName(g_settings.targetFolder).c_str());
    printf("  %-18s %d\n", "overwriteAll", g_overwriteAll);
    printf("  %-18s %d\n", "premessagePending", g_premessagePending);
    printf("  %-18s %s\n", "wait for program", wait ? "yes (exit code of the run program)" : "no");
    printf("  %-18s %s\n", "clean up", cleanup ? "yes" : "no");
    printf("  %-18s %s\n", "texts stored in", flags & SFX_FLAG_TEXTS_UTF8 ? "UTF-8" : "Windows-1252");
    if (signature)
      printf("  %-18s Authenticode, %u bytes at offset %u\n", "signature", signatureSize, signatureOffset);
    else
      printf("  %-18s none\n", "signature");
  }
  LangTableFree(g_langTable);
  return TOOL_OK;
}

const ToolOption kInfoOptions[] = {
    {"json", 0, nullptr,
     "print one JSON document on standard output: the stub's version, the block's place, the language, every "
     "setting and what the stub derives at start-up (or the start-up failure)",
     nullptr},
};

}  // namespace

const ToolVerb &InfoVerb() {
  static const ToolVerb verb = {"info",
                                "FILE",
                                1,
                                1,
                                "show the block and settings of a self-extractor",
                                kInfoAbout,
                                {std::begin(kInfoOptions), std::end(kInfoOptions)},
                                kToolExitsPlain,
                                RunInfo};
  return verb;
}
