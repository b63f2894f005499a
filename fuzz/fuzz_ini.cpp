// Fuzzes the INI reader and the language table built on it: arbitrary text,
// queried with names taken from the input and with several buffer sizes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fileio/ini_reader.h"
#include "launcher/lang_table.h"

namespace {

void Check(bool ok) {
  if (!ok) abort();
}

// The value returned must be terminated, no longer than the buffer allows and
// made of bytes that occur in the text or the default.
void Query(const char *text, size_t length, const char *section, const char *key, uint32_t size) {
  char out[4096];
  memset(out, 0x5A, sizeof out);
  const char *def = "dflt";
  uint32_t n = IniLookup(text, length, section, key, def, out, size);
  if (size == 0) {
    Check(n == 0 && (unsigned char)out[0] == 0x5A);
    return;
  }
  Check(n < size && out[n] == '\0' && strlen(out) == n);
  if (n > 0 && strncmp(out, def, n) != 0) Check(memmem(text, length, out, n) != nullptr);
}

struct Source {
  const char *text;
  size_t length;
};

uint32_t Lookup(void *source, const char *section, const char *key, char *out, uint32_t size) {
  Source *s = (Source *)source;
  return IniLookup(s->text, s->length, section, key, "", out, size);
}

int CountKeys(void *user, const char *name, size_t length) {
  (void)name;
  Check(length < 1u << 30);
  ++*(int *)user;
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  // The first bytes choose the names to look up and the buffer size.
  uint32_t sizes[] = {0, 1, 2, 7, 2048, 4096};
  uint32_t bufferSize = sizes[data[0] % 6];
  size_t nameLength = data[1] % 8;
  if (size < 2 + 2 * nameLength) return 0;
  std::string section((const char *)data + 2, nameLength);
  std::string key((const char *)data + 2 + nameLength, nameLength);
  const char *text = (const char *)data + 2 + 2 * nameLength;
  size_t length = size - 2 - 2 * nameLength;

  Query(text, length, section.c_str(), key.c_str(), bufferSize);
  Query(text, length, "data", "7", bufferSize);
  Query(text, length, "description", "0", 2048);
  Query(text, length, "", key.c_str(), 2048);
  int keys = 0;
  Check(IniForEachKey(text, length, section.c_str(), CountKeys, &keys) == 1);

  char *table[LANG_STRING_COUNT] = {};
  Source source = {text, length};
  int failed = 0;
  if (LangTableFill(table, Lookup, &source, &failed)) {
    for (int k = 0; k < LANG_STRING_COUNT; ++k) Check(table[k] && table[k][0] != '\0');
    Check(CountPercentSIn(table[34], 4) == 1);
  }
  LangTableFree(table);
  return 0;
}
