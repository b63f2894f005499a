// Text, process and shell services on Windows: the ANSI code page calls.
// The own executable's path is in own_file_win32.cpp.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>

#include "fileio/platform.h"

const char *TextNextChar(const char *p) { return p ? CharNextA(p) : p; }

const char *TextPrev(const char *start, const char *p) {
  if (!start || !p) return start;
  return CharPrevA(start, p);
}

void TextUpper(char *text) {
  if (text) CharUpperA(text);
}

int TextCompareNoCase(const char *a, const char *b) { return lstrcmpiA(a ? a : "", b ? b : ""); }

namespace {

// The OEM code page of the locale: under the manifest's UTF-8 setting
// GetOEMCP answers 65001 too, which no writer of unflagged names used.
// The code page a setting of the system's locale names in decimal; 0 when
// there is none.
UINT LocaleCodePage(LCTYPE type) {
  char digits[8];
  if (!GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, type, digits, sizeof digits)) return 0;
  UINT cp = 0;
  for (const char *p = digits; *p >= '0' && *p <= '9' && cp < 100000; ++p) cp = cp * 10 + (UINT)(*p - '0');
  return cp;
}

UINT LocaleOemCodePage() {
  static UINT cp;
  if (cp == 0) {
    cp = LocaleCodePage(LOCALE_IDEFAULTCODEPAGE);
    if (cp == 0 || cp == CP_UTF8) cp = 437;
  }
  return cp;
}

// The length of text's first `limit` bytes or fewer that ends on a whole
// character (text is longer than limit).
size_t CutAtCharacter(const char *text, size_t limit, UINT acp) {
  if (acp == CP_UTF8) {
    while (limit > 0 && ((unsigned char)text[limit] & 0xC0) == 0x80) limit--;
    return limit;
  }
  const char *end = text;
  for (;;) {
    const char *next = CharNextA(end);
    if (next == end || (size_t)(next - text) > limit) break;
    end = next;
  }
  return (size_t)(end - text);
}

// From code page `from` through UTF-16 to the active code page, refusing
// best-fit characters and the default character (a UTF-8 code page spells
// everything and takes neither flag).
int ToActive(UINT from, const char *src, size_t srcLength, char *dest, size_t size) {
  if (!dest || size == 0) return 0;
  dest[0] = '\0';
  size_t n = 0;
  while (src && n < srcLength && src[n]) n++;
  if (n == 0) return 1;
  if (n > 0x7FFFFFF) return 0;
  int exact = 1;
  DWORD mbFlags = MB_ERR_INVALID_CHARS;
  int wideLength = MultiByteToWideChar(from, mbFlags, src, (int)n, nullptr, 0);
  if (wideLength <= 0) {
    exact = 0;
    mbFlags = 0;
    wideLength = MultiByteToWideChar(from, 0, src, (int)n, nullptr, 0);
  }
  if (wideLength <= 0) return 0;
  wchar_t *wide = (wchar_t *)malloc(sizeof(wchar_t) * (size_t)wideLength);
  if (!wide) return 0;
  MultiByteToWideChar(from, mbFlags, src, (int)n, wide, wideLength);
  UINT acp = GetACP();
  BOOL lossy = FALSE;
  BOOL *ask = acp == CP_UTF8 ? nullptr : &lossy;
  DWORD wcFlags = ask ? WC_NO_BEST_FIT_CHARS : 0;
  int ansiLength = WideCharToMultiByte(CP_ACP, wcFlags, wide, wideLength, nullptr, 0, nullptr, ask);
  char *ansi = ansiLength > 0 ? (char *)malloc((size_t)ansiLength + 1) : nullptr;
  if (ansi) {
    WideCharToMultiByte(CP_ACP, wcFlags, wide, wideLength, ansi, ansiLength, nullptr, ask);
    ansi[ansiLength] = '\0';
    size_t keep = (size_t)ansiLength;
    if (keep > size - 1) {
      exact = 0;
      keep = CutAtCharacter(ansi, size - 1, acp);
    }
    memcpy(dest, ansi, keep);
    dest[keep] = '\0';
    if (lossy) exact = 0;
  } else {
    exact = 0;
  }
  free(ansi);
  free(wide);
  return exact;
}

}  // namespace

int TextFromOem(const char *src, size_t srcLength, char *dest, size_t size) {
  return ToActive(LocaleOemCodePage(), src, srcLength, dest, size);
}

int TextFromUtf8(const char *src, size_t srcLength, char *dest, size_t size) {
  return ToActive(CP_UTF8, src, srcLength, dest, size);
}

int TextFromStored(const char *src, size_t srcLength, int utf8, char *dest, size_t size) {
  return ToActive(utf8 ? CP_UTF8 : 1252, src, srcLength, dest, size);
}

int TextLegacyForm(const char *text, int form, char *out, size_t size) {
  // Only a UTF-8 program spells text otherwise than the legacy code pages.
  if (!text || !out || size == 0 || GetACP() != CP_UTF8) return 0;
  UINT cp = form == 0 ? LocaleCodePage(LOCALE_IDEFAULTANSICODEPAGE) : LocaleOemCodePage();
  if (cp == 0 || cp == CP_UTF8) return 0;
  wchar_t wide[PATH_BUF_SIZE];
  int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, PATH_BUF_SIZE);
  if (wideLength <= 0) return 0;
  BOOL lossy = FALSE;
  int n = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, wide, -1, out, (int)size, nullptr, &lossy);
  if (n <= 0 || lossy || strcmp(out, text) == 0) {
    out[0] = '\0';
    return 0;
  }
  return 1;
}

uint32_t SysGetTempPath(char *out, uint32_t size) {
  if (!out || size == 0) return 0;
  DWORD n = GetTempPathA(size, out);
  if (n == 0 || n >= size) {
    out[0] = '\0';
    return 0;
  }
  return n;
}

uint32_t SysGetEnv(const char *name, char *out, uint32_t size) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  if (!name) return 0;
  DWORD n = GetEnvironmentVariableA(name, out, size);
  if (n == 0 || n >= size) {
    out[0] = '\0';
    return 0;
  }
  return n;
}

uint32_t SysGetCurrentDir(char *out, uint32_t size) {
  if (!out || size == 0) return 0;
  DWORD n = GetCurrentDirectoryA(size, out);
  if (n == 0 || n >= size) {
    out[0] = '\0';
    return 0;
  }
  return n;
}

int SysSetCurrentDir(const char *path) {
  if (!path) return 0;
  return SetCurrentDirectoryA(path) ? 1 : 0;
}

void SysSleep(uint32_t milliseconds) { Sleep(milliseconds); }

intptr_t SysShellOpen(void *ownerWindow, const char *file, const char *parameters) {
  if (!file) return ERROR_FILE_NOT_FOUND;
  // Without a window of our own (unattended runs) the desktop owns any
  // message the shell shows.
  HWND owner = ownerWindow ? (HWND)ownerWindow : GetDesktopWindow();
  return (intptr_t)ShellExecuteA(owner, "open", file, parameters, nullptr, SW_SHOW);
}

intptr_t SysShellOpenWait(void *ownerWindow, const char *file, const char *parameters, uint32_t *exitCode) {
  *exitCode = 0;
  if (!file) return ERROR_FILE_NOT_FOUND;
  SHELLEXECUTEINFOA info;
  memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = ownerWindow ? (HWND)ownerWindow : GetDesktopWindow();
  info.lpVerb = "open";
  info.lpFile = file;
  info.lpParameters = parameters;
  info.nShow = SW_SHOW;
  if (!ShellExecuteExA(&info)) {
    intptr_t code = (intptr_t)info.hInstApp;
    return code > 32 || code <= 0 ? ERROR_FILE_NOT_FOUND : code;
  }
  // A document opened in a program that was already running gives no
  // process of its own: nothing to wait for, and success.
  if (info.hProcess) {
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(info.hProcess, &code)) *exitCode = code;
    CloseHandle(info.hProcess);
  }
  return 42;
}

// RtlGenRandom is exported by advapi32 as SystemFunction036 (every Windows
// since XP); declared here, since its header wants extra definitions.
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

int SysRandom(void *buffer, size_t size) {
  unsigned char *out = (unsigned char *)buffer;
  while (size > 0) {
    ULONG piece = size > 0x10000 ? 0x10000 : (ULONG)size;
    if (!SystemFunction036(out, piece)) return 0;
    out += piece;
    size -= piece;
  }
  return 1;
}

int SysReservesDeviceNames() { return 1; }
