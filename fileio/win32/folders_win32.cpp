// Special folders on Windows: the shell first; when it can't say, the
// registry's shell-folder values (default: the Windows directory) or the
// platform's directory calls.
#include <windows.h>
#include <shlobj.h>

#include "../kv_base.h"
#include "../special_folders.h"

namespace {

const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";

// Reads a registry value as it comes (no type test). 1 when read; otherwise 0
// with defaultValue (when given) in out.
int RegReadString(HKEY root, const char *key, const char *value, const char *defaultValue, char *out, DWORD size) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  if (!key) return 0;
  HKEY handle;
  if (RegOpenKeyExA(root, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) {
    if (defaultValue) StrCopy(out, defaultValue, size);
    return 0;
  }
  DWORD needed = 0;
  LONG first = RegQueryValueExA(handle, value, nullptr, nullptr, nullptr, &needed);
  DWORD got = size - 1;  // keep room for a terminator the value may lack
  LONG second = first == ERROR_SUCCESS
                    ? RegQueryValueExA(handle, value, nullptr, nullptr, reinterpret_cast<BYTE *>(out), &got)
                    : first;
  RegCloseKey(handle);
  if (first != ERROR_SUCCESS || second != ERROR_SUCCESS) {
    StrCopy(out, defaultValue, size);
    return 0;
  }
  out[got < size ? got : size - 1] = '\0';
  return 1;
}

int GetSpecialFolder(HWND owner, int id, char *buffer, size_t size) {
  if (!buffer || size == 0) return 0;
  buffer[0] = '\0';
  IMalloc *allocator = nullptr;
  if (FAILED(SHGetMalloc(&allocator)) || !allocator) return 0;
  LPITEMIDLIST items = nullptr;
  char path[MAX_PATH];
  path[0] = '\0';
  if (SUCCEEDED(SHGetSpecialFolderLocation(owner, id, &items)) && items) {
    if (!SHGetPathFromIDListA(items, path)) path[0] = '\0';
    allocator->Free(items);
  }
  allocator->Release();
  if (path[0]) {
    StrCopy(buffer, path, size);
    return 1;
  }
  char windows[MAX_PATH];
  if (!GetWindowsDirectoryA(windows, MAX_PATH)) windows[0] = '\0';
  char value[MAX_PATH];
  switch (id) {
    case 36:
      StrCopy(buffer, windows, size);
      return windows[0] ? 1 : 0;
    case 37:
      if (!GetSystemDirectoryA(value, MAX_PATH)) return 0;
      StrCopy(buffer, value, size);
      return value[0] ? 1 : 0;
    case 26:
      RegReadString(HKEY_CURRENT_USER, kShellFolders, "AppData", windows, value, MAX_PATH);
      break;
    case 28:
      RegReadString(HKEY_CURRENT_USER, kShellFolders, "Local AppData", windows, value, MAX_PATH);
      break;
    case 5:
      RegReadString(HKEY_CURRENT_USER, kShellFolders, "Personal", windows, value, MAX_PATH);
      break;
    case 38:
      RegReadString(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir", windows, value, MAX_PATH);
      break;
    case 43:
      RegReadString(HKEY_LOCAL_MACHINE, kCurrentVersion, "CommonFilesDir", windows, value, MAX_PATH);
      break;
    default:
      return 0;
  }
  StrCopy(buffer, value, size);
  return 1;
}

}  // namespace

int SysGetSpecialFolder(int which, char *out, size_t size) { return GetSpecialFolder(nullptr, which, out, size); }
