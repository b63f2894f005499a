// Language strings filled with values, for the launcher and the front-ends.
#ifndef KV_LANG_FORMAT_H
#define KV_LANG_FORMAT_H

#include <cstddef>

// printf-style text from a language string with typed arguments: %s, %u, %lu,
// %d, %ld and %% are filled in order; anything else, or a conversion without a
// matching argument, is copied as typed. A language text can't make it read
// what was not passed.
struct UiArg {
  const char *text;  // null: a number
  long long number;
};
void UiFormat(char *out, size_t size, const char *format, const UiArg *args, int count);
// The platform's message inserts (%1 .. %9, optionally followed by !x!), each
// replaced by its text; %% gives %, %n a line break; others stay as typed.
void UiFormatInserts(char *out, size_t size, const char *format, const char *const *inserts, int count);

#endif
