// The password and next-volume prompts (dialogs 5011 and 5013).
#include <windows.h>

#include <cstring>

#include "../../fileio/path.h"
#include "../../launcher/sfx_state.h"
#include "../../resources/resource.h"
#include "../ui_shared.h"
#include "win_ui.h"

static char s_promptName[PATH_BUF_SIZE];
static char s_volumeFolder[PATH_BUF_SIZE];
static char s_volumePromptText[2048];

static INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowTextA(dialog, LangString(LANG_PW_TITLE));
      char text[544];
      UiArg args[] = {{s_promptName, 0}};
      UiFormat(text, sizeof text, LangString(LANG_PW_PROMPT), args, 1);
      SetDlgItemTextA(dialog, IDC_PW_TEXT, text);
      SetDlgItemTextA(dialog, IDC_PW_LABEL, LangString(LANG_PW_LABEL));
      SetDlgItemTextA(dialog, IDC_OK, LangString(LANG_OK));
      SetDlgItemTextA(dialog, IDC_CANCEL, LangString(LANG_CANCEL));
      CenterWindow(dialog, g_mainWindow);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_OK) {
        char typed[PATH_BUF_SIZE];
        GetDlgItemTextA(dialog, IDC_PW_EDIT, typed, sizeof typed);
        UiPasswordRemember(typed);
        SecureZeroMemory(typed, sizeof typed);
        EndDialog(dialog, 1);
        return TRUE;
      }
      if (LOWORD(wParam) == IDC_CANCEL) {
        EndDialog(dialog, 2);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

int OnPasswordNeeded(uintptr_t, const char *lastTried, char *out, const char *outputPath) {
  if (g_cancelRequested) return 0;
  if (UiPasswordMustAsk(lastTried)) {
    PathGetName(outputPath ? outputPath : "", s_promptName, sizeof s_promptName);
    INT_PTR answer =
        DialogBoxParamA(UiInstance(), MAKEINTRESOURCEA(IDD_PASSWORD), g_mainWindow, PasswordDialogProc, 0);
    // Only the OK button gives a password. Cancel, the close box and a dialog
    // that can't be created stop the run: handing back an empty password
    // would have the engine ask again without end.
    if (answer != 1) return 0;
  }
  UiPasswordHandOut(out);
  return 1;
}

static INT_PTR CALLBACK VolumeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowTextA(dialog, LangString(LANG_DISK_TITLE));
      SetDlgItemTextA(dialog, IDC_VOL_TEXT, s_volumePromptText);
      SendDlgItemMessageA(dialog, IDC_VOL_FOLDER, EM_SETLIMITTEXT, PATH_BUF_SIZE - 1, 0);
      SetDlgItemTextA(dialog, IDC_VOL_FOLDER, s_volumeFolder);
      SetDlgItemTextA(dialog, IDC_OK, LangString(LANG_OK));
      SetDlgItemTextA(dialog, IDC_CANCEL, LangString(LANG_CANCEL));
      CenterWindow(dialog, g_mainWindow);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_OK) {
        if (!ReadFolderBox(dialog, IDC_VOL_FOLDER, s_volumeFolder)) return TRUE;
        EndDialog(dialog, 1);
        return TRUE;
      }
      if (LOWORD(wParam) == IDC_CANCEL) {
        EndDialog(dialog, 2);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

int OnNextVolume(uintptr_t, char *path, uint32_t, int32_t volume, int32_t volumeAgain) {
  if (g_cancelRequested) return 0;
  PumpMessages();
  char offered[PATH_BUF_SIZE];
  UiVolumeOffer(path, offered, sizeof offered);
  StrCopy(s_volumeFolder, offered, sizeof s_volumeFolder);
  UiVolumePromptText(volume == -1 && volumeAgain == -1 ? -1 : volume, offered, s_volumePromptText,
                     sizeof s_volumePromptText);
  INT_PTR answer = DialogBoxParamA(UiInstance(), MAKEINTRESOURCEA(IDD_VOLUME), g_mainWindow, VolumeDialogProc, 0);
  // As with the password: only OK answers; anything else stops the run.
  if (answer != 1) return 0;
  UiVolumeTidy(s_volumeFolder, sizeof s_volumeFolder, offered);
  StrCopy(path, s_volumeFolder, PATH_BUF_SIZE);
  return 1;
}

void UiFillCallbacks(ExtractCallbacks *table) {
  memset(table, 0, sizeof *table);
  table->onEntryStart.fn = OnFileStart;
  table->onPassword.fn = OnPasswordNeeded;
  table->onProgress.fn = OnProgress;
  table->onOverwrite.fn = OnOverwriteQuery;
  table->onNextVolume.fn = OnNextVolume;
}
