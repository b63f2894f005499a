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

void TextFromOem(const char *src, size_t srcLength, char *dest, size_t size) {
  if (!dest || size == 0) return;
  size_t n = 0;
  while (src && n < srcLength && n + 1 < size && src[n]) n++;
  if (n) OemToCharBuffA(src, dest, (DWORD)n);
  dest[n] = '\0';
}

// Through UTF-16 to the ANSI code page; characters it lacks become '?'. A
// result longer than the buffer is cut at a character boundary.
void TextFromUtf8(const char *src, size_t srcLength, char *dest, size_t size) {
  if (!dest || size == 0) return;
  dest[0] = '\0';
  size_t n = 0;
  while (src && n < srcLength && src[n]) n++;
  if (n == 0 || n > 0x7FFFFFF) return;
  int wideLength = MultiByteToWideChar(CP_UTF8, 0, src, (int)n, nullptr, 0);
  if (wideLength <= 0) return;
  wchar_t *wide = (wchar_t *)malloc(sizeof(wchar_t) * (size_t)wideLength);
  if (!wide) return;
  MultiByteToWideChar(CP_UTF8, 0, src, (int)n, wide, wideLength);
  int ansiLength = WideCharToMultiByte(CP_ACP, 0, wide, wideLength, nullptr, 0, nullptr, nullptr);
  char *ansi = ansiLength > 0 ? (char *)malloc((size_t)ansiLength + 1) : nullptr;
  if (ansi) {
    WideCharToMultiByte(CP_ACP, 0, wide, wideLength, ansi, ansiLength, nullptr, nullptr);
    ansi[ansiLength] = '\0';
    const char *end = ansi;
    for (;;) {
      const char *next = CharNextA(end);
      if (next == end || (size_t)(next - ansi) > size - 1) break;
      end = next;
    }
    size_t keep = (size_t)(end - ansi);
    memcpy(dest, ansi, keep);
    dest[keep] = '\0';
  }
  free(ansi);
  free(wide);
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
