// The platform questions of the path helpers on Windows.
#include <windows.h>

#include "fileio/path.h"

int DirCreate(const char *path) {
  if (!path) return 0;
  return CreateDirectoryA(path, nullptr) ? 1 : 0;
}

int DirRemove(const char *path) {
  if (!path) return 0;
  return RemoveDirectoryA(path) ? 1 : 0;
}

int DirExists(const char *path) {
  if (!path) return 0;
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

int OsIsNt() {
  OSVERSIONINFOA info;
  ZeroMemory(&info, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
}

int DriveIsRemovable(const char *path) {
  char root[PATH_BUF_SIZE];
  PathGetRoot(path, root, sizeof root);
  return GetDriveTypeA(root) == DRIVE_REMOVABLE ? 1 : 0;
}
