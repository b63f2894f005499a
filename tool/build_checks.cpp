#include "build_checks.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "../archive/zip_job.h"
#include "archive_cmd.h"
#include "tool.h"
#include "tool_os.h"

namespace {

constexpr uint32_t FLAG_STRONG_ENCRYPTION = 0x40;

std::string Upper(std::string s) {
  for (char &c : s) {
    if (c == '/') c = '\\';
    if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
  }
  return s;
}

struct EntryCheck {
  std::string run;  // upper case, backslashes
  bool runFound = false;
  unsigned refused = 0;
  std::string names;
};

std::string MethodText(const EntryRecord *e) {
  switch (e->method) {
    case 1: return "Shrink";
    case 6: return "Implode";
    case 12: return "bzip2";
    case 14: return "LZMA";
    case 93: return "Zstandard";
    case 95: return "XZ";
    case 98: return "PPMd";
    case 99: return "AES without its extra field";
    default: return "method " + std::to_string(e->method);
  }
}

int VisitEntry(void *user, const EntryRecord *e) {
  EntryCheck *c = (EntryCheck *)user;
  std::string name = e->name ? e->name : "";
  std::string why, shown = name;
  // Names are in the host's code page already; only separators and control
  // bytes are changed for the message.
  for (char &ch : shown) {
    if (ch == '\\') ch = '/';
    if ((unsigned char)ch < 0x20) ch = '?';
  }
  if (e->method != 0 && e->method != 8 && e->method != 9) why = MethodText(e);
  else if (e->flags & FLAG_STRONG_ENCRYPTION) why = "strong encryption";
  if (!why.empty()) {
    if (++c->refused <= 3) c->names += (c->names.empty() ? "" : ", ") + shown + " (" + why + ")";
  }
  if (!c->run.empty() && Upper(name) == c->run) c->runFound = true;
  return 1;
}

bool CopyVolume(const std::string &from, const std::string &to, std::string *error) {
  FILE *in = fopen(from.c_str(), "rb");
  if (!in) {
    *error = "cannot read '" + from + "': " + strerror(errno);
    return false;
  }
  std::string name, why;
  FILE *out = ToolCreateTemp(to, &name, &why);
  if (!out) {
    *error = "cannot create a file beside '" + to + "': " + why;
    fclose(in);
    return false;
  }
  char buffer[1 << 16];
  size_t n;
  bool ok = true;
  while (ok && (n = fread(buffer, 1, sizeof buffer, in)) > 0) ok = fwrite(buffer, 1, n, out) == n;
  if (!ok) *error = "cannot write '" + name + "': " + strerror(errno);
  if (ok && ferror(in)) {
    ok = false;
    *error = "cannot read '" + from + "': " + strerror(errno);
  }
  fclose(in);
  if (!ok) {
    fclose(out);
    remove(name.c_str());
    return false;
  }
  return ToolCommitTemp(out, name, to, error);
}

}  // namespace

std::string RunProgramOf(const std::string &runCommand, uint32_t mode) {
  size_t bar = runCommand.find('|');
  if (mode == 0 && bar != std::string::npos && bar > 0) return runCommand.substr(0, bar);
  return runCommand;
}

bool CheckArchiveEntries(const std::string &archivePath, const std::string &runProgram, std::string *error) {
  EntryCheck check;
  check.run = Upper(runProgram);
  while (check.run.compare(0, 2, ".\\") == 0) check.run.erase(0, 2);
  int32_t code = ListArchive(archivePath.c_str(), nullptr, VisitEntry, &check, nullptr, nullptr, 0);
  if (code != 0) {
    *error = "cannot read the archive's directory: error " + std::to_string(code);
    return false;
  }
  if (check.refused > 0) {
    *error = std::to_string(check.refused) + " entr" + (check.refused == 1 ? "y uses" : "ies use") +
             " what the stub cannot decode (only stored, Deflate and Deflate64, traditional or AES encryption): " +
             check.names + (check.refused > 3 ? ", ..." : "");
    return false;
  }
  if (!check.run.empty() && !check.runFound) {
    *error = "the run command's program '" + runProgram +
             "' is not in the archive (--no-check-run allows a program of the target machine)";
    return false;
  }
  return true;
}

bool VerifyArchive(const std::string &archivePath, std::string *error) {
  ToolRun run;
  run.verb = "build";
  run.quiet = 1;
  run.noQuestions = 1;  // an encrypted archive is tested only with a password at hand
  ArchiveRunRequest request = {};
  request.archivePath = archivePath.c_str();
  request.folder = "";
  request.test = 1;
  int32_t code = ToolRunEngine(&run, &request);
  if (code == 0) return true;
  *error = "the archive failed its test with error " + std::to_string(code) +
           (run.failedEntry.empty() ? std::string() : " at '" + run.failedEntry + "'");
  return false;
}

std::string VolumeName(const std::string &path, unsigned n) {
  size_t slash = path.find_last_of(kToolSeparator == '/' ? "/" : "/\\");
  size_t dot = path.find_last_of('.');
  std::string base = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(0, dot) : path;
  char ext[32];
  unsigned k = n + 1;
  snprintf(ext, sizeof ext, k < 10 ? ".z0%u" : k < 100 ? ".z%u" : ".%u", k);
  return base + ext;
}

bool CopySplitVolumes(const std::string &archive, const std::string &out, unsigned count, bool force,
                      std::vector<std::string> *written, std::string *error) {
  std::vector<bool> same(count);
  std::string why;
  for (unsigned v = 0; v < count; v++) {
    std::string from = VolumeName(archive, v), to = VolumeName(out, v);
    if (ToolKindOf(from, &why) != TOOL_FILE) {
      *error = "the volume '" + from + "' is not beside the archive";
      return false;
    }
    // Built beside the set under the same base name: the volume is in place.
    same[v] = ToolProgramPath(from) == ToolProgramPath(to);
    if (!same[v] && !force && ToolKindOf(to, &why) != TOOL_MISSING) {
      *error = "'" + to + "' exists (--force replaces it)";
      return false;
    }
  }
  for (unsigned v = 0; v < count; v++) {
    if (same[v]) continue;
    std::string to = VolumeName(out, v);
    if (!CopyVolume(VolumeName(archive, v), to, error)) {
      for (const std::string &w : *written) remove(w.c_str());
      written->clear();
      return false;
    }
    written->push_back(to);
  }
  return true;
}
