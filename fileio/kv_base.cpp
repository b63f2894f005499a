#include "kv_base.h"

#include <cstdio>
#include <cstring>

void StrCopy(char *dest, const char *src, size_t size) { StrCopyN(dest, src, (size_t)-1, size); }

void StrCopyN(char *dest, const char *src, size_t count, size_t size) {
  if (!dest || size == 0) return;
  size_t n = 0;
  if (src) {
    while (n + 1 < size && n < count && src[n]) {
      dest[n] = src[n];
      n++;
    }
  }
  dest[n] = '\0';
}

void StrAppend(char *dest, const char *src, size_t size) {
  if (!dest || size == 0) return;
  size_t len = strnlen(dest, size);
  if (len >= size) {  // not terminated within the buffer: terminate at its end
    dest[size - 1] = '\0';
    return;
  }
  StrCopy(dest + len, src, size - len);
}

void StrPrintfV(char *dest, size_t size, const char *format, va_list args) {
  if (!dest || size == 0) return;
  int r = vsnprintf(dest, size, format ? format : "", args);
  if (r < 0) dest[0] = '\0';
  dest[size - 1] = '\0';
}

void StrPrintf(char *dest, size_t size, const char *format, ...) {
  va_list args;
  va_start(args, format);
  StrPrintfV(dest, size, format, args);
  va_end(args);
}
