// The main dialog and the small window helpers every dialog uses.
#include <windows.h>
#include <shlobj.h>

#include <cstring>

#include "../../archive/zip_job.h"
#include "../../fileio/path.h"
#include "../../launcher/dialog_path.h"
#include "../../launcher/own_archive.h"
#include "../../launcher/sfx_state.h"
#include "../../resources/resource.h"
#include "../ui_shared.h"
#include "win_ui.h"

HWND g_mainWindow;

HINSTANCE UiInstance() { return GetModuleHandleA(nullptr); }

void CenterWindow(HWND window, HWND over) {
  if (!over) over = GetDesktopWindow();
  RECT outer, own;
  GetWindowRect(over, &outer);
  GetWindowRect(window, &own);
  int w = own.right - own.left;
  int h = own.bottom - own.top;
  int x = UiCentrePosition(outer.left, outer.right - outer.left, w, GetSystemMetrics(SM_CXSCREEN));
  int y = UiCentrePosition(outer.top, outer.bottom - outer.top, h, GetSystemMetrics(SM_CYSCREEN));
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void ToLongPath(char *path, size_t size) {
  typedef DWORD(WINAPI * LongPathFn)(LPCSTR, LPSTR, DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  LongPathFn toLong = kernel ? reinterpret_cast<LongPathFn>(
                                   reinterpret_cast<void *>(GetProcAddress(kernel, "GetLongPathNameA")))
                             : nullptr;
  if (!toLong) return;
  char longPath[PATH_BUF_SIZE];
  DWORD n = toLong(path, longPath, sizeof longPath);
  // The ANSI call puts '?' for what the code page lacks, which no path
  // holds: then the short form stays, the one the ANSI calls can open.
  if (n == 0 || n >= sizeof longPath || !longPath[0]) return;
  if (strchr(longPath, '?') && !strchr(path, '?')) return;
  StrCopy(path, longPath, size);
}

static int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED) SendMessageA(window, BFFM_SETSELECTIONA, TRUE, data);
  return 0;
}

int BrowseForFolder(HWND owner, char *path, const char *title) {
  // The new dialog style needs COM on this thread.
  HRESULT com = CoInitialize(nullptr);
  BROWSEINFOA info;
  memset(&info, 0, sizeof info);
  info.hwndOwner = owner;
  info.lpszTitle = title;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  info.lpfn = BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(path);
  LPITEMIDLIST items = SHBrowseForFolderA(&info);
  int chosen = 0;
  if (items) {
    char chosenPath[MAX_PATH];
    if (SHGetPathFromIDListA(items, chosenPath)) {
      StrCopy(path, chosenPath, PATH_BUF_SIZE);
      chosen = 1;
    }
    IMalloc *allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
      allocator->Free(items);
      allocator->Release();
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return chosen;
}

int ShowPremessage() {
  char caption[PATH_BUF_SIZE];
  StrCopy(caption, g_settings.premessageCaption[0] ? g_settings.premessageCaption : LangString(LANG_NOTE),
          sizeof caption);
  UINT type;
  switch (g_settings.premessageType) {
    case 0: type = MB_OK | MB_ICONINFORMATION; break;
    case 1: type = MB_YESNO | MB_ICONQUESTION; break;
    case 2: type = MB_OKCANCEL | MB_ICONINFORMATION; break;
    default: type = MB_OK; break;
  }
  int answer = MessageBoxA(g_mainWindow, g_settings.premessageText, caption, type);
  return answer == IDOK || answer == IDYES ? 1 : 0;
}

static void InitMainDialog(HWND dialog) {
  g_mainWindow = dialog;
  SetDlgItemTextA(dialog, IDC_INSTRUCTION, LangString(LANG_INSTRUCTION));
  SetDlgItemTextA(dialog, IDC_FOLDER_LABEL, LangString(LANG_TARGET_FOLDER));
  SetDlgItemTextA(dialog, IDC_BROWSE, LangString(LANG_BROWSE));
  SetDlgItemTextA(dialog, IDC_OVERWRITE_ALL, LangString(LANG_OVERWRITE_ALL));
  SetDlgItemTextA(dialog, IDC_OK, LangString(LANG_EXTRACT));
  SetDlgItemTextA(dialog, IDC_CANCEL, LangString(LANG_CANCEL));
  SetDlgItemTextA(dialog, IDC_INFO, LangString(LANG_INFO));
  SetDlgItemTextA(dialog, IDC_HELPBUTTON, LangString(LANG_HELP));
  CenterWindow(dialog, nullptr);

  char name[PATH_BUF_SIZE], text[PATH_BUF_SIZE];
  PathGetName(g_programPath, name, sizeof name);
  UiArg titleArgs[] = {{name, 0}};
  UiFormat(text, sizeof text, LangString(LANG_TITLE), titleArgs, 1);
  SetWindowTextA(dialog, text);

  HWND progress = GetDlgItem(dialog, IDC_PROGRESS);
  g_progressPrevProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(progress, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ProgressWndProc)));
  ShowWindow(progress, SW_HIDE);

  // What the box holds is what extraction gets: a longer text would be cut
  // silently when it is read back.
  SendDlgItemMessageA(dialog, IDC_FOLDER, EM_SETLIMITTEXT, PATH_BUF_SIZE - 1, 0);
  if (g_settings.targetFolder[0]) {
    ToLongPath(g_settings.targetFolder, sizeof g_settings.targetFolder);
    SetDlgItemTextA(dialog, IDC_FOLDER, g_settings.targetFolder);
  }
  if (g_settings.runCommand[0]) {
    PathGetName(g_settings.runCommand, name, sizeof name);
    UiArg runArgs[] = {{name, 0}};
    UiFormat(text, sizeof text, LangString(LANG_RUN_AFTER), runArgs, 1);
    SetDlgItemTextA(dialog, IDC_RUN_AFTER, text);
    CheckDlgButton(dialog, IDC_RUN_AFTER, BST_CHECKED);
  } else {
    ShowWindow(GetDlgItem(dialog, IDC_RUN_AFTER), SW_HIDE);
  }
  if (g_settings.overwriteOption)
    CheckDlgButton(dialog, IDC_OVERWRITE_ALL, BST_CHECKED);
  else
    ShowWindow(GetDlgItem(dialog, IDC_OVERWRITE_ALL), SW_HIDE);
  SendMessageA(dialog, WM_SETICON, ICON_BIG,
               reinterpret_cast<LPARAM>(LoadIconA(UiInstance(), MAKEINTRESOURCEA(IDI_APP))));
  if (g_premessagePending) PostMessageA(dialog, WM_APP_PREMESSAGE, 0, 0);
}

int ReadFolderBox(HWND dialog, int id, char *out) {
  char typed[4 * PATH_BUF_SIZE];
  GetDlgItemTextA(dialog, id, typed, sizeof typed);
  if (strlen(typed) >= PATH_BUF_SIZE) {
    MessageBoxA(dialog, LangString(LANG_ERR_FOLDER_INVALID), LangString(LANG_WARNING), MB_OK | MB_ICONWARNING);
    return 0;
  }
  StrCopy(out, typed, PATH_BUF_SIZE);
  return 1;
}

int OnExtract(HWND dialog) {
  char folder[PATH_BUF_SIZE];
  if (!ReadFolderBox(dialog, IDC_FOLDER, folder)) return 0;
  if (!folder[0]) PathGetDir(g_programPath, folder, sizeof folder);
  StrCopy(g_settings.targetFolder, folder, sizeof g_settings.targetFolder);
  if (g_settings.overwriteOption) g_overwriteAll = IsDlgButtonChecked(dialog, IDC_OVERWRITE_ALL) == BST_CHECKED;

  EnableWindow(GetDlgItem(dialog, IDC_OK), FALSE);
  EnableWindow(GetDlgItem(dialog, IDC_HELPBUTTON), FALSE);
  EnableWindow(GetDlgItem(dialog, IDC_INFO), FALSE);
  EnableWindow(GetDlgItem(dialog, IDC_OVERWRITE_ALL), FALSE);
  ShowWindow(GetDlgItem(dialog, IDC_PROGRESS), SW_SHOW);

  g_lastError = ExtractArchive(folder);

  if (g_lastError == 0 && g_settings.runCommand[0] && IsDlgButtonChecked(dialog, IDC_RUN_AFTER) == BST_CHECKED) {
    EnableWindow(GetDlgItem(dialog, IDC_RUN_AFTER), FALSE);
    StartRunCommandDialog(dialog, folder);
  }
  return 1;
}

static void ShowInfo(HWND dialog) {
  char text[4096];
  if (g_settings.infoText[0]) {
    StrCopy(text, g_settings.infoText, sizeof text);
    StrAppend(text, "\n\n", sizeof text);
    StrAppend(text, LangString(LANG_ABOUT), sizeof text);
  } else {
    StrCopy(text, LangString(LANG_ABOUT), sizeof text);
  }
  MessageBoxA(dialog, text, LangString(LANG_INFORMATION), MB_OK | MB_ICONINFORMATION);
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitMainDialog(dialog);
      return TRUE;
    case WM_APP_PREMESSAGE:
      if (!ShowPremessage()) PostMessageA(dialog, WM_COMMAND, IDC_CANCEL, 0);
      return TRUE;
    case WM_COMMAND:
      switch (wParam) {  // the whole word: only notification code 0 counts
        case IDC_OK:
          if (!OnExtract(dialog)) return TRUE;
          EndDialog(dialog, 1);
          return TRUE;
        case IDC_CANCEL:
          g_cancelRequested = 1;
          EndDialog(dialog, 2);
          return TRUE;
        case IDC_HELPBUTTON:
          MessageBoxA(dialog, LangString(LANG_HELP_TEXT), LangString(LANG_HELP_TITLE), MB_OK | MB_ICONINFORMATION);
          return TRUE;
        case IDC_BROWSE: {
          char folder[PATH_BUF_SIZE];
          StrCopy(folder, g_settings.targetFolder, sizeof folder);
          PathTrimBackslash(folder);
          if (BrowseForFolder(dialog, folder, LangString(LANG_BROWSE_PROMPT)))
            SetDlgItemTextA(dialog, IDC_FOLDER, folder);
          return TRUE;
        }
        case IDC_INFO:
          ShowInfo(dialog);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}
