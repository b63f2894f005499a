/* Measures texts in the controls of the stub's dialog templates, as the
   dialogs draw them: each template is created (hidden) from the stub's own
   resources, so the rectangles come from the template and the dialog's font.
   Input: a file of records "dialog TAB control TAB text NUL" (ANSI text).
   Output: first the screen's dots per inch, then one line per record: dialog
   control kind needW needH haveW haveH, where kind is s (static), b (push
   button), d (default push button) or c (check box), as the template made it.
   The probe is aware of the screen's DPI, as the stub's manifest declares. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* No focus is set: a focused button would take the default style. */
static INT_PTR CALLBACK Quiet(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  (void)w; (void)m; (void)wp; (void)lp;
  return FALSE;
}

static void Measure(HWND dialog, int id, const char *text, FILE *out, int dialogId) {
  HWND control = GetDlgItem(dialog, id);
  if (!control) {
    fprintf(out, "%d %d missing 0 0 0 0\n", dialogId, id);
    return;
  }
  char cls[32];
  GetClassNameA(control, cls, sizeof cls);
  LONG style = GetWindowLongA(control, GWL_STYLE);
  RECT client;
  GetClientRect(control, &client);
  int haveW = client.right, haveH = client.bottom;
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0));
  RECT need = {0, 0, 0, 0};
  char kind = 's';
  if (lstrcmpiA(cls, "Button") == 0) {
    UINT type = (UINT)style & BS_TYPEMASK;
    UINT flags = DT_CALCRECT | DT_SINGLELINE;
    if (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX) {
      /* The box and the gap after it come first: half a digit's width. */
      SIZE digit;
      GetTextExtentPoint32A(dc, "0", 1, &digit);
      haveW -= GetSystemMetrics(SM_CXMENUCHECK) + digit.cx / 2;
      kind = 'c';
    } else {
      haveW -= 6; /* frame and focus rectangle on both sides */
      haveH -= 4;
      kind = type == BS_DEFPUSHBUTTON ? 'd' : 'b';
    }
    DrawTextA(dc, text, -1, &need, flags);
  } else {
    UINT flags = DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_LEFT;
    if (style & SS_NOPREFIX) flags |= DT_NOPREFIX;
    need.right = haveW;
    DrawTextA(dc, text, -1, &need, flags);
  }
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  fprintf(out, "%d %d %c %ld %ld %d %d\n", dialogId, id, kind, need.right, need.bottom, haveW, haveH);
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: text_fit STUB RECORDS OUT\n");
    return 2;
  }
  typedef BOOL(WINAPI * AwarenessFn)(HANDLE);
  AwarenessFn aware = (AwarenessFn)(void *)GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDpiAwarenessContext");
  if (!aware || !aware((HANDLE)-4)) SetProcessDPIAware(); /* -4: per monitor, version 2 */
  HMODULE stub = LoadLibraryExA(argv[1], NULL, LOAD_LIBRARY_AS_DATAFILE);
  FILE *in = fopen(argv[2], "rb");
  FILE *out = fopen(argv[3], "w");
  if (!stub || !in || !out) {
    fprintf(stderr, "text_fit: cannot open the stub or the files\n");
    return 2;
  }
  HDC screen = GetDC(NULL);
  fprintf(out, "%d\n", GetDeviceCaps(screen, LOGPIXELSY));
  ReleaseDC(NULL, screen);
  static char data[1 << 20];
  size_t size = fread(data, 1, sizeof data - 1, in);
  data[size] = '\0';
  HWND dialogs[4] = {0};
  int ids[4] = {0};
  for (char *p = data; p < data + size; p += strlen(p) + 1) {
    char *tab1 = strchr(p, '\t'), *tab2 = tab1 ? strchr(tab1 + 1, '\t') : NULL;
    if (!tab2) continue;
    int dialogId = atoi(p), controlId = atoi(tab1 + 1);
    HWND dialog = NULL;
    for (int i = 0; i < 4 && !dialog; i++)
      if (ids[i] == dialogId) dialog = dialogs[i];
    if (!dialog) {
      for (int i = 0; i < 4; i++)
        if (!ids[i]) {
          dialog = CreateDialogParamA(stub, MAKEINTRESOURCEA(dialogId), NULL, Quiet, 0);
          ids[i] = dialogId;
          dialogs[i] = dialog;
          break;
        }
    }
    if (!dialog) {
      fprintf(out, "%d %d nodialog 0 0 0 0\n", dialogId, controlId);
      continue;
    }
    Measure(dialog, controlId, tab2 + 1, out, dialogId);
  }
  fclose(out);
  return 0;
}
