// The interactive session that stands in for the main dialog on a terminal.
#include <cstdio>

#include "../../archive/zip_job.h"
#include "../../fileio/path.h"
#include "../../launcher/dialog_path.h"
#include "../../launcher/own_archive.h"
#include "../../launcher/sfx_state.h"
#include "../ui_shared.h"
#include "console_ui.h"

// The start-up message with the answers its type asks for; 1 to go on.
static int ShowPremessage() {
  ConsolePrint(g_settings.premessageCaption[0] ? g_settings.premessageCaption : LangString(LANG_NOTE));
  ConsolePrint(g_settings.premessageText);
  static const int kOk[] = {LANG_OK};
  static const int kYesNo[] = {LANG_YES, LANG_NO};
  static const int kOkCancel[] = {LANG_OK, LANG_CANCEL};
  switch (g_settings.premessageType) {
    case 1:
      return ConsoleChoose(kYesNo, 2, -1) == 0;
    case 2:
      return ConsoleChoose(kOkCancel, 2, 0) == 0;
    default:
      return ConsoleChoose(kOk, 1, 0) == 0;
  }
}

void ConsoleSession() {
  ConsoleCatchInterrupt();
  char name[PATH_BUF_SIZE], text[2048];
  PathGetName(g_programPath, name, sizeof name);
  UiArg titleArgs[] = {{name, 0}};
  UiFormat(text, sizeof text, LangString(LANG_TITLE), titleArgs, 1);
  ConsolePrint(text);
  ConsolePrint(LangString(LANG_INSTRUCTION));
  if (g_premessagePending && !ShowPremessage()) return;

  char folder[PATH_BUF_SIZE];
  StrCopy(folder, g_settings.targetFolder, sizeof folder);
  if (!ConsoleEditFolder(LangString(LANG_TARGET_FOLDER), folder, sizeof folder)) return;

  int runAfter = 0;
  if (g_settings.runCommand[0]) {
    PathGetName(g_settings.runCommand, name, sizeof name);
    UiArg runArgs[] = {{name, 0}};
    UiFormat(text, sizeof text, LangString(LANG_RUN_AFTER), runArgs, 1);
    ConsolePrint(text);
    static const int kYesNo[] = {LANG_YES, LANG_NO};
    int choice = ConsoleChoose(kYesNo, 2, 0);
    if (choice < 0) return;
    runAfter = choice == 0;
  }
  if (g_settings.overwriteOption) {
    ConsolePrint(LangString(LANG_OVERWRITE_ALL));
    static const int kYesNo[] = {LANG_YES, LANG_NO};
    int choice = ConsoleChoose(kYesNo, 2, 0);
    if (choice < 0) return;
    g_overwriteAll = choice == 0;
  }
  static const int kStart[] = {LANG_EXTRACT, LANG_CANCEL};
  if (ConsoleChoose(kStart, 2, 0) != 0) return;

  if (!folder[0]) PathGetDir(g_programPath, folder, sizeof folder);
  StrCopy(g_settings.targetFolder, folder, sizeof g_settings.targetFolder);
  g_lastError = ExtractArchive(folder);
  ConsoleEndProgressLine();
  if (runAfter) StartRunCommandDialog(nullptr, folder);
}
