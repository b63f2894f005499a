// The own executable's path. It is read with the wide call: the ANSI one
// puts '?' for every character the code page lacks, naming no file at all.
// The program works with ANSI paths, so where the path has such characters
// its folder is given by its 8.3 short name, which the ANSI calls can open.
#include <windows.h>

#include <cstring>

#include "fileio/platform.h"
#include "fileio/win32/own_file_win32.h"

namespace {

constexpr DWORD kWideSize = 1024;
wchar_t s_ownWide[kWideSize];
char s_ownAnsi[PATH_BUF_SIZE];

// Wide to ANSI; 1 only when every character has its own ANSI form and the
// whole fits with its terminator.
int ToAnsiExact(const wchar_t *wide, char *out, uint32_t size) {
  BOOL lossy = FALSE;
  // A UTF-8 code page spells everything, and refuses the lossy flag.
  BOOL *ask = GetACP() == CP_UTF8 ? nullptr : &lossy;
  int n = WideCharToMultiByte(CP_ACP, ask ? WC_NO_BEST_FIT_CHARS : 0, wide, -1, out, (int)size, nullptr, ask);
  if (n <= 0 || lossy) {
    out[0] = '\0';
    return 0;
  }
  return 1;
}

// The part after the last backslash.
const wchar_t *NamePart(const wchar_t *path) {
  const wchar_t *slash = wcsrchr(path, L'\\');
  return slash ? slash + 1 : path;
}

// The ANSI form of the own path: as it is where it can be spelled, else the
// short folder with the long name (or the short name where that can't be
// spelled either). 0 when no form fits.
int OwnAnsiPath(char *out, uint32_t size) {
  if (ToAnsiExact(s_ownWide, out, size)) return 1;
  const wchar_t *name = NamePart(s_ownWide);
  if (name == s_ownWide) return 0;
  wchar_t folder[kWideSize], shortFolder[kWideSize], shortPath[kWideSize];
  size_t folderLength = (size_t)(name - s_ownWide);  // with its backslash
  memcpy(folder, s_ownWide, folderLength * sizeof(wchar_t));
  folder[folderLength] = L'\0';
  DWORD n = GetShortPathNameW(folder, shortFolder, kWideSize);
  if (n == 0 || n >= kWideSize || !ToAnsiExact(shortFolder, out, size)) return 0;
  char namePart[PATH_BUF_SIZE];
  if (!ToAnsiExact(name, namePart, sizeof namePart)) {
    n = GetShortPathNameW(s_ownWide, shortPath, kWideSize);
    if (n == 0 || n >= kWideSize || !ToAnsiExact(NamePart(shortPath), namePart, sizeof namePart)) return 0;
  }
  size_t used = strlen(out);
  if (used == 0 || out[used - 1] != '\\') StrAppend(out, "\\", size);
  used = strlen(out);
  if (used + strlen(namePart) + 1 > size) return 0;  // cut: some other file
  StrAppend(out, namePart, size);
  return 1;
}

}  // namespace

uint32_t SysGetModulePath(char *out, uint32_t size) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  s_ownAnsi[0] = '\0';
  DWORD n = GetModuleFileNameW(nullptr, s_ownWide, kWideSize);
  if (n == 0 || n >= kWideSize) {
    s_ownWide[0] = L'\0';
    return 0;
  }
  if (!OwnAnsiPath(out, size)) {
    out[0] = '\0';
    return 0;
  }
  StrCopy(s_ownAnsi, out, sizeof s_ownAnsi);
  return (uint32_t)strlen(out);
}

const wchar_t *OwnFileWideName(const char *name) {
  if (!name || !s_ownAnsi[0] || strcmp(name, s_ownAnsi) != 0) return nullptr;
  return s_ownWide;
}
