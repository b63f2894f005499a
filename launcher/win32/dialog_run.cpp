// The dialog path of a Windows run: the main dialog, then the end message or
// the summary. Also installs the dialogs' callbacks for every run, so that
// the engine's questions come up as dialogs in unattended runs as well.
#include <windows.h>

#include "../../archive/zip_job.h"
#include "../../resources/resource.h"
#include "../../ui/win32/win_ui.h"
#include "../dialog_path.h"
#include "../sfx_state.h"

namespace {
int InstallDialogCallbacks() {
  ExtractCallbacks table;
  UiFillCallbacks(&table);
  JobInstallUiCallbacks(&table);
  return 1;
}
// Before WinMain: the unattended branch runs the job without passing here.
const int s_callbacksInstalled = InstallDialogCallbacks();
}  // namespace

int ShowEndMessage() {
  char text[2048];
  EndMessageText(g_lastError, text, sizeof text);
  MessageBoxA(nullptr, text, nullptr, MB_OK);
  return ErrorToExitCode(g_lastError);
}

int RunDialogPath() {
  (void)s_callbacksInstalled;
  DialogBoxParamA(UiInstance(), MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
  g_mainWindow = nullptr;
  if (g_lastError != 0) return ShowEndMessage();
  char text[2048];
  if (SummaryText(text, sizeof text)) MessageBoxA(nullptr, text, LangString(50), MB_OK | MB_ICONINFORMATION);
  return 0;
}
