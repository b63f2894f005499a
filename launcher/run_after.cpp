#include "run_after.h"

#include <cstring>

#include "../archive/zip_job.h"
#include "../fileio/file_io.h"
#include "../fileio/output_file.h"
#include "../fileio/path.h"
#include "../fileio/platform.h"
#include "sfx_state.h"

namespace {

int s_waited;
uint32_t s_exitCode;

}  // namespace

int RemoveExtracted(const char *folder) {
  char temp[PATH_BUF_SIZE], target[PATH_BUF_SIZE];
  if (!folder || !SysGetTempPath(temp, sizeof temp) || !temp[0]) return 0;
  StrCopy(target, folder, sizeof target);
  PathFixSlashes(target);
  PathEnsureBackslash(target);
  size_t length = strlen(target), tempLength = strlen(temp);
  // Strictly inside the temporary folder, and no ".." that could climb out.
  char upperFolder[PATH_BUF_SIZE], upperTemp[PATH_BUF_SIZE];
  StrCopy(upperFolder, target, sizeof upperFolder);
  StrCopy(upperTemp, temp, sizeof upperTemp);
  TextUpper(upperFolder);
  TextUpper(upperTemp);
  if (length <= tempLength || strncmp(upperFolder, upperTemp, tempLength) != 0 || strstr(target, "\\..")) return 0;
  target[length - 1] = '\0';
  // Only what this run made or replaced, newest first: a file kept at the
  // overwrite question stays, and so does the folder holding it.
  bool madeTarget = false;
  int isFolder = 0;
  for (size_t n = 0; const char *record = OutputLogFromEnd(n, &isFolder); n++)
    if (!record[0]) madeTarget = true;
  OutputLogRemove(target);
  OutputLogStop();
  // A process that has just ended may hold the folder for a moment longer
  // (on Windows its console host, say): a few tries over two seconds.
  if (madeTarget)
    for (int tries = 0; !DirRemove(target) && DirExists(target) && tries < 20; ++tries) SysSleep(100);
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
