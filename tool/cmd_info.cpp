// kvsfx info: what the stub of a self-extractor would read at start-up.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "archive_cmd.h"
#include "args.h"
#include "json_out.h"
#include "fileio/file_io.h"
#include "fileio/ini_reader.h"
#include "launcher/lang_table.h"
#include "launcher/run_after.h"
#include "launcher/sfx_meta.h"
#include "launcher/stub_version.h"
#include "launcher/switches.h"
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

// A message of the stub (German, a blank line, English) on one line.
std::string OneLine(const char *text) {
  std::string out;
  for (const char *p = text; *p; ++p) {
    if (*p == '\n') {
      if (!out.empty() && out.back() != ' ') out += " / ";
      while (p[1] == '\n') ++p;
    } else {
      out += ToolPrintable(p, 1);
    }
  }
  return out;
}

// Settings as snake_case keys, for the JSON document.
ToolJsonDoc JsonSettings(SfxSettings *s) {
  ToolJsonDoc out = ToolJsonDoc::object();
  for (const SfxField &f : kSfxFields) {
    if (f.kind == SFX_FIELD_U32)
      out[ToolSnakeCase(f.name)] = *SfxFieldU32(s, f);
    else
      out[ToolSnakeCase(f.name)] = ToolJsonString(SfxFieldText(s, f));
  }
  return out;
}

void PrintSettings(SfxSettings *s) {
  for (const SfxField &f : kSfxFields) {
    if (f.kind == SFX_FIELD_U32)
      printf("  %-18s %u\n", f.name, *SfxFieldU32(s, f));
    else
      printf("  %-18s \"%s\"\n", f.name, ToolPrintable(SfxFieldText(s, f)).c_str());
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
  ToolJsonDoc doc = ToolJsonStart();
  doc["file"] = ToolJsonString(file);
  auto refused = [&](int64_t code, const std::string &message) {
    if (json) {
      ToolJsonFailure(&doc, code, message, TOOL_FAILED);
      ToolJsonPrint(doc);
    }
    return TOOL_FAILED;
  };
  std::string message;
  if (!ToolCheckArchive(run.verb, file, &message)) return refused(0, message);
  std::string path = ToolProgramPath(file);
  if (path.empty() || path.size() >= PATH_BUF_SIZE) {
    message = std::string("cannot open '") + file + "': the path is too long";
    fprintf(stderr, "kvsfx info: %s\n", message.c_str());
    return refused(0, message);
  }
  StrCopy(g_programPath, path.c_str(), sizeof g_programPath);
  SfxBlockInfo block;
  int code = SfxReadBlock(&block);
  if (code != 0) {
    if (json) {
      doc["startup_error"] = code;
      return refused(0, "the stub would fail to start: " + OneLine(StartupErrorText(code)));
    }
    printf("%s: the stub would fail to start: code %d: %s\n", file, code, OneLine(StartupErrorText(code)).c_str());
    return TOOL_FAILED;
  }
  std::string language = LanguageName(path, block);
  std::string stubVersion = StubVersion(file, block.blockOffset);
  if (json) {
    doc["result"] = "ok";
    if (stubVersion.empty())
      doc["stub_version"] = nullptr;
    else
      doc["stub_version"] = ToolJsonString(stubVersion);
    doc["block_offset"] = block.blockOffset;
    doc["format_version"] = SFX_FORMAT_VERSION;
    doc["revision"] = block.revision;
    doc["language"] = {{"name", ToolJsonString(language)}, {"bytes", block.langLength}};
    doc["archive_offset"] = block.settingsEnd;
    doc["settings"] = JsonSettings(&g_settings);
  } else {
    printf("%s\n", file);
    printf("  stub version       %s\n", stubVersion.empty() ? "(none recorded)" : stubVersion.c_str());
    printf("  block at offset    %lld\n", (long long)block.blockOffset);
    printf("  format version     %u\n", SFX_FORMAT_VERSION);
    printf("  revision           %u\n", block.revision);
    printf("  language           \"%s\" (%u bytes)\n", ToolPrintable(language.c_str()).c_str(), block.langLength);
    printf("  archive at offset  %lld\n", (long long)block.settingsEnd);
    printf("settings:\n");
    PrintSettings(&g_settings);
  }
  // A folder macro names a folder of the machine the self-extractor runs
  // on; this machine's folder would say nothing about it.
  const std::string storedTarget = g_settings.targetFolder;
  SfxDeriveSettings();
  const bool macro = g_settings.mode == 0 && storedTarget.size() > 1 && storedTarget[0] == '%' &&
                     storedTarget != g_settings.targetFolder;
  const std::string target = macro ? storedTarget : std::string(g_settings.targetFolder);
  uint32_t flags = g_settings.reservedC;
  const bool wait = (flags & SFX_FLAG_WAIT) != 0, cleanup = wait && (flags & SFX_FLAG_CLEANUP);
  const bool switches = (flags & SFX_FLAG_SWITCHES) != 0, testFirst = (flags & SFX_FLAG_TEST_FIRST) != 0;
  uint32_t signatureOffset = 0, signatureSize = 0;
  const bool signature = FindSignature(path, &signatureOffset, &signatureSize);
  if (json) {
    ToolJsonDoc startup = ToolJsonDoc::object();
    startup["run_command"] = ToolJsonString(g_settings.runCommand);
    startup["run_parameters"] = ToolJsonString(g_runParameters);
    startup["target_folder"] = ToolJsonString(target);
    startup["target_resolved_on_target_machine"] = macro;
    startup["overwrite_all"] = g_overwriteAll;
    startup["premessage_pending"] = g_premessagePending;
    startup["wait"] = wait;
    startup["cleanup"] = cleanup;
    startup["switches"] = switches;
    startup["test_before_writing"] = testFirst;
    doc["at_startup"] = startup;
    if (signature)
      doc["signature"] = {{"kind", "Authenticode"}, {"offset", signatureOffset}, {"bytes", signatureSize}};
    else
      doc["signature"] = nullptr;
    ToolJsonPrint(doc);
  } else {
    printf("at start-up:\n");
    printf("  %-18s \"%s\"\n", "runCommand", ToolPrintable(g_settings.runCommand).c_str());
    printf("  %-18s \"%s\"\n", "runParameters", ToolPrintable(g_runParameters).c_str());
    printf("  %-18s \"%s\"%s\n", "targetFolder", ToolPrintable(target.c_str()).c_str(),
           macro ? " (a folder macro: resolved on the machine the self-extractor runs on)" : "");
    printf("  %-18s %d\n", "overwriteAll", g_overwriteAll);
    printf("  %-18s %d\n", "premessagePending", g_premessagePending);
    printf("  %-18s %s\n", "wait for program", wait ? "yes (exit code of the run program)" : "no");
    printf("  %-18s %s\n", "clean up", cleanup ? "yes" : "no");
    printf("  %-18s %s\n", "switches", switches ? "yes (/s /d:DIR /x /? --)" : "no (the command line is not read)");
    printf("  %-18s %s\n", "test first", testFirst ? "yes (every entry is tested before anything is written)" : "no");
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
     "print one JSON document on standard output, also on failure: the stub's version, the block's place, the "
     "language, every setting and what the stub derives at start-up (or the start-up failure)",
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
