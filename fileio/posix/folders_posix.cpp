// Special folders on POSIX, by the platform's own means (the XDG base and
// user directories, HOME). The mapping, documented for users in the README:
//   5  documents      XDG_DOCUMENTS_DIR from $XDG_CONFIG_HOME/user-dirs.dirs,
//                     else $HOME/Documents when it exists, else $HOME
//   26 roaming data   $XDG_CONFIG_HOME, else $HOME/.config
//   28 local data     $XDG_DATA_HOME, else $HOME/.local/share
//   36 windows        /usr  (the system's own tree)
//   37 system         /usr/bin
//   38 programs       /opt as root, else $HOME/.local/opt
//   43 shared files   /usr/local/share as root, else the local data folder
// Only absolute values count: a relative XDG variable is ignored, as the
// XDG base directory rules say.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../kv_base.h"
#include "../special_folders.h"
#include "posix_path.h"

namespace {

const char *Home() {
  const char *home = getenv("HOME");
  return home && home[0] == '/' ? home : nullptr;
}

// XDG variable when absolute (none when variable is null), else HOME joined
// with the fallback.
int BaseDir(const char *variable, const char *homeRelative, char *native, size_t size) {
  const char *value = variable ? getenv(variable) : nullptr;
  if (value && value[0] == '/') {
    StrCopy(native, value, size);
    return strlen(value) < size;
  }
  const char *home = Home();
  if (!home) return 0;
  int n = snprintf(native, size, "%s/%s", home, homeRelative);
  return n > 0 && (size_t)n < size;
}

int IsDirectory(const char *native) {
  struct stat st;
  return stat(native, &st) == 0 && S_ISDIR(st.st_mode);
}

// XDG_DOCUMENTS_DIR="$HOME/Documents" or an absolute path, from the
// user-dirs file; the only substitution the file format knows is $HOME.
int DocumentsFromUserDirs(char *native, size_t size) {
  char file[POSIX_PATH_SIZE];
  if (!BaseDir("XDG_CONFIG_HOME", ".config", file, sizeof file)) return 0;
  if (strlen(file) + sizeof("/user-dirs.dirs") > sizeof file) return 0;
  strcat(file, "/user-dirs.dirs");
  FILE *f = fopen(file, "r");
  if (!f) return 0;
  char line[1024];
  int found = 0;
  while (!found && fgets(line, sizeof line, f)) {
    const char *p = line;
    while (*p == ' ' || *p == '\t') p++;
    static const char kKey[] = "XDG_DOCUMENTS_DIR=\"";
    if (strncmp(p, kKey, sizeof kKey - 1) != 0) continue;
    p += sizeof kKey - 1;
    const char *end = strchr(p, '"');
    if (!end) continue;
    size_t length = (size_t)(end - p);
    char value[1024];
    if (length >= sizeof value) continue;
    memcpy(value, p, length);
    value[length] = '\0';
    if (strncmp(value, "$HOME", 5) == 0 && (value[5] == '/' || value[5] == '\0')) {
      const char *home = Home();
      if (!home) continue;
      int n = snprintf(native, size, "%s%s", home, value + 5);
      found = n > 0 && (size_t)n < size;
    } else if (value[0] == '/') {
      StrCopy(native, value, size);
      found = length < size;
    }
  }
  fclose(f);
  return found;
}

int Documents(char *native, size_t size) {
  if (DocumentsFromUserDirs(native, size)) return 1;
  const char *home = Home();
  if (!home) return 0;
  int n = snprintf(native, size, "%s/Documents", home);
  if (n > 0 && (size_t)n < size && IsDirectory(native)) return 1;
  StrCopy(native, home, size);
  return strlen(home) < size;
}

}  // namespace

int SysGetSpecialFolder(int which, char *out, size_t size) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  char native[POSIX_PATH_SIZE];
  int ok = 0;
  int root = geteuid() == 0;
  switch (which) {
    case 5:
      ok = Documents(native, sizeof native);
      break;
    case 26:
      ok = BaseDir("XDG_CONFIG_HOME", ".config", native, sizeof native);
      break;
    case 28:
      ok = BaseDir("XDG_DATA_HOME", ".local/share", native, sizeof native);
      break;
    case 36:
      StrCopy(native, "/usr", sizeof native);
      ok = 1;
      break;
    case 37:
      StrCopy(native, "/usr/bin", sizeof native);
      ok = 1;
      break;
    case 38:
      if (root) {
        StrCopy(native, "/opt", sizeof native);
        ok = 1;
      } else {
        ok = BaseDir(nullptr, ".local/opt", native, sizeof native);
      }
      break;
    case 43:
      if (root) {
        StrCopy(native, "/usr/local/share", sizeof native);
        ok = 1;
      } else {
        ok = BaseDir("XDG_DATA_HOME", ".local/share", native, sizeof native);
      }
      break;
    default:
      return 0;
  }
  if (!ok || !native[0]) return 0;
  // A folder too long for the program's paths is no folder at all: a cut
  // path would name another place.
  return PosixToProgramPath(native, out, size) > 0 ? 1 : 0;
}
