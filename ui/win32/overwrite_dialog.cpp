// The overwrite question: dialog 5014 with both files' icon, size and time.
#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "../../launcher/sfx_state.h"
#include "../../resources/resource.h"
#include "../ui_shared.h"
#include "win_ui.h"

static FindRecord s_existingInfo;
static FindRecord s_newInfo;
static char s_formatBytes[PATH_BUF_SIZE];
static char s_formatKb[PATH_BUF_SIZE];
static HICON s_fileIcon;

// FormatMessageA reads as many inserts as the text names; a language text
// naming more than we pass must find harmless empty ones, not stack memory.
static const char kNoInsert[4] = {0, 0, 0, 0};

static void FormatInserts(const char *format, const char *const *texts, const DWORD_PTR *values, int count,
                          char *out, DWORD size) {
  DWORD_PTR args[99];
  for (DWORD_PTR &arg : args) arg = reinterpret_cast<DWORD_PTR>(kNoInsert);
  for (int i = 0; i < count; i++) args[i] = values ? values[i] : reinterpret_cast<DWORD_PTR>(texts[i]);
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY, format, 0, 0, out, size,
                           reinterpret_cast<va_list *>(args));
  if (n == 0) UiFormatInserts(out, size, format, texts, count);  // too long or malformed: our own formatter
}

static void FormatFileInfo(HWND dialog, int control, const FindRecord *record) {
  FILETIME utc, local;
  utc.dwLowDateTime = (DWORD)(record->lastWriteTime & 0xFFFFFFFFu);
  utc.dwHighDateTime = (DWORD)(record->lastWriteTime >> 32);
  SYSTEMTIME when;
  memset(&when, 0, sizeof when);
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &when)) memset(&when, 0, sizeof when);
  char timeText[100], dateText[100];
  if (!GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &when, nullptr, timeText, sizeof timeText))
    timeText[0] = '\0';
  if (!GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, &when, nullptr, dateText, sizeof dateText))
    dateText[0] = '\0';
  int32_t value;
  const char *format =
      UiFileSizeValue(record->sizeHigh, record->sizeLow, &value) == LANG_OW_SIZE_KB ? s_formatKb : s_formatBytes;
  char number[16];
  wsprintfA(number, "%d", value);
  const char *texts[3] = {dateText, timeText, number};
  DWORD_PTR values[3] = {reinterpret_cast<DWORD_PTR>(dateText), reinterpret_cast<DWORD_PTR>(timeText),
                         (DWORD_PTR)(INT_PTR)value};
  char line[260];
  FormatInserts(format, texts, values, 3, line, sizeof line);
  SetDlgItemTextA(dialog, control, line);
}

static void InitOverwriteDialog(HWND dialog) {
  SetWindowTextA(dialog, LangString(LANG_OW_TITLE));
  SetDlgItemTextA(dialog, IDC_OK, LangString(LANG_OK));
  SetDlgItemTextA(dialog, IDC_KEEP, LangString(LANG_NO));
  SetDlgItemTextA(dialog, IDC_CANCEL, LangString(LANG_CANCEL));
  SetDlgItemTextA(dialog, IDC_OW_YES_ALL, LangString(LANG_YES_TO_ALL));
  StrCopy(s_formatBytes, LangString(LANG_OW_SIZE_BYTES), sizeof s_formatBytes);
  StrCopy(s_formatKb, LangString(LANG_OW_SIZE_KB), sizeof s_formatKb);

  // The icon belongs to the name; the file itself is not opened. Both lines
  // show the existing name's icon.
  SHFILEINFOA info;
  memset(&info, 0, sizeof info);
  s_fileIcon = nullptr;
  if (SHGetFileInfoA(s_existingInfo.name, 0, &info, sizeof info, SHGFI_ICON | SHGFI_USEFILEATTRIBUTES) &&
      info.hIcon) {
    s_fileIcon = info.hIcon;
    SendDlgItemMessageA(dialog, IDC_OW_OLD_ICON, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(s_fileIcon));
    SendDlgItemMessageA(dialog, IDC_OW_NEW_ICON, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(s_fileIcon));
  }
  SetDlgItemTextA(dialog, IDC_OW_OLD_LABEL, LangString(LANG_OW_REPLACE));
  SetDlgItemTextA(dialog, IDC_OW_NEW_LABEL, LangString(LANG_OW_WITH));

  char question[PATH_BUF_SIZE], text[260];
  StrCopy(question, LangString(LANG_OW_EXISTS), sizeof question);
  const char *names[1] = {s_existingInfo.name};
  FormatInserts(question, names, nullptr, 1, text, sizeof text);
  SetDlgItemTextA(dialog, IDC_OW_QUESTION, text);

  FormatFileInfo(dialog, IDC_OW_OLD_INFO, &s_existingInfo);
  FormatFileInfo(dialog, IDC_OW_NEW_INFO, &s_newInfo);

  HMODULE shell = LoadLibraryA("SHELL32.DLL");
  if (shell) {
    HICON warning = LoadIconA(shell, MAKEINTRESOURCEA(146));
    if (warning) SendDlgItemMessageA(dialog, IDC_OW_WARNING, STM_SETICON, reinterpret_cast<WPARAM>(warning), 0);
    FreeLibrary(shell);
  }
  CenterWindow(dialog, g_mainWindow);
}

static INT_PTR CALLBACK OverwriteDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitOverwriteDialog(dialog);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_OK:
        case IDC_CANCEL:
        case IDC_KEEP:
        case IDC_OW_YES_ALL:
          EndDialog(dialog, LOWORD(wParam));
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

int OnOverwriteQuery(uintptr_t, const FindRecord *existing, const FindRecord *incoming) {
  int early = UiOverwriteBeforeAsking();
  if (early >= 0) return early;
  s_existingInfo = *existing;
  s_newInfo = *incoming;
  INT_PTR answer =
      DialogBoxParamA(UiInstance(), MAKEINTRESOURCEA(IDD_OVERWRITE), g_mainWindow, OverwriteDialogProc, 0);
  if (s_fileIcon) {
    DestroyIcon(s_fileIcon);
    s_fileIcon = nullptr;
  }
  return UiOverwriteFromAnswer((int)answer);
}
