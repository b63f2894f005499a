// The dialog path of a Windows run: the main dialog, then the end message or
// the summary. Also installs the dialogs' callbacks for every run, so that
// the engine's questions come up as dialogs in unattended runs as well.
#include <windows.h>

#include "../../archive/zip_job.h"
#include "../../launcher/dialog_path.h"
#include "../../launcher/own_archive.h"
#include "../../launcher/run_after.h"
#include "../../launcher/sfx_state.h"
#include "../../resources/resource.h"
#include "../../ui/win32/win_ui.h"

namespace {
int InstallDialogCallbacks() {
  ExtractCallbacks table;
  UiFillCallbacks(&table);
  JobInstallUiCallbacks(&table);
  return 1;
}
// Before WinMain: the unattended branch runs the job without passing here.
const int s_callbacksInstalled = InstallDialogCallbacks();
// The exit code of any error outside the engine's table.
constexpr int EXIT_UNKNOWN_ERROR = 8;
}  // namespace

int ShowEndMessage() {
  char text[2048];
  EndMessageText(g_lastError, text, sizeof text);
  MessageBoxA(nullptr, text, nullptr, MB_OK);
  return ErrorToExitCode(g_lastError);
}

int RunDialogPath() {
  (void)s_callbacksInstalled;
  INT_PTR ended = DialogBoxParamA(UiInstance(), MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
  g_mainWindow = nullptr;
  if (ended == -1 && g_lastError == 0) {
    // The dialog never came up, so nothing was extracted: a calling installer
    // must not read that as success. It ends as an error outside the table,
    // numbered with the platform's reason.
    char text[2048];
    EndMessageText((int32_t)GetLastError(), text, sizeof text);
    MessageBoxA(nullptr, text, nullptr, MB_OK);
    return EXIT_UNKNOWN_ERROR;
  }
  if (g_lastError != 0) return ShowEndMessage();
  char text[2048];
  if (SummaryText(text, sizeof text))
    MessageBoxA(nullptr, text, LangString(LANG_INFORMATION), MB_OK | MB_ICONINFORMATION);
  return RunAfterExitCode();
}
