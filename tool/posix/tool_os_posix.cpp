// The tool's system services on POSIX.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "../../ui/console/console_ui.h"
#include "../tool_os.h"

const char kToolSeparator = '/';

bool ToolIsSeparator(char c) { return c == '/'; }

std::string ToolSelfDir() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  buffer[n] = '\0';
  char *slash = strrchr(buffer, '/');
  if (!slash) return ".";
  if (slash == buffer) return "/";
  *slash = '\0';
  return buffer;
}

std::string ToolAbsolute(const std::string &native) {
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

std::string ToolProgramPath(const std::string &native) {
  char *full = realpath(native.c_str(), nullptr);
  if (!full) return std::string();
  std::string path = full;
  free(full);
  for (char &c : path)
    if (c == '/') c = '\\';
  return path;
}

ToolPathKind ToolKindOf(const std::string &path, std::string *why) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *why = strerror(errno);
    return TOOL_MISSING;
  }
  return S_ISDIR(st.st_mode) ? TOOL_FOLDER : TOOL_FILE;
}

bool ToolMakeFolder(const std::string &path, std::string *why) {
  if (mkdir(path.c_str(), 0777) == 0) return true;
  *why = strerror(errno);
  return false;
}

void ToolRemoveEmptyFolder(const std::string &path) { rmdir(path.c_str()); }

FILE *ToolCreateTemp(const std::string &path, std::string *name, std::string *why) {
  std::string temp = path + ".kvsfx-XXXXXX";
  std::vector<char> buffer(temp.begin(), temp.end());
  buffer.push_back('\0');
  int fd = mkstemp(buffer.data());
  if (fd < 0) {
    *why = strerror(errno);
    return nullptr;
  }
  *name = buffer.data();
  FILE *f = fdopen(fd, "wb");
  if (!f) {
    *why = strerror(errno);
    close(fd);
    unlink(name->c_str());
  }
  return f;
}

bool ToolCommitTemp(FILE *f, const std::string &name, const std::string &path, std::string *why) {
  // An executable for its owner and whoever the umask lets run it.
  mode_t mask = umask(0);
  umask(mask);
  bool ok = fflush(f) == 0;
  if (!ok) *why = "cannot write '" + name + "': " + strerror(errno);
  if (ok && fchmod(fileno(f), 0777 & ~mask) != 0) {
    ok = false;
    *why = "cannot set the mode of '" + name + "': " + strerror(errno);
  }
  if (ok && fsync(fileno(f)) != 0) {
    ok = false;
    *why = "cannot write '" + name + "': " + strerror(errno);
  }
  if (fclose(f) != 0 && ok) {
    ok = false;
    *why = "cannot write '" + name + "': " + strerror(errno);
  }
  if (ok && rename(name.c_str(), path.c_str()) != 0) {
    ok = false;
    *why = "cannot create '" + path + "': " + strerror(errno);
  }
  if (!ok) unlink(name.c_str());
  return ok;
}

bool ToolSeek(FILE *f, int64_t offset, int whence) { return fseeko(f, (off_t)offset, whence) == 0; }
int64_t ToolTell(FILE *f) { return (int64_t)ftello(f); }

bool ToolStderrIsTerminal() { return isatty(STDERR_FILENO); }
int ToolHasTerminal() { return ConsoleHasTerminal(); }
int ToolReadLine(const char *prompt, char *out, size_t size, int echo) {
  return ConsoleReadLine(prompt, out, size, echo);
}
void ToolCatchInterrupt() { ConsoleCatchInterrupt(); }

bool ToolListFolder(const std::string &path, std::vector<ToolFolderEntry> *entries, std::string *why) {
  DIR *dir = opendir(path.c_str());
  if (!dir) {
    *why = strerror(errno);
    return false;
  }
  entries->clear();
  while (dirent *d = readdir(dir)) {
    if (strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0) continue;
    struct stat st;
    std::string full = path + "/" + d->d_name;
    if (lstat(full.c_str(), &st) != 0) {
      *why = "cannot read '" + full + "': " + strerror(errno);
      closedir(dir);
      return false;
    }
    ToolEntryKind kind = S_ISLNK(st.st_mode)  ? TOOL_ENTRY_LINK
                         : S_ISDIR(st.st_mode) ? TOOL_ENTRY_FOLDER
                         : S_ISREG(st.st_mode) ? TOOL_ENTRY_FILE
                                               : TOOL_ENTRY_OTHER;
    ToolFolderEntry entry = {d->d_name, d->d_name, kind, (uint32_t)st.st_mode, (int64_t)st.st_mtime};
    entry.device = (uint64_t)st.st_dev;
    entry.inode = (uint64_t)st.st_ino;
    entry.size = (uint64_t)st.st_size;
    entry.mtimeFine = (int64_t)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec;
    entries->push_back(entry);
  }
  closedir(dir);
  return true;
}

namespace {

bool SameAsSeen(const struct stat &st, const ToolFolderEntry &seen) {
  return (uint64_t)st.st_size == seen.size &&
         (int64_t)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec == seen.mtimeFine;
}

}  // namespace

bool ToolWalkedFile::Open(const std::string &path, const ToolFolderEntry &seen, std::string *why) {
  Close();
  // No link is followed and no pipe or device blocks the open; what is
  // found must be the very file the walk listed.
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *why = errno == ELOOP ? "it became a symbolic link after the folder was read" : strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *why = strerror(errno);
    close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode) || (uint64_t)st.st_dev != seen.device || (uint64_t)st.st_ino != seen.inode) {
    *why = "it was replaced after the folder was read";
    close(fd);
    return false;
  }
  if (!SameAsSeen(st, seen)) {
    *why = "it changed after the folder was read";
    close(fd);
    return false;
  }
  handle_ = fd;
  seen_ = &seen;
  return true;
}

int64_t ToolWalkedFile::Read(void *buffer, size_t size, std::string *why) {
  for (;;) {
    ssize_t n = read((int)handle_, buffer, size);
    if (n >= 0) return (int64_t)n;
    if (errno == EINTR) continue;
    *why = strerror(errno);
    return -1;
  }
}

bool ToolWalkedFile::Unchanged(uint64_t total, std::string *why) {
  struct stat st;
  if (fstat((int)handle_, &st) != 0) {
    *why = strerror(errno);
    return false;
  }
  if (total != seen_->size || !SameAsSeen(st, *seen_)) {
    *why = "it changed while it was read";
    return false;
  }
  return true;
}

void ToolWalkedFile::Close() {
  if (handle_ >= 0) close((int)handle_);
  handle_ = -1;
}
