#include "build_checks.h"

#include <cerrno>
#include <cstring>
#include <map>
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
  // The run command's first word, when it has blanks: 'setup.exe /quiet'
  // was most likely meant as 'setup.exe|/quiet'.
  std::string runFirstWord;
  bool firstWordFound = false;
  unsigned refused = 0;
  std::string names;
  bool windowsNames = false;
  uint64_t count = 0;
  // Each Windows name key seen: the entry that gave it, and whether only
  // folders have landed there (folders may meet, a file may not).
  std::map<std::string, std::pair<std::string, bool>> landed;
  std::string clash;
};

bool IsReservedByte(unsigned char c) {
  return c == '?' || c == '*' || c == '>' || c == '<' || c == '"' || c == '|' || c == ':' || c < 0x20;
}

// Records that shown (an entry, or the folder an entry implies) lands on
// key; the first clash is kept.
void Land(EntryCheck *c, const std::string &key, const std::string &shown, bool folder) {
  auto it = c->landed.find(key);
  if (it == c->landed.end()) {
    c->landed.emplace(key, std::make_pair(shown, folder));
    return;
  }
  if (folder && it->second.second) return;
  if (c->clash.empty())
    c->clash = "the entries '" + it->second.first + "' and '" + shown +
               "' would be one file on Windows (it ignores case and trailing dots and blanks; reserved "
               "characters become '_', device names get a '_' in front)";
}

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
  c->count++;
  std::string name = e->name ? e->name : "";
  std::string why, shown = name;
  // Names are in the host's code page already; only separators and control
  // bytes are changed for the message.
  for (char &ch : shown) {
    if (ch == '\\') ch = '/';
    if ((unsigned char)ch < 0x20) ch = '?';
  }
  if (e->method != 0 && e->method != 8 && e->method != 9 && e->method != 14) why = MethodText(e);
  else if (e->flags & FLAG_STRONG_ENCRYPTION) why = "strong encryption";
  if (!why.empty()) {
    if (++c->refused <= 3) c->names += (c->names.empty() ? "" : ", ") + shown + " (" + why + ")";
  }
  if (!c->run.empty() && Upper(name) == c->run) c->runFound = true;
  if (!c->runFirstWord.empty() && Upper(name) == c->runFirstWord) c->firstWordFound = true;
  if (c->windowsNames && !shown.empty()) {
    bool folder = shown.back() == '/';
    // The folders on the way are there too, as folders.
    for (size_t slash = shown.find('/'); slash != std::string::npos && slash + 1 < shown.size();
         slash = shown.find('/', slash + 1))
      Land(c, WindowsNameKey(shown.substr(0, slash)), shown.substr(0, slash + 1), true);
    Land(c, WindowsNameKey(shown), shown, folder);
  }
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

std::string WindowsNameKey(const std::string &name) {
  std::string key;
  size_t i = 0;
  while (i < name.size()) {
    size_t end = name.find_first_of("/\\", i);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(i, end - i);
    i = end + 1;
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
    if (part.empty()) continue;
    if (IsDeviceName(part.data(), part.size())) part.insert(0, 1, '_');
    for (size_t k = 0; k < part.size(); ++k) {
      unsigned char c = (unsigned char)part[k];
      if (IsReservedByte(c)) {
        part[k] = '_';
      } else if (c >= 'a' && c <= 'z') {
        part[k] = (char)(c - 'a' + 'A');
      } else if (c == 0xC3 && k + 1 < part.size()) {
        // Latin-1 small letters in UTF-8 (U+00E0-U+00FE but the division sign).
        unsigned char d = (unsigned char)part[k + 1];
        if (d >= 0xA0 && d <= 0xBE && d != 0xB7) part[k + 1] = (char)(d - 0x20);
        k++;
      }
    }
    key += (key.empty() ? "" : "\\") + part;
  }
  return key;
}

bool CheckArchiveEntries(const std::string &archivePath, const std::string &runProgram, bool windowsNames,
                         uint64_t *entries, std::string *error) {
  EntryCheck check;
  check.windowsNames = windowsNames;
  check.run = Upper(runProgram);
  while (check.run.compare(0, 2, ".\\") == 0) check.run.erase(0, 2);
  size_t blank = check.run.find(' ');
  if (blank != std::string::npos) check.runFirstWord = check.run.substr(0, blank);
  int32_t code = ListArchive(archivePath.c_str(), nullptr, VisitEntry, &check, nullptr, nullptr, 0);
  if (code != 0) {
    *error = "cannot read the archive's directory: error " + std::to_string(code);
    return false;
  }
  *entries = check.count;
  if (check.refused > 0) {
    *error = std::to_string(check.refused) + " entr" + (check.refused == 1 ? "y uses" : "ies use") +
             " what the stub cannot decode (only stored, Deflate, Deflate64 and LZMA, traditional or AES encryption): " +
             check.names + (check.refused > 3 ? ", ..." : "");
    return false;
  }
  if (!check.clash.empty()) {
    *error = check.clash;
    return false;
  }
  if (!check.run.empty() && !check.runFound) {
    if (check.firstWordFound) {
      size_t space = runProgram.find(' ');
      size_t rest = runProgram.find_first_not_of(" ", space);
      *error = "the run command's program '" + runProgram + "' is not in the archive; for a program with parameters "
               "write '" + runProgram.substr(0, space) + "|" + (rest == std::string::npos ? "" : runProgram.substr(rest)) +
               "'";
      return false;
    }
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
