// The few text, process and shell services the engine and launcher need,
// behind one interface with a win32 and a posix backend.
#ifndef KV_PLATFORM_H
#define KV_PLATFORM_H

#include <cstddef>
#include <cstdint>

#include "kv_base.h"

// Character stepping in the platform's code page (double-byte aware on
// Windows, whole UTF-8 sequences on POSIX).
// The backend's step over one character of any kind.
const char *TextNextChar(const char *p);
// An ASCII byte is a character of its own in every code page the program
// runs under (no lead byte lies below 0x80): names are walked without a call.
inline const char *TextNext(const char *p) {
  return p && (unsigned char)(*p - 1) < 0x7F ? p + 1 : TextNextChar(p);
}
const char *TextPrev(const char *start, const char *p);
void TextUpper(char *text);                 // in place
int TextCompareNoCase(const char *a, const char *b);  // <0, 0, >0
// Converts an archive name from the OEM code page (CP437 on POSIX) to the
// program's code page; and from UTF-8 (general-purpose flag bit 11).
void TextFromOem(const char *src, size_t srcLength, char *dest, size_t size);
void TextFromUtf8(const char *src, size_t srcLength, char *dest, size_t size);

// INI lookup with the semantics of GetPrivateProfileStringA: case-blind section
// and key names, blanks trimmed, one pair of enclosing quotes dropped, the
// value cut to size - 1. Returns the length copied; the default when absent.
uint32_t IniGetString(const char *section, const char *key, const char *defaultValue, char *out, uint32_t size,
                      const char *iniPath);

// Process and system.
uint32_t SysGetModulePath(char *out, uint32_t size);  // own executable
uint32_t SysGetTempPath(char *out, uint32_t size);    // ends in a backslash
uint32_t SysGetCurrentDir(char *out, uint32_t size);
// An environment variable's value; 0 (out empty) when it is unset or does not fit.
uint32_t SysGetEnv(const char *name, char *out, uint32_t size);
int SysSetCurrentDir(const char *path);
void SysSleep(uint32_t milliseconds);
// Starts a program with the shell's "open" verb (POSIX: executes it directly
// when it is executable). Returns a value above 32 on success, as ShellExecuteA.
// A null owner stands for the desktop window.
intptr_t SysShellOpen(void *ownerWindow, const char *file, const char *parameters);
// The same, then waits for the program to end, however long it takes, and
// gives its exit code (0 when the shell started no process to wait for).
intptr_t SysShellOpenWait(void *ownerWindow, const char *file, const char *parameters, uint32_t *exitCode);
// 1 where names such as CON, AUX or COM1 reach devices (Windows), else 0.
int SysReservesDeviceNames();
// Fills the buffer from the system's random source (unpredictable to other
// users). 1 on success, 0 when no such source answers.
int SysRandom(void *buffer, size_t size);

#endif
