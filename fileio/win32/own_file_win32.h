// The own executable as the win32 backend knows it: its wide name, and the
// ANSI name SysGetModulePath handed out for it.
#ifndef KV_OWN_FILE_WIN32_H
#define KV_OWN_FILE_WIN32_H

#include <cwchar>

// The wide name of the own executable when name is the ANSI name handed out
// for it, else null: FileOpen then opens the wide name, so the own file
// reads even where the ANSI code page can't spell its folder.
const wchar_t *OwnFileWideName(const char *name);

#endif
