// POSIX has no profile API: the project's own reader stands in for it.
#include "../ini_reader.h"
#include "../platform.h"

uint32_t IniGetString(const char *section, const char *key, const char *defaultValue, char *out, uint32_t size,
                      const char *iniPath) {
  return IniLookupFile(iniPath, section, key, defaultValue, out, size);
}
