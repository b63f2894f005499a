// kvsfx extract: any ZIP file or self-extractor into a folder, on the same
// engine as the self-extractor. Also the helpers the test and list verbs share.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../archive/zip_job.h"
#include "../fileio/ini_reader.h"
#include "../launcher/dialog_path.h"
#include "../launcher/sfx_state.h"
#include "../ui/console/console_ui.h"
#include "archive_cmd.h"
#include "args.h"
#include "tool.h"

namespace {

std::string ToProgram(std::string path) {
  for (char &c : path)
    if (c == '/') c = '\\';
  return path;
}

// Absolute and lexically normal: no ".", "..", or doubled slashes, which
// the program's folder creation would read as a network path.
std::string AbsoluteNative(const char *native) {
  std::string in = native;
  if (in.empty() || in[0] != '/') {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return std::string();
    in = std::string(cwd) + "/" + in;
  }
  std::string out;
  size_t i = 0;
  while (i < in.size()) {
    size_t j = in.find('/', i);
    if (j == std::string::npos) j = in.size();
    std::string part = in.substr(i, j - i);
    i = j + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      size_t cut = out.rfind('/');
      out.erase(cut == std::string::npos ? 0 : cut);
      continue;
    }
    out += "/" + part;
  }
  return out.empty() ? "/" : out;
}

int MakeFolders(const std::string &path) {
  for (size_t i = 1; i <= path.size(); i++) {
    if (i < path.size() && path[i] != '/') continue;
    std::string prefix = path.substr(0, i);
    if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return 0;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The English text of an engine error code.
std::string ErrorText(int32_t code, const std::string &archivePath) {
  int number = 44;
  switch (code) {
    case ERR_CANCELLED: number = 42; break;
    case ERR_FILE_ACCESS: number = 36; break;
    case ERR_NO_MEMORY: number = 38; break;
    case ERR_WRITE_FAILED: number = 41; break;
    case ERR_WRONG_PASSWORD: number = 40; break;
    case ERR_CRC: number = 35; break;
    case ERR_INVALID_DATA: number = 39; break;
    case ERR_NOT_AN_ARCHIVE:
    case 28089: number = 37; break;
    default: break;
  }
  char text[2048];
  text[0] = '\0';
  const std::string *en = ToolBuiltinLanguage("en");
  char key[8];
  snprintf(key, sizeof key, "%d", number);
  if (en) IniLookup(en->data(), en->size(), "data", key, "", text, sizeof text);
  std::string out;
  if (number == 44) {
    // "Error (%u) in %s.": the code and the archive's name.
    size_t slash = archivePath.find_last_of('\\');
    std::string name = slash == std::string::npos ? archivePath : archivePath.substr(slash + 1);
    int args = 0;
    for (const char *p = text; *p; p++) {
      if (p[0] == '%' && (p[1] == 'u' || p[1] == 's')) {
        out += args++ == 0 ? std::to_string(code) : name;
        p++;
      } else {
        out += *p;
      }
    }
  } else {
    out = text;
  }
  return ToolPrintable(out.c_str());
}

int OnEntryStart(uintptr_t user, const char *entryName, const char *) {
  ToolRun *run = (ToolRun *)user;
  run->entry = entryName[0] == '\\' ? entryName + 1 : entryName;
  for (char &c : run->entry)
    if (c == '\\') c = '/';
  return g_cancelRequested ? 0 : 1;
}

int OnProgress(uintptr_t user, uint32_t percent, uint32_t chunkBytes) {
  ToolRun *run = (ToolRun *)user;
  run->bytes += chunkBytes;
  if (run->progressLine) {
    std::string name = run->entry.size() > 60 ? "..." + run->entry.substr(run->entry.size() - 57) : run->entry;
    fprintf(stderr, "\r\033[K%3u%% %s", percent, name.c_str());
    fflush(stderr);
    run->lineOpen = 1;
  }
  return g_cancelRequested ? 0 : 1;
}

int OnOverwrite(uintptr_t user, const FindRecord *, const FindRecord *) {
  ToolRun *run = (ToolRun *)user;
  if (!run->skipExisting && ConsoleHasTerminal()) {
    ToolEndLine(run);
    for (;;) {
      std::string prompt = "replace " + run->entry + "? [y]es, [n]o, [A]ll, [N]one, [q]uit: ";
      char answer[16];
      if (!ConsoleReadLine(prompt.c_str(), answer, sizeof answer, 1)) return 2;
      if (!strcmp(answer, "y")) return 0;
      if (!strcmp(answer, "n")) break;
      if (!strcmp(answer, "A")) {
        run->skipExisting = -1;  // replace from now on
        return 0;
      }
      if (!strcmp(answer, "N")) {
        run->skipExisting = 1;
        break;
      }
      if (!strcmp(answer, "q")) return 2;
    }
  } else if (run->skipExisting < 0) {
    return 0;
  }
  // Without a terminal an existing file is never replaced unasked.
  run->skipped++;
  if (!run->quiet) {
    ToolEndLine(run);
    fprintf(stderr, "skipped existing file: %s\n", run->entry.c_str());
  }
  return 1;
}

int OnPassword(uintptr_t user, const char *lastTried, char *out, const char *) {
  ToolRun *run = (ToolRun *)user;
  if (!ConsoleHasTerminal()) return 0;
  ToolEndLine(run);
  if (lastTried && lastTried[0]) fprintf(stderr, "wrong password.\n");
  std::string prompt = "password for " + run->entry + ": ";
  char typed[PASSWORD_MAX];
  if (!ConsoleReadLine(prompt.c_str(), typed, sizeof typed, 0) || !typed[0]) return 0;
  StrCopy(out, typed, PASSWORD_MAX);
  memset(typed, 0, sizeof typed);
  return 1;
}

int OnEntryDone(uintptr_t user, const char *, const char *, int, uint32_t, uint32_t, uint32_t, uint32_t,
                int32_t errorCode) {
  ToolRun *run = (ToolRun *)user;
  if (errorCode == 0) run->entries++;
  return g_cancelRequested ? 0 : 1;
}

}  // namespace

std::string ToolArchivePath(const char *native) {
  std::string resolved = ToolProgramPath(native);
  if (!resolved.empty()) return resolved;
  return ToProgram(AbsoluteNative(native));
}

std::string ToolFolderPath(const char *native) {
  std::string path = AbsoluteNative(native);
  if (path.empty() || !MakeFolders(path)) return std::string();
  return ToolProgramPath(path);
}

void ToolFillCallbacks(ToolRun *run, ExtractCallbacks *table) {
  memset(table, 0, sizeof *table);
  uintptr_t user = (uintptr_t)run;
  table->onEntryStart = {OnEntryStart, user};
  table->onProgress = {OnProgress, user};
  table->onOverwrite = {OnOverwrite, user};
  table->onPassword = {OnPassword, user};
  table->onEntryDone = {OnEntryDone, user};
}

void ToolEndLine(ToolRun *run) {
  if (!run->lineOpen) return;
  fprintf(stderr, "\r\033[K");
  fflush(stderr);
  run->lineOpen = 0;
}

int32_t ToolRunEngine(ToolRun *run, ArchiveRunRequest *request) {
  ConsoleCatchInterrupt();
  run->progressLine = !run->quiet && isatty(STDERR_FILENO);
  ExtractCallbacks table;
  ToolFillCallbacks(run, &table);
  request->callbacks = &table;
  int32_t code = RunArchive(request);
  request->callbacks = nullptr;
  ToolEndLine(run);
  return code;
}

int ToolReportError(int32_t code, const std::string &archivePath) {
  fprintf(stderr, "error %d: %s\n", (int)code, ErrorText(code, archivePath).c_str());
  return ErrorToExitCode(code);
}

namespace {

int RunExtract(const ToolArgs &args) {
  ToolRun run;
  run.quiet = args.Verbosity() < 0;
  int overwrite = args.Has("overwrite");
  run.skipExisting = args.Has("skip-existing");
  if (overwrite && run.skipExisting) {
    fprintf(stderr, "kvsfx extract: --overwrite and --skip-existing exclude each other\n");
    return TOOL_USAGE;
  }
  const std::string *folderArg = args.Value("dir");
  if (!folderArg) {
    fprintf(stderr, "kvsfx extract: the target folder (-d DIR) is required\n");
    return TOOL_USAGE;
  }
  const char *archiveArg = args.operands[0].c_str();
  const char *password = args.Has("password") ? args.Value("password")->c_str() : nullptr;
  std::string archivePath = ToolArchivePath(archiveArg);
  std::string folder = ToolFolderPath(folderArg->c_str());
  if (folder.empty()) return ToolReportError(ERR_FILE_ACCESS, archivePath);
  if (archivePath.size() >= PATH_BUF_SIZE || folder.size() >= PATH_BUF_SIZE) {
    fprintf(stderr, "kvsfx: path longer than %u characters\n", (unsigned)(PATH_BUF_SIZE - 1));
    return TOOL_USAGE;
  }
  ArchiveRunRequest request = {};
  request.archivePath = archivePath.c_str();
  request.folder = folder.c_str();
  request.overwriteMode = overwrite ? 1 : 0;
  request.password = password;
  int32_t code = ToolRunEngine(&run, &request);
  if (code != 0) return ToolReportError(code, archivePath);
  if (!run.quiet)
    fprintf(stderr, "extracted %llu entries (%llu bytes)%s\n", (unsigned long long)run.entries,
            (unsigned long long)run.bytes, run.skipped ? ", existing files skipped" : "");
  return 0;
}

const ToolOption kExtractOptions[] = {
    {"dir", 'd', "DIR", "the folder to extract into (required; made when missing)", nullptr},
    {"overwrite", 0, nullptr, "replace existing files without asking", nullptr},
    {"skip-existing", 0, nullptr,
     "keep existing files without asking (the default without a\n"
     "terminal; with one, each is asked about)",
     nullptr},
};

}  // namespace

const ToolVerb &ExtractVerb() {
  static const ToolVerb verb = {"extract",
                                "ARCHIVE -d DIR",
                                1,
                                1,
                                "extract a ZIP archive or self-extractor into a folder",
                                "Extracts every entry of ARCHIVE (a ZIP archive, a self-extractor, or the\n"
                                "last volume of a split set) into DIR, on the same engine as the\n"
                                "self-extractor.\n",
                                ToolWithPasswords(kExtractOptions, sizeof kExtractOptions / sizeof *kExtractOptions),
                                kToolExitsEngine,
                                RunExtract};
  return verb;
}
