// The progress line: static control 1050 with its own painting, fed by the
// entry-start and progress callbacks.
#include <windows.h>

#include "../../launcher/sfx_state.h"
#include "../../resources/resource.h"
#include "../ui_shared.h"
#include "win_ui.h"

WNDPROC g_progressPrevProc;
static long s_progressPercent;
static char s_progressText[PATH_BUF_SIZE];

// Everything goes to an off-screen bitmap first and reaches the screen in one
// copy, so the line never flickers.
static void PaintProgress(HWND window) {
  PAINTSTRUCT paint;
  HDC screen = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
  HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
  HBRUSH highlight = CreateSolidBrush(GetSysColor(COLOR_HIGHLIGHT));
  HBRUSH highlightText = CreateSolidBrush(GetSysColor(COLOR_HIGHLIGHTTEXT));
  HGDIOBJ oldFont = SelectObject(memory, GetStockObject(ANSI_VAR_FONT));
  SetBkMode(memory, TRANSPARENT);

  RECT r = {0, 0, client.right, client.bottom};
  DrawEdge(memory, &r, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  FillRect(memory, &r, highlightText);
  int split = UiProgressSplit(s_progressPercent, r.right);
  RECT done = {r.left, r.top, split, r.bottom};
  RECT rest = {split, r.top, r.right, r.bottom};
  if (done.right > done.left) FillRect(memory, &done, highlight);

  HRGN doneRegion = CreateRectRgnIndirect(&done);
  HRGN restRegion = CreateRectRgnIndirect(&rest);
  RECT textArea = client;
  SelectClipRgn(memory, doneRegion);
  SetTextColor(memory, GetSysColor(COLOR_HIGHLIGHTTEXT));
  DrawTextA(memory, s_progressText, -1, &textArea, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
  SelectClipRgn(memory, restRegion);
  SetTextColor(memory, GetSysColor(COLOR_HIGHLIGHT));
  DrawTextA(memory, s_progressText, -1, &textArea, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
  SelectClipRgn(memory, nullptr);

  BitBlt(screen, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
  SelectObject(memory, oldFont);
  SelectObject(memory, oldBitmap);
  DeleteDC(memory);
  EndPaint(window, &paint);
  DeleteObject(bitmap);
  DeleteObject(highlight);
  DeleteObject(highlightText);
  DeleteObject(doneRegion);
  DeleteObject(restRegion);
}

LRESULT CALLBACK ProgressWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_SETTEXT:
      // The percentage travels in wParam, the name in lParam; the control's
      // own window text is never changed.
      s_progressPercent = (long)wParam;
      UiProgressText(s_progressText, sizeof s_progressText, reinterpret_cast<const char *>(lParam),
                     s_progressPercent);
      InvalidateRect(window, nullptr, FALSE);
      UpdateWindow(window);
      return 1;
    case WM_PAINT:
      PaintProgress(window);
      return 1;
    default:
      return CallWindowProcA(g_progressPrevProc, window, message, wParam, lParam);
  }
}

int OnFileStart(uintptr_t, const char *entryName, const char *) { return UiNoteEntryStart(entryName); }

int OnProgress(uintptr_t, uint32_t percent, uint32_t) {
  if (g_cancelRequested) return 0;
  PumpMessages();
  // Unattended runs have no dialog: the update reaches no window.
  if (g_mainWindow)
    SendDlgItemMessageA(g_mainWindow, IDC_PROGRESS, WM_SETTEXT, percent, reinterpret_cast<LPARAM>(g_statusName));
  PumpMessages();
  return 1;
}
