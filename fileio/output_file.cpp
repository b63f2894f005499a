// The parts of safe output that need no platform of their own: the log of
// what a run made.
#include "fileio/output_file.h"

#include <cstdlib>
#include <cstring>

#include "fileio/path.h"

namespace {

struct OutputLog {
  bool on;
  char base[PATH_BUF_SIZE];  // without a trailing backslash
  char *text;                // records: kind byte, relative path, NUL
  size_t used, room;
  size_t *starts;  // where each record begins
  size_t count, slots;
};
OutputLog s_log;

// The part of path below base, or null when path is not below it.
const char *Below(const char *base, const char *path) {
  size_t n = strlen(base);
  if (strncmp(path, base, n) != 0 || (path[n] && path[n] != '\\')) return nullptr;
  path += n;
  while (*path == '\\') path++;
  return path;
}

}  // namespace

void OutputLogStart(const char *base) {
  OutputLogStop();
  if (!base) return;
  StrCopy(s_log.base, base, sizeof s_log.base);
  PathTrimBackslash(s_log.base);
  s_log.on = true;
}

void OutputLogStop() {
  free(s_log.text);
  free(s_log.starts);
  memset(&s_log, 0, sizeof s_log);
}

void OutputLogAdd(const char *base, const char *path, int isFolder) {
  if (!s_log.on || !base || !path) return;
  char trimmed[PATH_BUF_SIZE];
  StrCopy(trimmed, base, sizeof trimmed);
  PathTrimBackslash(trimmed);
  if (strcmp(trimmed, s_log.base) != 0) return;
  const char *rel = Below(s_log.base, path);
  if (!rel) return;
  size_t need = strlen(rel) + 2;
  if (s_log.used + need > s_log.room) {
    size_t room = s_log.room ? s_log.room * 2 : 4096;
    while (room < s_log.used + need) room *= 2;
    char *grown = (char *)realloc(s_log.text, room);
    if (!grown) return;  // not logged: the clean-up leaves it in place
    s_log.text = grown;
    s_log.room = room;
  }
  if (s_log.count == s_log.slots) {
    size_t slots = s_log.slots ? s_log.slots * 2 : 256;
    size_t *grown = (size_t *)realloc(s_log.starts, slots * sizeof *grown);
    if (!grown) return;
    s_log.starts = grown;
    s_log.slots = slots;
  }
  s_log.starts[s_log.count++] = s_log.used;
  s_log.text[s_log.used] = isFolder ? 'd' : 'f';
  memcpy(s_log.text + s_log.used + 1, rel, need - 1);
  s_log.used += need;
}

const char *OutputLogFromEnd(size_t n, int *isFolder) {
  if (n >= s_log.count) return nullptr;
  const char *record = s_log.text + s_log.starts[s_log.count - 1 - n];
  if (isFolder) *isFolder = record[0] == 'd';
  return record + 1;
}
