// Which text ends an interactive run, and the run-after command of that path.
#include <cstring>

#include "../archive/job_types.h"
#include "../fileio/path.h"
#include "../fileio/platform.h"
#include "dialog_path.h"
#include "lang_format.h"
#include "run_after.h"
#include "run_unattended.h"
#include "sfx_state.h"

void EndMessageText(int32_t error, char *out, size_t size) {
  int string = LANG_ERR_OTHER;
  if (error == ERR_PATH_TOO_LONG) {
    // No language string says it; the start-up messages are fixed texts too.
    StrPrintf(out, size,
              "Der Pfad ist zu lang (mehr als 255 Zeichen).\n\nThe path is too long (more than 255 characters): %s",
              g_entryName);
    return;
  }
  switch (error) {
    case ERR_CANCELLED: string = LANG_ERR_CANCELLED; break;
    case ERR_FILE_ACCESS: string = LANG_ERR_ACCESS; break;
    case ERR_NO_MEMORY: string = LANG_ERR_NO_MEMORY; break;
    case ERR_WRITE_FAILED: string = LANG_ERR_DISK_FULL; break;
    case ERR_RUN_FAILED: string = LANG_ERR_RUN_FAILED; break;
    case ERR_WRONG_PASSWORD: string = LANG_ERR_PASSWORD; break;
    case ERR_CRC: string = LANG_ERR_CRC; break;
    case ERR_INVALID_DATA: string = LANG_ERR_INVALID_DATA; break;
    case ERR_NOT_AN_ARCHIVE:
    case ERR_NO_END_RECORD: string = LANG_ERR_NOT_ARCHIVE; break;
    default: break;
  }
  char name[PATH_BUF_SIZE];
  if (string == LANG_ERR_RUN_FAILED) {
    PathGetName(g_settings.runCommand, name, sizeof name);
    UiArg args[] = {{name, 0}};
    UiFormat(out, size, LangString(LANG_ERR_RUN_FAILED), args, 1);
  } else if (string == LANG_ERR_OTHER) {
    PathGetName(g_programPath, name, sizeof name);
    UiArg args[] = {{nullptr, (long long)(uint32_t)error}, {name, 0}};
    UiFormat(out, size, LangString(LANG_ERR_OTHER), args, 2);
  } else {
    StrCopy(out, LangString(string), size);
  }
}

int SummaryText(char *out, size_t size) {
  if (g_settings.runCommand[0] || g_fileCount <= 0) return 0;
  char name[PATH_BUF_SIZE];
  PathGetName(g_programPath, name, sizeof name);
  UiArg args[] = {{name, 0}, {nullptr, (long long)g_fileCount}};
  UiFormat(out, size, LangString(LANG_SUMMARY), args, 2);
  return 1;
}

int StartRunCommandDialog(void *owner, const char *folder) {
  if (!g_settings.runCommand[0] || g_lastError != 0) return 0;
  char full[PATH_BUF_SIZE];
  StrCopy(full, folder, sizeof full);
  PathEnsureBackslash(full);
  StrAppend(full, g_settings.runCommand, sizeof full);
  char workDir[PATH_BUF_SIZE];
  PathGetDir(full, workDir, sizeof workDir);
  PathTrimBackslash(workDir);
  char name[PATH_BUF_SIZE];
  PathGetName(g_settings.runCommand, name, sizeof name);
  char saved[PATH_BUF_SIZE];
  if (!SysGetCurrentDir(saved, sizeof saved)) saved[0] = '\0';
  // The program is named by its bare name: outside its folder that name could
  // start another program of the same name, so a folder we can't enter is a
  // failed start.
  intptr_t result = 0;
  if (SysSetCurrentDir(workDir)) result = RunAfterOpen(owner, name);
  if (saved[0]) SysSetCurrentDir(saved);
  RunAfterCleanup(folder);
  if (result <= 32) {
    g_lastError = ERR_RUN_FAILED;
    return 0;
  }
  return 1;
}
