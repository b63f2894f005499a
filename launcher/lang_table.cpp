// Loading the language string table and expanding its escapes.
#include "lang_table.h"

#include <cstdlib>
#include <cstring>

#include "../fileio/platform.h"

namespace {

uint32_t LookupIniFile(void *source, const char *section, const char *key, char *out, uint32_t size) {
  return IniGetString(section, key, "", out, size, (const char *)source);
}

}  // namespace

void ExpandEscapes(char *text) {
  if (!text) return;
  char *write = text;
  for (const char *read = text; *read;) {
    if (read[0] == '\\' && read[1] == 'n') {
      *write++ = '\r';
      *write++ = '\n';
      read += 2;
    } else if (read[0] == '\\' && read[1] == 't') {
      *write++ = '\t';
      read += 2;
    } else {
      *write++ = *read++;
    }
  }
  *write = '\0';
}

int CountPercentSIn(const char *text, int expected) {
  if (!text) return 0;
  int count = 0;
  for (const char *p = text; (p = strstr(p, "%s")) != nullptr; p += 2) ++count;
  return count == expected ? 1 : 0;
}

int CountPercentS(int number, int expected) {
  if (number < 0 || number >= LANG_STRING_COUNT) return 0;
  return CountPercentSIn(g_langTable[number], expected);
}

int LangTableFill(char **table, LangLookupFn lookup, void *source, int *failedString) {
  char value[LANG_VALUE_BUF];
  int failed = -1;
  if (lookup(source, "description", "0", value, sizeof value) == 0 || value[0] == '\0') goto fail;
  for (int k = 0; k < LANG_STRING_COUNT; ++k) {
    char key[12];
    StrPrintf(key, sizeof key, "%d", k);
    failed = k;
    if (lookup(source, "data", key, value, sizeof value) == 0 || value[0] == '\0') goto fail;
    size_t length = strlen(value);
    char *copy = (char *)malloc(length + 1);
    if (!copy) {
      failed = -2;
      goto fail;
    }
    memcpy(copy, value, length + 1);
    free(table[k]);
    table[k] = copy;
    ExpandEscapes(copy);
  }
  failed = LANG_FILE_INFO;
  if (!CountPercentSIn(table[LANG_FILE_INFO], 4)) goto fail;
  return 1;
fail:
  if (failedString) *failedString = failed;
  return 0;
}

int LoadLangTable(const char *iniPath) {
  return LangTableFill(g_langTable, LookupIniFile, (void *)iniPath, nullptr);
}

void LangTableFree(char **table) {
  for (int k = 0; k < LANG_STRING_COUNT; ++k) {
    free(table[k]);
    table[k] = nullptr;
  }
}
