// Filling language strings with values: used by the launcher and by both
// front-ends, so it sits below them.
#include "lang_format.h"

#include <cstring>

#include "../fileio/kv_base.h"

// Appends at most n bytes of text, keeping the terminator in place.
static void Put(char *out, size_t size, size_t *at, const char *text, size_t n) {
  while (n-- > 0 && *text && *at + 1 < size) out[(*at)++] = *text++;
  out[*at] = '\0';
}

void UiFormat(char *out, size_t size, const char *format, const UiArg *args, int count) {
  if (!out || size == 0) return;
  size_t at = 0;
  out[0] = '\0';
  int next = 0;
  const char *p = format ? format : "";
  while (*p) {
    if (*p != '%') {
      Put(out, size, &at, p++, 1);
      continue;
    }
    if (p[1] == '%') {
      Put(out, size, &at, "%", 1);
      p += 2;
      continue;
    }
    const char *q = p + 1;
    if (*q == 'l') q++;
    char kind = *q;
    if ((kind == 's' || kind == 'u' || kind == 'd' || kind == 'i') && next < count) {
      const UiArg &arg = args[next++];
      char number[32];
      const char *text = arg.text;
      if (!text) {
        if (kind == 'u')
          StrPrintf(number, sizeof(number), "%llu", (unsigned long long)arg.number);
        else
          StrPrintf(number, sizeof(number), "%lld", (long long)arg.number);
        text = number;
      }
      Put(out, size, &at, text, (size_t)-1);
      p = q + 1;
    } else {
      Put(out, size, &at, p++, 1);  // not ours: copy the '%' and go on
    }
  }
}

void UiFormatInserts(char *out, size_t size, const char *format, const char *const *inserts, int count) {
  if (!out || size == 0) return;
  size_t at = 0;
  out[0] = '\0';
  const char *p = format ? format : "";
  while (*p) {
    if (*p == '%' && p[1] >= '1' && p[1] <= '9') {
      int index = 0;
      const char *q = p + 1;
      while (*q >= '0' && *q <= '9' && index < 100) index = index * 10 + (*q++ - '0');
      if (*q == '!') {  // a printf-style format of the insert: the text already is the value
        const char *end = strchr(q + 1, '!');
        if (end) q = end + 1;
      }
      if (index >= 1 && index <= count && inserts[index - 1]) Put(out, size, &at, inserts[index - 1], (size_t)-1);
      p = q;
    } else if (*p == '%' && p[1] == '%') {
      Put(out, size, &at, "%", 1);
      p += 2;
    } else if (*p == '%' && p[1] == 'n') {
      Put(out, size, &at, "\n", 1);
      p += 2;
    } else {
      Put(out, size, &at, p++, 1);
    }
  }
}
