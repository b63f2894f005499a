#include "run_after.h"

#include <cstring>

#include "../archive/zip_job.h"
#include "../fileio/file_io.h"
#include "../fileio/path.h"
#include "../fileio/platform.h"
#include "sfx_state.h"

namespace {

int s_waited;
uint32_t s_exitCode;

struct Removal {
  char folder[PATH_BUF_SIZE];  // ends in a backslash
  size_t length;
};

// Removes the folder holding path[0..end) and the ones above it while they
// are empty, stopping at the target folder.
void RemoveEmptyParents(char *path, size_t floor) {
  for (size_t i = strlen(path); i > floor; --i) {
    if (path[i - 1] != '\\') continue;
    path[i - 1] = '\0';
    if (i - 1 <= floor || !DirRemove(path)) return;
  }
}

int RemoveEntry(void *user, const EntryRecord *entry) {
  Removal *r = (Removal *)user;
  if (!entry->validName || !entry->name || !entry->name[0]) return 1;
  char name[PATH_BUF_SIZE];
  StrCopy(name, entry->name, sizeof name);
  PathFixSlashes(name);
  // The same name the job wrote: never above the target folder.
  CleanEntryName(name, sizeof name);
  const char *tail = name;
  while (*tail == '\\') tail++;
  char path[PATH_BUF_SIZE];
  if (r->length + strlen(tail) >= sizeof path) return 1;
  StrCopy(path, r->folder, sizeof path);
  StrAppend(path, tail, sizeof path);
  size_t length = strlen(path);
  if (length > r->length && path[length - 1] == '\\') {
    path[length - 1] = '\0';
    if (!DirRemove(path)) return 1;
  } else if (!FileDelete(path)) {
    return 1;
  }
  RemoveEmptyParents(path, r->length);
  return 1;
}

}  // namespace

int RemoveExtracted(const char *folder) {
  static Removal r;
  char temp[PATH_BUF_SIZE];
  if (!folder || !SysGetTempPath(temp, sizeof temp) || !temp[0]) return 0;
  StrCopy(r.folder, folder, sizeof r.folder);
  PathFixSlashes(r.folder);
  PathEnsureBackslash(r.folder);
  r.length = strlen(r.folder);
  size_t tempLength = strlen(temp);
  // Strictly inside the temporary folder, and no ".." that could climb out.
  char upperFolder[PATH_BUF_SIZE], upperTemp[PATH_BUF_SIZE];
  StrCopy(upperFolder, r.folder, sizeof upperFolder);
  StrCopy(upperTemp, temp, sizeof upperTemp);
  TextUpper(upperFolder);
  TextUpper(upperTemp);
  if (r.length <= tempLength || strncmp(upperFolder, upperTemp, tempLength) != 0 || strstr(r.folder, "\\..")) return 0;
  ListArchive(g_programPath, nullptr, RemoveEntry, &r, nullptr, nullptr, 0);
  r.folder[r.length - 1] = '\0';
  // A process that has just ended may hold the folder for a moment longer
  // (on Windows its console host, say): a few tries over two seconds.
  for (int tries = 0; !DirRemove(r.folder) && DirExists(r.folder) && tries < 20; ++tries) SysSleep(100);
  return 1;
}

intptr_t RunAfterOpen(void *owner, const char *file) {
  if (!(g_settings.reservedC & SFX_FLAG_WAIT)) return SysShellOpen(owner, file, g_runParameters);
  intptr_t result = SysShellOpenWait(owner, file, g_runParameters, &s_exitCode);
  if (result > 32) s_waited = 1;
  return result;
}

void RunAfterCleanup(const char *folder) {
  if (s_waited && (g_settings.reservedC & SFX_FLAG_CLEANUP)) RemoveExtracted(folder);
}

int RunAfterExitCode() { return s_waited ? (int)s_exitCode : 0; }
