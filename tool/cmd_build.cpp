// kvsfx build: stub, metadata block and ZIP archive written into one file.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "args.h"
#include "fileio/ini_reader.h"
#include "launcher/lang_table.h"
#include "launcher/run_after.h"
#include "launcher/sfx_meta.h"
#include "launcher/switches.h"
#include "archive_cmd.h"
#include "build_checks.h"
#include "json_out.h"
#include "sha256.h"
#include "cp1252.h"
#include "pe_resources.h"
#include "tool.h"
#include "tool_os.h"
#include "deflate/lzma_compressor.h"
#include "zip_writer.h"

namespace {

// One row per option; rows with a setting fill that field of the block, and
// the settings file accepts their names as keys beside the field's own.
const ToolOption kBuildOptions[] = {
    {"archive", 0, "ZIP",
     "the ZIP archive to append; of a split set its last volume (.zip),\n"
     "whose other volumes are then written beside OUT as OUT's name\n"
     "with .z01, .z02...",
     nullptr},
    {"from", 0, "DIR",
     "instead of --archive: write the ZIP archive of DIR's contents\n"
     "(entries in byte order of their paths, Unix modes kept, times\n"
     "from SOURCE_DATE_EPOCH when set: reproducible); symbolic links\n"
     "are skipped with a warning",
     nullptr},
    {"level", 0, "N", "with --from: 0 stores, 1-12 Deflate (default 6)", nullptr},
    {"method", 0, "deflate|lzma",
     "with --from: Deflate (default; any unzip opens it) or LZMA (smaller,\n"
     "slower to write; --level 1-12 too); each file stays stored where it\n"
     "does not shrink. LZMA needs a tool built with liblzma: kvsfx.exe\n"
     "writes Deflate only",
     nullptr},
    {"exclude", 0, "PATTERN",
     "with --from, repeatable: leave out paths or names matching the\n"
     "shell pattern (a folder with its contents)",
     nullptr},
    {"output", 'o', "OUT", "the self-extractor to write (required)", nullptr},
    {"target-os", 0, "windows|posix",
     "which stub beside the tool (or in its share/kvsfx folder) to use:\n"
     "windows (default) kvsfx-stub.exe, posix kvsfx-stub",
     nullptr},
    {"stub", 0, "PATH", "use this stub instead (not with --target-os)", nullptr},
    {"lang", 0, "de|en|FILE",
     "language text: built-in German (default) or English, or an INI\n"
     "file of your own",
     nullptr},
    {"settings", 0, "FILE.ini",
     "settings from the [settings] section of an INI file, keys named\n"
     "as the settings or as these options (message = premessageText);\n"
     "\\n and \\t in its texts become line breaks and tabs. Options on\n"
     "the command line override it.",
     nullptr},
    {"mode", 0, "N",
     "mode (0: split run command, default folder; 2: use\n"
     "--mode2-command; other values: no derivations)",
     "mode"},
    {"caption", 0, "TEXT", "premessageCaption, at most 255 bytes", "premessageCaption"},
    {"message", 0, "TEXT", "premessageText, at most 4095 bytes; shown at start", "premessageText"},
    {"message-type", 0, "N", "premessageType: 0 OK, 1 Yes/No, 2 OK/Cancel", "premessageType"},
    {"info", 0, "TEXT", "infoText, at most 255 bytes", "infoText"},
    {"target", 0, "DIR",
     "targetFolder, at most 255 bytes (may start with a folder macro\n"
     "such as %Temp%)",
     "targetFolder"},
    {"run", 0, "CMD",
     "runCommand, at most 255 bytes: a path relative to the target\n"
     "folder, optionally '|' and parameters",
     "runCommand"},
    {"overwrite-option", 0, nullptr, "overwriteOption = 1", "overwriteOption"},
    {"unattended", 0, nullptr, "unattended = 1 (no dialog)", "unattended"},
    {"mode2-command", 0, "TEXT", "mode2Command, at most 255 bytes", "mode2Command"},
    {"verify", 0, nullptr,
     "test every entry through the engine before writing (the default\n"
     "with --from)",
     nullptr},
    {"no-verify", 0, nullptr, "do not test the archive first", nullptr},
    {"no-check-run", 0, nullptr, "allow a --run program that is not in the archive", nullptr},
    {"wait", 0, nullptr,
     "the stub waits for the run program and ends with its exit code\n"
     "(one that never ends is waited for)",
     nullptr},
    {"cleanup", 0, nullptr,
     "with --wait and a target under %Temp%: remove the extracted files\n"
     "when the program has ended",
     nullptr},
    {"switches", 0, nullptr,
     "the stub reads its command line: /s silent, /d:DIR target folder,\n"
     "/x no run command, /? help, -- then parameters for the run\n"
     "command; a wrong switch extracts nothing (exit 10)",
     nullptr},
    {"verify-first", 0, nullptr,
     "the stub tests every entry before it writes anything, so a damaged\n"
     "payload leaves the target untouched; costs one more decode pass",
     nullptr},
    {"icon", 0, "FILE.ico", "Windows stub: replace its main icon group", nullptr},
    {"version-info", 0, "KEY=VALUE",
     "Windows stub, repeatable: version information (FileVersion,\n"
     "ProductVersion, ProductName, CompanyName, FileDescription,\n"
     "LegalCopyright, OriginalFilename, Comments, InternalName,\n"
     "LegalTrademarks, PrivateBuild, SpecialBuild)",
     nullptr},
    {"manifest-level", 0, "LEVEL",
     "Windows stub: asInvoker, highestAvailable or requireAdministrator",
     nullptr},
    {"force", 0, nullptr, "replace existing split-set volumes beside OUT", nullptr},
    {"json", 0, nullptr,
     "print one JSON document on standard output, also on failure: the\n"
     "output's path, size and SHA-256, the stub, the block and archive\n"
     "offsets, the entry count and the settings written",
     nullptr},
};

const char kBuildAbout[] =
    "Writes OUT: the stub (padded with zero bytes to 50000 bytes when shorter),\n"
    "the metadata block (language text and settings), then the ZIP archive\n"
    "byte for byte: the one given with --archive, or one written from --from.\n"
    "Texts in UTF-8 (command line, settings and language files) are written in\n"
    "Windows-1252; when one has a character Windows-1252 lacks, all texts are\n"
    "written in UTF-8 (bit 2 of reservedC). Text that is not UTF-8 is taken as\n"
    "Windows-1252 already.\n"
    "Refuses (exit 1, no file written) an archive without an end-of-central-\n"
    "directory record or with an entry the stub cannot decode, a --run program\n"
    "missing from it, a language text the stub would reject, a text longer\n"
    "than its limit or neither UTF-8 nor Windows-1252, a stub so large that\n"
    "the stub would not find the block, two entries that would be one file\n"
    "on Windows (with a Windows stub), and with --from a name that is not\n"
    "UTF-8 or a file replaced or changed while it is read.\n";

// The settings that a builder may set, by name; reserved ones stay zero.
bool IsSettableField(const SfxField &f) { return strncmp(f.name, "reserved", 8) != 0; }

const SfxField *FindField(const char *name, size_t length) {
  for (const SfxField &f : kSfxFields)
    if (strlen(f.name) == length && strncmp(f.name, name, length) == 0 && IsSettableField(f)) return &f;
  return nullptr;
}

struct BuildSettings {
  uint32_t number[SFX_FIELD_COUNT] = {};
  std::string text[SFX_FIELD_COUNT];
};

int FieldIndex(const char *name) {
  for (int i = 0; i < SFX_FIELD_COUNT; ++i)
    if (strcmp(kSfxFields[i].name, name) == 0) return i;
  return -1;
}

bool ParseU32(const std::string &text, uint32_t *value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (uint64_t)(c - '0');
  }
  if (v > 0xFFFFFFFFu) return false;
  *value = (uint32_t)v;
  return true;
}

// The last refusal, for the --json document of a failed build.
std::string g_refusal;

void Refuse(const std::string &message) {
  fprintf(stderr, "kvsfx build: %s\n", message.c_str());
  g_refusal = message;
}

struct KeyCheck {
  std::string unknown;
};

// The option whose name is also a settings-file key for field, or null.
const ToolOption *FieldOption(const SfxField &f) {
  for (const ToolOption &o : kBuildOptions)
    if (o.setting && strcmp(o.setting, f.name) == 0 && strcmp(o.name, f.name) != 0) return &o;
  return nullptr;
}

int CheckSettingsKey(void *user, const char *name, size_t length) {
  if (length > 0 && (name[0] == ';' || name[0] == '#')) return 1;  // comment lines
  if (FindField(name, length)) return 1;
  for (const ToolOption &o : kBuildOptions)
    if (o.setting && strlen(o.name) == length && strncmp(o.name, name, length) == 0) return 1;
  ((KeyCheck *)user)->unknown.assign(name, length);
  return 0;
}

bool LoadSettingsFile(const std::string &path, BuildSettings *settings) {
  std::string data, error;
  if (!ToolReadFile(path, &data, &error)) {
    Refuse(error);
    return false;
  }
  KeyCheck check;
  if (!IniForEachKey(data.data(), data.size(), "settings", CheckSettingsKey, &check)) {
    Refuse("unknown setting '" + check.unknown + "' in " + path);
    return false;
  }
  for (int i = 0; i < SFX_FIELD_COUNT; ++i) {
    const SfxField &f = kSfxFields[i];
    if (!IsSettableField(f)) continue;
    // Far larger than any limit, so an over-long value is seen as such.
    std::vector<char> value(16384);
    const char absent[] = "\x01";
    IniLookup(data.data(), data.size(), "settings", f.name, absent, value.data(), (uint32_t)value.size());
    const ToolOption *alias = FieldOption(f);
    if (alias) {
      std::vector<char> other(value.size());
      IniLookup(data.data(), data.size(), "settings", alias->name, absent, other.data(), (uint32_t)other.size());
      if (strcmp(other.data(), absent) != 0) {
        if (strcmp(value.data(), absent) != 0) {
          Refuse(std::string("both ") + f.name + " and " + alias->name + " are set in " + path);
          return false;
        }
        value.swap(other);
      }
    }
    if (strcmp(value.data(), absent) == 0) continue;
    if (f.kind == SFX_FIELD_U32) {
      if (!ParseU32(value.data(), &settings->number[i])) {
        Refuse(std::string("setting ") + f.name + " in " + path + " is not a number: '" + value.data() + "'");
        return false;
      }
    } else {
      ExpandEscapes(value.data());
      settings->text[i] = value.data();
    }
  }
  return true;
}

// An archive must end in an end-of-central-directory record: its signature
// lies within the last 22 + 65535 bytes (the record and the longest comment).
// Gives the file's size and the record's disk number, which is above 0 for
// the last volume of a split set, whose other volumes must travel beside the
// self-extractor.
bool FindEndRecord(const std::string &path, int64_t *size, unsigned *disk) {
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return false;
  bool found = false;
  if (ToolSeek(f, 0, SEEK_END)) {
    int64_t end = ToolTell(f);
    *size = end;
    int64_t start = end > 65557 ? end - 65557 : 0;
    std::vector<unsigned char> tail((size_t)(end - start));
    if (ToolSeek(f, start, SEEK_SET) && fread(tail.data(), 1, tail.size(), f) == tail.size()) {
      for (size_t i = tail.size() >= 22 ? tail.size() - 22 + 1 : 0; i-- > 0;)
        if (tail[i] == 'P' && tail[i + 1] == 'K' && tail[i + 2] == 5 && tail[i + 3] == 6) {
          *disk = tail[i + 4] | (unsigned)tail[i + 5] << 8;
          found = true;
          break;
        }
    }
  }
  fclose(f);
  return found;
}


struct LangSource {
  const std::string *text;
};

uint32_t LookupBuffer(void *source, const char *section, const char *key, char *out, uint32_t size) {
  const std::string *text = ((LangSource *)source)->text;
  return IniLookup(text->data(), text->size(), section, key, "", out, size);
}

// The same checks the stub makes when it loads the table.
bool CheckLanguage(const std::string &text, const std::string &origin) {
  if (text.empty() || text.size() > SFX_LANG_MAX) {
    Refuse("language text " + origin + " must be 1 to 65535 bytes long, not " + std::to_string(text.size()));
    return false;
  }
  char *table[LANG_STRING_COUNT] = {};
  LangSource source = {&text};
  int failed = 0;
  int ok = LangTableFill(table, LookupBuffer, &source, &failed);
  LangTableFree(table);
  if (ok) return true;
  if (failed == -1)
    Refuse("language text " + origin + " has no [description] 0 (the language name)");
  else if (failed == LANG_FILE_INFO)
    Refuse("language text " + origin + ": string 34 is missing or does not contain \"%s\" exactly four times");
  else if (failed >= 0)
    Refuse("language text " + origin + ": string " + std::to_string(failed) + " is missing or empty");
  else
    Refuse("out of memory while checking the language text");
  return false;
}

void PutU32(std::string *out, uint32_t v) {
  unsigned char b[4] = {(unsigned char)v, (unsigned char)(v >> 8), (unsigned char)(v >> 16), (unsigned char)(v >> 24)};
  out->append((const char *)b, 4);
}

// Writes head then the archive's bytes into a fresh file beside out, and
// moves it over out only when everything arrived.
// With checksumAt (the PE checksum field of the stub, zero in head) the
// checksum over the whole file is filled in at the end.
bool WriteOutput(const std::string &out, const std::string &head, const std::string &archive, int64_t archiveSize,
                 size_t checksumAt) {
  PeChecksum checksum;
  checksum.Add(head.data(), head.size());
  std::string name, error;
  FILE *f = ToolCreateTemp(out, &name, &error);
  if (!f) {
    Refuse("cannot create a file beside '" + out + "': " + error);
    return false;
  }
  bool ok = fwrite(head.data(), 1, head.size(), f) == head.size();
  if (!ok) error = "cannot write '" + name + "': " + strerror(errno);
  if (ok) {
    FILE *in = fopen(archive.c_str(), "rb");
    int64_t copied = 0;
    if (!in) {
      ok = false;
      error = "cannot open '" + archive + "': " + strerror(errno);
    } else {
      char buffer[65536];
      size_t got;
      while (ok && (got = fread(buffer, 1, sizeof buffer, in)) > 0) {
        ok = fwrite(buffer, 1, got, f) == got;
        checksum.Add(buffer, got);
        copied += (int64_t)got;
      }
      if (!ok) error = "cannot write '" + name + "': " + strerror(errno);
      if (ok && (ferror(in) || copied != archiveSize)) {
        ok = false;
        error = "the archive '" + archive + "' changed or could not be read while copying";
      }
      fclose(in);
    }
  }
  if (ok && checksumAt) {
    unsigned char field[4];
    uint32_t sum = checksum.Finish();
    for (int i = 0; i < 4; ++i) field[i] = (unsigned char)(sum >> (8 * i));
    ok = ToolSeek(f, (int64_t)checksumAt, SEEK_SET) && fwrite(field, 1, 4, f) == 4;
    if (!ok) error = "cannot write '" + name + "': " + strerror(errno);
  }
  if (!ok) {
    fclose(f);
    remove(name.c_str());
  } else {
    ok = ToolCommitTemp(f, name, out, &error);
  }
  if (!ok) Refuse(error);
  return ok;
}

struct BuildOptions {
  std::string archive, from, output, targetOs, stub, lang = "de", settingsFile, level, method;
  std::vector<std::string> excludes, versionInfo;
  std::string icon, manifestLevel;
  int verify = -1;  // -1: on for --from, off for --archive
  bool checkRun = true, wait = false, cleanup = false, force = false, switches = false, verifyFirst = false;
  // Command-line settings, applied over the settings file: index -> value.
  std::vector<std::pair<int, std::string>> fields;
};

// A temporary file removed when the build ends, whatever the outcome.
struct RemoveOnExit {
  std::string path;
  ~RemoveOnExit() {
    if (!path.empty()) remove(path.c_str());
  }
};

// Writes the ZIP archive of opt.from into a fresh file beside the output.
bool WriteFolderArchive(const BuildOptions &opt, int level, int method, std::string *path) {
  std::string error;
  if (ToolKindOf(opt.from, &error) != TOOL_FOLDER) {
    Refuse("--from needs a folder: '" + opt.from + "'" + (error.empty() ? "" : ": " + error));
    return false;
  }
  FILE *f = ToolCreateTemp(opt.output + ".zip", path, &error);
  if (!f) {
    Refuse("cannot create a file beside '" + opt.output + "': " + error);
    return false;
  }
  ZipWriterOptions options;
  options.level = level;
  options.method = method;
  options.excludes = opt.excludes;
  options.progress = ToolStderrIsTerminal();
  // Neither the archive being written nor the output go into it, should
  // they lie inside the folder.
  options.skip = {ToolAbsolute(*path), ToolAbsolute(opt.output)};
  // Reproducible builds give every entry the same time.
  const char *epoch = getenv("SOURCE_DATE_EPOCH");
  uint32_t seconds = 0;
  if (epoch && *epoch) {
    if (!ParseU32(epoch, &seconds)) {
      Refuse(std::string("SOURCE_DATE_EPOCH is not a number of seconds: '") + epoch + "'");
      fclose(f);
      return false;
    }
    options.fixedTime = seconds;
  }
  std::vector<std::string> warnings;
  uint64_t entries = 0;
  bool ok = ZipWriteFolder(opt.from, f, options, &warnings, &error, &entries);
  for (const std::string &w : warnings) fprintf(stderr, "kvsfx build: warning: %s\n", w.c_str());
  if (fclose(f) != 0 && ok) {
    ok = false;
    error = "cannot write '" + *path + "': " + strerror(errno);
  }
  if (!ok) Refuse(error);
  return ok;
}

int BuildMain(const ToolArgs &args, ToolJsonDoc *report) {
  const bool json = args.Has("json");
  BuildOptions opt;
  for (const auto &given : args.given) {
    const ToolOption &o = *given.first;
    if (o.setting) opt.fields.emplace_back(FieldIndex(o.setting), o.value ? given.second : "1");
  }
  const char *const pathOptions[] = {"archive", "from", "output", "target-os", "stub", "lang",
                                     "settings", "level", "icon", "manifest-level", "method"};
  std::string *const pathTargets[] = {&opt.archive, &opt.from,     &opt.output, &opt.targetOs,
                                      &opt.stub,    &opt.lang,     &opt.settingsFile, &opt.level,
                                      &opt.icon,    &opt.manifestLevel, &opt.method};
  for (size_t i = 0; i < sizeof pathOptions / sizeof *pathOptions; i++)
    if (const std::string *v = args.Value(pathOptions[i])) *pathTargets[i] = *v;
  opt.excludes = args.Values("exclude");
  opt.versionInfo = args.Values("version-info");
  // The last of --verify and --no-verify counts.
  for (const auto &given : args.given) {
    if (strcmp(given.first->name, "verify") == 0) opt.verify = 1;
    if (strcmp(given.first->name, "no-verify") == 0) opt.verify = 0;
  }
  opt.checkRun = !args.Has("no-check-run");
  opt.wait = args.Has("wait");
  opt.cleanup = args.Has("cleanup");
  opt.force = args.Has("force");
  opt.switches = args.Has("switches");
  opt.verifyFirst = args.Has("verify-first");
  if (!opt.archive.empty() && !opt.from.empty()) {
    Refuse("give only one of --archive and --from");
    return TOOL_USAGE;
  }
  if (opt.archive.empty() && opt.from.empty()) {
    Refuse("give --archive ZIP or --from DIR (see kvsfx build --help)");
    return TOOL_USAGE;
  }
  if (opt.output.empty()) {
    Refuse("give the output with -o OUT (see kvsfx build --help)");
    return TOOL_USAGE;
  }
  int level = 6;
  if (!opt.level.empty()) {
    uint32_t v = 0;
    if (!ParseU32(opt.level, &v) || v > 12) {
      Refuse("--level takes 0 to 12, not '" + opt.level + "'");
      return TOOL_USAGE;
    }
    level = (int)v;
  }
  if (opt.from.empty() && (!opt.level.empty() || !opt.excludes.empty() || !opt.method.empty())) {
    Refuse("--level, --method and --exclude belong to --from");
    return TOOL_USAGE;
  }
  int method = 8;
  if (opt.method == "lzma") {
    if (!LzmaCompressorAvailable()) {
      Refuse("this kvsfx writes Deflate only: --method lzma needs a tool built with liblzma");
      return TOOL_USAGE;
    }
    method = 14;
  } else if (!opt.method.empty() && opt.method != "deflate") {
    Refuse("--method takes deflate or lzma, not '" + opt.method + "'");
    return TOOL_USAGE;
  }
  if (opt.cleanup && !opt.wait) {
    Refuse("--cleanup needs --wait: files can only be removed once the program has ended");
    return TOOL_USAGE;
  }
  if (!opt.stub.empty() && !opt.targetOs.empty()) {
    Refuse("--stub and --target-os exclude each other");
    return TOOL_USAGE;
  }
  if (opt.stub.empty()) {
    if (opt.targetOs.empty() || opt.targetOs == "windows")
      opt.stub = ToolFindStub("kvsfx-stub.exe");
    else if (opt.targetOs == "posix")
      opt.stub = ToolFindStub("kvsfx-stub");
    else {
      Refuse("--target-os must be windows or posix, not '" + opt.targetOs + "'");
      return TOOL_USAGE;
    }
  }

  // Resource edits of a Windows stub, checked before any work.
  PeResourceEdits edits;
  edits.manifestLevel = opt.manifestLevel;
  for (const std::string &kv : opt.versionInfo) {
    size_t eq = kv.find('=');
    if (eq == std::string::npos || eq == 0) {
      Refuse("--version-info takes KEY=VALUE, not '" + kv + "'");
      return TOOL_USAGE;
    }
    edits.versionInfo.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
  }
  std::string error;
  if (!opt.icon.empty() && !ToolReadFile(opt.icon, &edits.icon, &error)) {
    Refuse(error);
    return TOOL_FAILED;
  }
  if (!opt.icon.empty() && edits.icon.empty()) {
    Refuse("the icon file '" + opt.icon + "' is empty");
    return TOOL_FAILED;
  }
  // A bad version key or value is a mistake on the command line (status 2,
  // as every other bad option value); a bad icon file is a refused input.
  PeResourceEdits values = edits;
  values.icon.clear();
  if (!PeCheckEdits(values, &error)) {
    Refuse(error);
    return TOOL_USAGE;
  }
  if (!PeCheckEdits(edits, &error)) {
    Refuse(error);
    return TOOL_FAILED;
  }
  const bool editStub = !edits.icon.empty() || !edits.versionInfo.empty() || !edits.manifestLevel.empty();

  // Settings: the file first, then the command line over it.
  BuildSettings settings;
  if (!opt.settingsFile.empty() && !LoadSettingsFile(opt.settingsFile, &settings)) return TOOL_FAILED;
  for (const auto &field : opt.fields) {
    const SfxField &f = kSfxFields[field.first];
    if (f.kind == SFX_FIELD_U32) {
      if (!ParseU32(field.second, &settings.number[field.first])) {
        Refuse(std::string("value of ") + f.name + " is not a number: '" + field.second + "'");
        return TOOL_USAGE;
      }
    } else {
      settings.text[field.first] = field.second;
    }
  }
  const BuildSettings given = settings;  // as the user wrote them, for the report
  // Language text.
  std::string langText;
  const std::string *builtin = ToolBuiltinLanguage(opt.lang);
  if (builtin) {
    langText = *builtin;
  } else if (!ToolReadFile(opt.lang, &langText, &error)) {
    Refuse(error + " (--lang takes de, en or a file)");
    return TOOL_FAILED;
  }

  // The block's texts go in Windows-1252 while every one of them has a form
  // there, else all in UTF-8 (bit 2 of reservedC).
  bool textsUtf8 = false;
  for (int i = 0; i <= SFX_FIELD_COUNT; ++i) {
    const bool lang = i == SFX_FIELD_COUNT;
    if (lang ? builtin != nullptr : kSfxFields[i].kind != SFX_FIELD_TEXT) continue;
    Cp1252Failure bad;
    TextStorage storage = ClassifyText(lang ? langText : settings.text[i], &bad);
    if (storage == TextStorage::Neither) {
      char byte[8];
      snprintf(byte, sizeof byte, "0x%02X", (unsigned)bad.codePoint);
      Refuse((lang ? "language text '" + opt.lang + "'" : std::string(kSfxFields[i].name)) + ": byte " +
             std::to_string(bad.byte) + " (" + byte + ") is neither UTF-8 nor Windows-1252");
      return TOOL_FAILED;
    }
    textsUtf8 |= storage == TextStorage::Utf8Only;
  }
  for (int i = 0; i < SFX_FIELD_COUNT; ++i) {
    if (kSfxFields[i].kind != SFX_FIELD_TEXT) continue;
    Cp1252Failure unused;
    if (textsUtf8) settings.text[i] = TextAsUtf8(settings.text[i]);
    else Utf8ToCp1252(&settings.text[i], &unused);
  }
  Cp1252Failure unused;
  if (textsUtf8) langText = TextAsUtf8(langText);
  else if (!builtin) Utf8ToCp1252(&langText, &unused);
  const int targetIndex = FieldIndex("targetFolder");
  std::string macro = settings.text[targetIndex].substr(0, 6);
  for (char &c : macro) c = (char)tolower((unsigned char)c);
  if (opt.cleanup && macro != "%temp%") {
    Refuse("--cleanup needs a target folder that starts with %Temp%, not '" + settings.text[targetIndex] + "'");
    return TOOL_FAILED;
  }
  settings.number[FieldIndex("reservedC")] = (opt.wait ? SFX_FLAG_WAIT : 0) | (opt.cleanup ? SFX_FLAG_CLEANUP : 0) |
                                            (textsUtf8 ? SFX_FLAG_TEXTS_UTF8 : 0) |
                                            (opt.switches ? SFX_FLAG_SWITCHES : 0) |
                                            (opt.verifyFirst ? SFX_FLAG_TEST_FIRST : 0);
  for (int i = 0; i < SFX_FIELD_COUNT; ++i) {
    const SfxField &f = kSfxFields[i];
    if (f.kind == SFX_FIELD_TEXT && settings.text[i].size() > f.limit) {
      Refuse(std::string(f.name) + " is " + std::to_string(settings.text[i].size()) + " bytes long; at most " +
             std::to_string(f.limit) + " are allowed");
      return TOOL_FAILED;
    }
    // The stubs run in UTF-8 and convert the texts at start-up: a path cut
    // there would name another folder or program.
    const bool path = i == targetIndex || i == FieldIndex("runCommand") || i == FieldIndex("mode2Command");
    size_t inUtf8 = path && !textsUtf8 ? Cp1252AsUtf8(settings.text[i]).size() : 0;
    if (inUtf8 > f.limit) {
      Refuse(std::string(f.name) + " is " + std::to_string(inUtf8) +
             " bytes long in UTF-8, as the stubs read it; at most " + std::to_string(f.limit) + " are allowed");
      return TOOL_FAILED;
    }
  }

  if (!CheckLanguage(langText, "'" + opt.lang + "'")) return TOOL_FAILED;

  // The stub, read before any long work: a Windows one decides how names land.
  std::string head;
  if (!ToolReadFile(opt.stub, &head, &error)) {
    Refuse(error);
    return TOOL_FAILED;
  }
  const bool windowsStub = PeChecksumOffset(head) != 0;

  // Archive: the one given, or one written from the folder beside OUT.
  RemoveOnExit zipFromFolder;
  if (!opt.from.empty() && !WriteFolderArchive(opt, level, method, &zipFromFolder.path)) return TOOL_FAILED;
  if (!opt.from.empty()) opt.archive = zipFromFolder.path;
  int64_t archiveSize = 0;
  unsigned others = 0;  // volumes before this one
  if (FILE *probe = fopen(opt.archive.c_str(), "rb")) {
    fclose(probe);
  } else {
    Refuse("cannot read the archive '" + opt.archive + "': " + strerror(errno));
    return TOOL_FAILED;
  }
  if (!FindEndRecord(opt.archive, &archiveSize, &others)) {
    Refuse("'" + opt.archive + "' is not a ZIP archive: no end-of-central-directory record");
    return TOOL_FAILED;
  }
  std::string archiveProgramPath = ToolArchivePath(opt.archive.c_str());
  std::string runProgram = opt.checkRun ? RunProgramOf(settings.text[FieldIndex("runCommand")],
                                                       settings.number[FieldIndex("mode")])
                                        : std::string();
  uint64_t entryCount = 0;
  if (!CheckArchiveEntries(archiveProgramPath, runProgram, windowsStub, &entryCount, &error)) {
    Refuse(error);
    return TOOL_FAILED;
  }
  if (opt.verify == 1 || (opt.verify == -1 && !opt.from.empty())) {
    if (!VerifyArchive(archiveProgramPath, &error)) {
      Refuse(error);
      return TOOL_FAILED;
    }
  }

  // Stub, padded, then the block.
  // A Windows stub's checksum covers the whole file, so every build writes
  // it anew, not only one that edits resources.
  size_t checksumAt = PeChecksumOffset(head);
  if (editStub) {
    if (checksumAt == 0 || !PeApplyEdits(&head, edits, &error)) {
      Refuse("--icon, --version-info and --manifest-level need a Windows stub: " +
             (checksumAt ? error : "'" + opt.stub + "' is no Windows program"));
      return TOOL_FAILED;
    }
  }
  if (checksumAt)
    for (int i = 0; i < 4; ++i) head[checksumAt + i] = '\0';
  size_t stubSize = head.size();
  if (head.size() < SFX_SCAN_OFFSET) head.resize(SFX_SCAN_OFFSET, '\0');
  size_t blockOffset = head.size();
  head.append(SFX_MAGIC, SFX_MAGIC_SIZE);
  PutU32(&head, SFX_FORMAT_VERSION);
  PutU32(&head, SFX_REVISION);
  PutU32(&head, (uint32_t)langText.size());
  head += langText;
  for (int i = 0; i < SFX_FIELD_COUNT; ++i) {
    if (kSfxFields[i].kind == SFX_FIELD_U32) {
      PutU32(&head, settings.number[i]);
    } else {
      PutU32(&head, (uint32_t)settings.text[i].size());
      head += settings.text[i];
    }
  }

  // The stub reads min(file size, 1 MiB) bytes from offset 50000 and looks at
  // positions i < n - 18 there; the first header that passes is taken, so no
  // earlier one may hide in the stub's own bytes.
  uint64_t total = head.size() + (uint64_t)archiveSize;
  uint64_t window = total < SFX_SCAN_WINDOW ? total : SFX_SCAN_WINDOW;
  uint64_t n = total - SFX_SCAN_OFFSET < window ? total - SFX_SCAN_OFFSET : window;
  uint64_t index = blockOffset - SFX_SCAN_OFFSET;
  if (index + SFX_HEADER_SIZE >= n) {
    Refuse("the stub '" + opt.stub + "' is too large (" + std::to_string(blockOffset) +
           " bytes): the block must start by offset " + std::to_string(SFX_SCAN_OFFSET + SFX_SCAN_WINDOW - 19));
    return TOOL_FAILED;
  }
  int64_t first =
      SfxScanBlock((const unsigned char *)head.data() + SFX_SCAN_OFFSET, (size_t)index + SFX_HEADER_SIZE + 1);
  if (first != (int64_t)index) {
    Refuse("the stub '" + opt.stub + "' holds a block header of its own at offset " +
           std::to_string(SFX_SCAN_OFFSET + first) + "; the stub would read that one");
    return TOOL_FAILED;
  }

  // The other volumes of a split set go beside OUT under the names the stub
  // looks for; they are in place before OUT appears, and go again if it fails.
  std::vector<std::string> volumes;
  if (others > 0 && !CopySplitVolumes(opt.archive, opt.output, others, opt.force, &volumes, &error)) {
    Refuse(error);
    return TOOL_FAILED;
  }
  if (!WriteOutput(opt.output, head, opt.archive, archiveSize, checksumAt)) {
    for (const std::string &v : volumes) remove(v.c_str());
    return TOOL_FAILED;
  }
  if (json) {
    ToolJsonDoc &r = *report;
    r["result"] = "ok";
    r["output"] = ToolJsonString(opt.output);
    r["size"] = head.size() + (uint64_t)archiveSize;
    r["sha256"] = Sha256OfFile(opt.output);
    r["stub"] = {{"path", ToolJsonString(opt.stub)}, {"bytes", stubSize}, {"windows", windowsStub}};
    r["block_offset"] = blockOffset;
    r["block_bytes"] = head.size() - blockOffset;
    r["archive_offset"] = head.size();
    r["archive_bytes"] = archiveSize;
    r["entries"] = entryCount;
    r["language"] = ToolJsonString(opt.lang);
    ToolJsonDoc written = ToolJsonDoc::object();
    for (int i = 0; i < SFX_FIELD_COUNT; ++i) {
      const SfxField &f = kSfxFields[i];
      if (f.kind == SFX_FIELD_U32)
        written[ToolSnakeCase(f.name)] = settings.number[i];
      else
        written[ToolSnakeCase(f.name)] = ToolJsonString(given.text[i]);
    }
    r["settings"] = written;
    ToolJsonDoc names = ToolJsonDoc::array();
    for (const std::string &v : volumes) names.push_back(ToolJsonString(v));
    r["volumes"] = names;
  }
  if (args.Verbosity() > 0 && !json)
    printf("stub %s, language %s%s\n", opt.stub.c_str(), builtin ? "built-in " : "", opt.lang.c_str());
  if (args.Verbosity() >= 0 && !json)
    printf("%s: stub %zu bytes, block at %zu (%zu bytes), archive %lld bytes\n", opt.output.c_str(), stubSize,
           blockOffset, head.size() - blockOffset, (long long)archiveSize);
  if (others > 0 && args.Verbosity() >= 0 && !json)
    printf("%s is the last volume of a split set: its %u other volume(s) must travel beside %s as '%s'%s%s"
           " (written there)\n",
           opt.archive.c_str(), others, opt.output.c_str(), VolumeName(opt.output, 0).c_str(),
           others > 1 ? " to " : "", others > 1 ? ("'" + VolumeName(opt.output, others - 1) + "'").c_str() : "");
  if (head.size() + (uint64_t)archiveSize > SIGNABLE_MAX)
    fprintf(stderr, "kvsfx build: warning: %s is larger than 4 GiB; Authenticode cannot sign it\n",
            opt.output.c_str());
  return TOOL_OK;
}

int RunBuild(const ToolArgs &args) {
  ToolJsonDoc report = ToolJsonStart();
  int status = BuildMain(args, &report);
  if (args.Has("json")) {
    if (status != TOOL_OK) {
      report = ToolJsonStart();
      ToolJsonFailure(&report, 0, g_refusal, status);
    }
    ToolJsonPrint(report);
  }
  return status;
}

}  // namespace

const ToolVerb &BuildVerb() {
  static const ToolVerb verb = {"build",
                                "(--archive ZIP | --from DIR) -o OUT",
                                0,
                                0,
                                "make a self-extractor from a ZIP archive or a folder",
                                kBuildAbout,
                                {std::begin(kBuildOptions), std::end(kBuildOptions)},
                                kToolExitsPlain,
                                RunBuild};
  return verb;
}
