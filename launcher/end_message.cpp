// Which text ends an interactive run, and the run-after command of that path.
#include <cstring>

#include "../archive/job_types.h"
#include "../fileio/path.h"
#include "../fileio/platform.h"
#include "../ui/ui_shared.h"
#include "dialog_path.h"
#include "run_after.h"
#include "run_unattended.h"
#include "sfx_state.h"

void EndMessageText(int32_t error, char *out, size_t size) {
  int string = 44;
  if (error == ERR_PATH_TOO_LONG) {
    // No language string says it; the start-up messages are fixed texts too.
    StrPrintf(out, size, "Der Pfad ist zu lang (mehr als 255 Zeichen).\n\nThe path is too long (more than 255 characters): %s",
              g_statusName);
    return;
  }
  switch (error) {
    case ERR_CANCELLED: string = 42; break;
    case ERR_FILE_ACCESS: string = 36; break;
    case ERR_NO_MEMORY: string = 38; break;
    case ERR_WRITE_FAILED: string = 41; break;
    case ERR_RUN_FAILED: string = 43; break;
    case ERR_WRONG_PASSWORD: string = 40; break;
    case ERR_CRC: string = 35; break;
    case ERR_INVALID_DATA: string = 39; break;
    case ERR_NOT_AN_ARCHIVE:
    case 28089: string = 37; break;
    default: break;
  }
  char name[PATH_BUF_SIZE];
  if (string == 43) {
    PathGetName(g_settings.runCommand, name, sizeof name);
    UiArg args[] = {{name, 0}};
    UiFormat(out, size, LangString(43), args, 1);
  } else if (string == 44) {
    PathGetName(g_programPath, name, sizeof name);
    UiArg args[] = {{nullptr, (long long)(uint32_t)error}, {name, 0}};
    UiFormat(out, size, LangString(44), args, 2);
  } else {
    StrCopy(out, LangString(string), size);
  }
}

int SummaryText(char *out, size_t size) {
  if (g_settings.runCommand[0] || g_fileCount <= 0) return 0;
  char name[PATH_BUF_SIZE];
  PathGetName(g_programPath, name, sizeof name);
  UiArg args[] = {{name, 0}, {nullptr, (long long)g_fileCount}};
  UiFormat(out, size, LangString(13), args, 2);
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
