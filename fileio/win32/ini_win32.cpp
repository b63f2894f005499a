// On Windows the language text is read by the platform's own profile reader.
#include <windows.h>

#include "../platform.h"

uint32_t IniGetString(const char *section, const char *key, const char *defaultValue, char *out, uint32_t size,
                      const char *iniPath) {
  return GetPrivateProfileStringA(section, key, defaultValue, out, size, iniPath);
}
