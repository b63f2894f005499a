// The unattended branch of a run and the exit codes of every run.
#include "run_unattended.h"

#include "../archive/zip_job.h"
#include "../fileio/path.h"
#include "../fileio/platform.h"
#include "dialog_path.h"
#include "own_archive.h"
#include "run_after.h"
#include "sfx_state.h"

int ErrorToExitCode(int32_t code) {
  switch (code) {
    case 0: return 0;
    case ERR_CANCELLED: return 9;
    case ERR_FILE_ACCESS:
    case ERR_PATH_TOO_LONG:
    case 28005:
    case 28009: return 5;
    case ERR_NO_MEMORY: return 7;
    case ERR_WRITE_FAILED: return 6;
    case ERR_UNSUPPORTED:
    case ERR_CRC:
    case ERR_INVALID_DATA: return 4;
    case ERR_NOT_AN_ARCHIVE:
    case ERR_NO_END_RECORD: return 3;
    default: return 8;
  }
}

int StartRunCommandUnattended() {
  char saved[PATH_BUF_SIZE];
  saved[0] = '\0';
  SysGetCurrentDir(saved, sizeof saved);
  char full[PATH_BUF_SIZE];
  StrCopy(full, g_settings.targetFolder, sizeof full);
  PathTrimBackslash(full);
  SysSetCurrentDir(full);
  PathEnsureBackslash(full);
  StrAppend(full, g_settings.runCommand, sizeof full);
  int started = RunAfterOpen(nullptr, full) > 32;
  if (!started) g_lastError = ERR_RUN_FAILED;
  if (saved[0]) SysSetCurrentDir(saved);
  RunAfterCleanup(g_settings.targetFolder);
  return started;
}

int RunUnattended() {
  g_lastError = ExtractArchive(g_settings.targetFolder);
  if (g_lastError == 0 && g_settings.runCommand[0]) StartRunCommandUnattended();
  if (g_lastError == 0) return RunAfterExitCode();
  return ErrorToExitCode(g_lastError);
}
