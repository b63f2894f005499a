// Folder macros ("%Temp%", "%Programs%", ...) at the start of a target folder,
// resolved to this machine's folders. The order of tests, the match at the
// start and the joining of folder and rest are the same on every platform;
// where a folder comes from is the backend's business (SysGetSpecialFolder).
#ifndef KV_FOLDER_MACROS_H
#define KV_FOLDER_MACROS_H

#include <cstddef>

// The platform's shell folder numbers the macros stand for; -1 is the
// temporary folder.
enum : int {
  FOLDER_TEMP = -1,
  FOLDER_DOCUMENTS = 5,
  FOLDER_APPDATA = 26,
  FOLDER_LOCAL_APPDATA = 28,
  FOLDER_WINDOWS = 36,
  FOLDER_SYSTEM = 37,
  FOLDER_PROGRAMS = 38,
  FOLDER_COMMON_FILES = 43,
};

// Replaces a macro at the very start of path (any letter case) by its folder,
// joined to the rest with exactly one backslash, into out (out may be path).
// Without a macro path is copied. Returns 1, or 0 when the macro's folder
// can't be determined (out untouched). A null or empty path leaves out alone.
int FolderExpandMacro(const char *path, char *out, size_t size);

// The folder for a number above; 1 with the folder, 0 when there is none.
int FolderGetById(int id, char *buffer, size_t size);

#endif
