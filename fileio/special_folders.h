// The platform's special folders behind the folder macros: Windows asks the
// shell, then the registry or its directory calls; POSIX uses the XDG
// variables, the user-dirs file and HOME.
#ifndef KV_SPECIAL_FOLDERS_H
#define KV_SPECIAL_FOLDERS_H

#include <cstddef>

// The folder for one of the shell folder numbers 5, 26, 28, 36, 37, 38 and 43
// (program path form, no trailing backslash required). 1 with the folder, 0
// when the number is unknown or no folder can be found.
int SysGetSpecialFolder(int which, char *out, size_t size);

#endif
