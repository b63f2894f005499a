// The engine runs of the tool: archive checks, passwords, the callbacks with
// their progress line, and error lines that name what failed.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../archive/zip_job.h"
#include "../launcher/dialog_path.h"
#include "../launcher/sfx_state.h"
#include "archive_cmd.h"
#include "json_out.h"
#include "args.h"
#include "tool.h"
#include "tool_os.h"

namespace {

std::string ToProgram(std::string path) {
  for (char &c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string Native(std::string path) {
  for (char &c : path)
    if (c == '\\') c = '/';
  return path;
}

int OnEntryStart(uintptr_t user, const char *entryName, const char *outputPath) {
  ToolRun *run = (ToolRun *)user;
  run->entry = Native(entryName[0] == '\\' ? entryName + 1 : entryName);
  run->output = outputPath ? Native(outputPath) : std::string();
  return g_cancelRequested ? 0 : 1;
}

// "1.5 MiB" and the like.
std::string Bytes(double n) {
  const char *units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int u = 0;
  while (n >= 1024 && u < 4) {
    n /= 1024;
    u++;
  }
  char text[32];
  snprintf(text, sizeof text, u == 0 ? "%.0f %s" : "%.1f %s", n, units[u]);
  return text;
}

// At most ten redraws a second: a line per chunk costs more than the work
// on a fast disk and floods a remote terminal.
void DrawProgress(ToolRun *run, bool force) {
  auto now = std::chrono::steady_clock::now();
  if (!force && run->drawn && now - run->lastDraw < std::chrono::milliseconds(100)) return;
  run->lastDraw = now;
  run->drawn++;
  double seconds = std::chrono::duration<double>(now - run->start).count();
  double rate = seconds > 0 ? run->bytes / seconds : 0;
  std::string line = Bytes((double)run->bytes);
  if (run->total) line += " of " + Bytes((double)run->total);
  if (seconds >= 0.5) line += "  " + Bytes(rate) + "/s";
  if (run->total > run->bytes && rate > 0 && seconds >= 0.5) {
    unsigned long left = (unsigned long)((run->total - run->bytes) / rate + 0.5);
    char text[48];
    snprintf(text, sizeof text, "  %lu:%02lu:%02lu left", left / 3600, left / 60 % 60, left % 60);
    line += text;
  }
  std::string name = run->entry.size() > 30 ? "..." + run->entry.substr(run->entry.size() - 27) : run->entry;
  fprintf(stderr, "\r\033[K%s  %s", line.c_str(), ToolPrintableName(name).c_str());
  fflush(stderr);
  run->lineOpen = 1;
}

// The engine sums the sizes of the entries it is about to process.
int OnRunStart(uintptr_t user, uint32_t totalLow, uint32_t totalHigh, int) {
  ((ToolRun *)user)->total = ((uint64_t)totalHigh << 32) | totalLow;
  return 1;
}

int OnProgress(uintptr_t user, uint32_t, uint32_t chunkBytes) {
  ToolRun *run = (ToolRun *)user;
  run->bytes += chunkBytes;
  if (run->progressLine) DrawProgress(run, false);
  return g_cancelRequested ? 0 : 1;
}

int OnOverwrite(uintptr_t user, const FindRecord *, const FindRecord *) {
  ToolRun *run = (ToolRun *)user;
  if (!run->skipExisting && !run->noQuestions && ToolHasTerminal()) {
    ToolEndLine(run);
    for (;;) {
      std::string prompt = "replace " + run->entry + "? [y]es, [n]o, [A]ll, [N]one, [q]uit: ";
      char answer[16];
      if (!ToolReadLine(prompt.c_str(), answer, sizeof answer, 1)) return 2;
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
    fprintf(stderr, "skipped existing file: %s\n", ToolPrintableName(run->entry).c_str());
  }
  return 1;
}

int OnPassword(uintptr_t user, const char *lastTried, char *out, const char *) {
  ToolRun *run = (ToolRun *)user;
  // A password the caller gave is not swapped for a question: a script gets
  // "wrong password" whether or not a terminal happens to be attached.
  if (run->passwordGiven || run->noQuestions || !ToolHasTerminal()) {
    run->passwordRefused = 1;
    return 0;
  }
  ToolEndLine(run);
  if (lastTried && lastTried[0]) fprintf(stderr, "wrong password.\n");
  std::string prompt = "password for " + run->entry + ": ";
  char typed[PASSWORD_MAX];
  if (!ToolReadLine(prompt.c_str(), typed, sizeof typed, 0) || !typed[0]) return 0;
  StrCopy(out, typed, PASSWORD_MAX);
  memset(typed, 0, sizeof typed);
  return 1;
}

int OnEntryDone(uintptr_t user, const char *, const char *, int, uint32_t sizeLow, uint32_t sizeHigh, uint32_t,
                uint32_t, int32_t errorCode) {
  ToolRun *run = (ToolRun *)user;
  if (errorCode == 0) {
    run->entries++;
  } else {
    run->failures++;
    if (!run->failedCode) {
      run->failedCode = errorCode;
      run->failedEntry = run->entry;
      run->failedOutput = run->output;
    }
  }
  if (run->verbose) {
    ToolEndLine(run);
    printf("%s  %s\n", errorCode == 0 ? "ok    " : "FAILED", ToolPrintableName(run->entry).c_str());
  }
  if (run->json) {
    ToolJsonDoc entry = ToolJsonDoc::object();
    entry["name"] = ToolJsonString(run->entry);
    entry["size"] = (uint64_t)sizeHigh << 32 | sizeLow;
    entry["result"] = errorCode == 0 ? "ok" : "error";
    entry["error"] = errorCode;
    run->json->push_back(entry);
  }
  return g_cancelRequested ? 0 : 1;
}

std::string Quoted(const std::string &text) { return "'" + ToolPrintableName(text) + "'"; }

}  // namespace

std::string ToolArchivePath(const char *native) {
  std::string resolved = ToolProgramPath(native);
  if (!resolved.empty()) return resolved;
  return ToProgram(native);
}

bool ToolCheckArchive(const char *verb, const std::string &native, std::string *message) {
  std::string why;
  ToolPathKind kind = ToolKindOf(native, &why);
  if (kind == TOOL_FOLDER) {
    why = "it is a folder, not an archive";
  } else if (kind == TOOL_FILE) {
    FILE *f = fopen(native.c_str(), "rb");
    if (f) {
      fclose(f);
      return true;
    }
    why = strerror(errno);
  }
  std::string line = "cannot open " + Quoted(native) + ": " + why;
  fprintf(stderr, "kvsfx %s: %s\n", verb, line.c_str());
  if (message) *message = line;
  return false;
}

bool ToolTakePassword(const ToolArgs &args, std::string *password, int *given, std::string *message) {
  *given = 1;
  const char *verb = args.verb->name;
  auto fail = [&](const std::string &line) {
    fprintf(stderr, "kvsfx %s: %s\n", verb, line.c_str());
    if (message) *message = line;
    return false;
  };
  if (args.Has("password") && args.Has("password-file")) {
    return fail("--password and --password-file exclude each other");
  }
  if (const std::string *p = args.Value("password")) {
    *password = *p;
  } else if (const std::string *file = args.Value("password-file")) {
    std::string data, error;
    if (!ToolReadFile(*file, &data, &error)) {
      return fail("password file: " + error);
    }
    // The first line, without its line break; an editor's UTF-8 byte-order
    // mark is no part of the password.
    if (data.compare(0, 3, "\xEF\xBB\xBF") == 0) data.erase(0, 3);
    *password = data.substr(0, data.find_first_of("\r\n"));
    if (password->empty()) {
      return fail("the password file " + Quoted(*file) + " is empty");
    }
  } else if (const char *env = getenv("KVSFX_PASSWORD"); env && env[0]) {
    *password = env;
  } else {
    *given = 0;
  }
  return true;
}

void ToolEndLine(ToolRun *run) {
  if (!run->lineOpen) return;
  fprintf(stderr, "\r\033[K");
  fflush(stderr);
  run->lineOpen = 0;
}

int32_t ToolRunEngine(ToolRun *run, ArchiveRunRequest *request) {
  ToolCatchInterrupt();
  run->progressLine = !run->quiet && ToolStderrIsTerminal();
  run->start = std::chrono::steady_clock::now();
  ExtractCallbacks table;
  memset(&table, 0, sizeof table);
  uintptr_t user = (uintptr_t)run;
  table.onRunStart = {OnRunStart, user};
  table.onEntryStart = {OnEntryStart, user};
  table.onProgress = {OnProgress, user};
  table.onOverwrite = {OnOverwrite, user};
  table.onPassword = {OnPassword, user};
  table.onEntryDone = {OnEntryDone, user};
  request->callbacks = &table;
  int32_t code = RunArchive(request);
  request->callbacks = nullptr;
  if (run->progressLine && code == 0) DrawProgress(run, true);
  ToolEndLine(run);
  // The callback's refusal reads as a cancel to the engine; it was none.
  if (code == ERR_CANCELLED && run->passwordRefused) code = ERR_WRONG_PASSWORD;
  if (run->failedCode == ERR_CANCELLED && run->passwordRefused) run->failedCode = ERR_WRONG_PASSWORD;
  return code;
}

std::string ToolErrorText(const ToolRun &run, int32_t code) {
  const std::string archive = Quoted(run.shown);
  // The entry the error belongs to: the one that failed; else, for errors
  // that arise inside an entry, the one being processed.
  const bool failed = run.failedCode == code && !run.failedEntry.empty();
  const bool inside = code == ERR_WRONG_PASSWORD || code == ERR_UNSUPPORTED || code == ERR_FILE_ACCESS ||
                      code == ERR_WRITE_FAILED || code == ERR_CRC || code == ERR_PATH_TOO_LONG;
  const std::string entryName = failed ? run.failedEntry : inside ? run.entry : std::string();
  const std::string output = failed ? run.failedOutput : inside ? run.output : std::string();
  const std::string entry = entryName.empty() ? std::string() : Quoted(entryName) + " in " + archive;
  switch (code) {
    case ERR_CANCELLED: return "cancelled";
    case ERR_FILE_ACCESS:
      if (!output.empty()) return "cannot create " + Quoted(output) + ": access denied by the system";
      return "cannot open " + archive + " or a volume beside it: access denied by the system";
    case ERR_NO_MEMORY: return "out of memory";
    case ERR_PATH_TOO_LONG:
      return "the path of " + (entry.empty() ? archive : entry) +
             " under the target folder is too long (more than 255 bytes, the limit of the stubs)";
    case ERR_WRITE_FAILED:
      return "cannot write " + (output.empty() ? std::string("the output") : Quoted(output)) + " (is the disk full?)";
    case ERR_UNSUPPORTED:
      return (entry.empty() ? archive : entry) + " uses a compression method or encryption that is not supported";
    case ERR_OUTPUT_IS_ARCHIVE: return "an entry of " + archive + " would overwrite the archive itself";
    case ERR_WRONG_PASSWORD:
      if (!run.passwordGiven && run.passwordRefused)
        return entry + " is encrypted and no password was given (use --password-file, KVSFX_PASSWORD or --password)";
      return "wrong password for " + entry;
    case ERR_CRC: return "CRC error in " + entry + ": the data does not match its checksum";
    case ERR_INVALID_DATA:
      if (!entry.empty()) return "invalid data in " + entry;
      return archive + " is damaged: its central directory is invalid";
    case ERR_NOT_AN_ARCHIVE:
    case ERR_NO_END_RECORD: return archive + " is not a ZIP archive: no valid end-of-central-directory record";
    case ERR_VOLUME_MISSING: return "a volume of the split set " + archive + " is missing";
    default: return "failed on " + (entry.empty() ? archive : entry);
  }
}

int ToolReportError(const ToolRun &run, int32_t code) {
  fprintf(stderr, "kvsfx %s: error %d: %s\n", run.verb, (int)code, ToolErrorText(run, code).c_str());
  return ErrorToExitCode(code);
}

// The length of the well-formed, shortest-form UTF-8 sequence at text[i], or
// 0 when the bytes there are none.
size_t ToolUtf8Length(const std::string &text, size_t i) {
  unsigned char c = (unsigned char)text[i];
  size_t n = c < 0x80 ? 1 : c >= 0xC2 && c < 0xE0 ? 2 : c >= 0xE0 && c < 0xF0 ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if (((unsigned char)text[i + k] & 0xC0) != 0x80) return 0;
  unsigned c1 = n > 1 ? (unsigned char)text[i + 1] : 0;
  if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0) || (c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 >= 0x90))
    return 0;
  return n;
}

std::string ToolPrintableName(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = (unsigned char)text[i];
    size_t n = ToolUtf8Length(text, i);
    if (c >= 0x20 && c != 0x7f && c != '\\' && n > 0) {
      out.append(text, i, n);
      i += n - 1;
    } else {
      out += ToolPrintable(text.c_str() + i, 1);
    }
  }
  return out;
}

std::string ToolEscapeNonUtf8(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    size_t n = ToolUtf8Length(text, i);
    if (n > 0 && (unsigned char)text[i] >= 0x20 && text[i] != 0x7f && text[i] != '\\') {
      out.append(text, i, n);
      i += n - 1;
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", (unsigned char)text[i]);
      out += text[i] == '\\' ? std::string("\\\\") : std::string(hex);
    }
  }
  return out;
}
