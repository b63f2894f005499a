#include "kv_base.h"

#include <cstring>

void StrCopy(char *dest, const char *src, size_t size) { StrCopyN(dest, src, (size_t)-1, size); }

void StrCopyN(char *dest, const char *src, size_t count, size_t size) {
  if (!dest || size == 0) return;
  size_t n = 0;
  if (src) {
    // One bounded scan and one block copy: names pass through here many
    // times per entry.
    n = strnlen(src, count < size - 1 ? count : size - 1);
    memmove(dest, src, n);
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

namespace {
struct Sink {
  char *dest;
  size_t size, at;
  void Put(char c) {
    if (at + 1 < size) dest[at++] = c;
  }
};

void PutNumber(Sink *out, unsigned long long value, bool negative, unsigned base, bool upper, size_t width, char pad) {
  char digits[24];
  size_t n = 0;
  do {
    unsigned d = (unsigned)(value % base);
    digits[n++] = (char)(d < 10 ? '0' + d : (upper ? 'A' : 'a') + d - 10);
    value /= base;
  } while (value);
  size_t len = n + (negative ? 1 : 0);
  if (negative && pad == '0') out->Put('-');
  for (; len < width; len++) out->Put(pad);
  if (negative && pad != '0') out->Put('-');
  while (n) out->Put(digits[--n]);
}
}  // namespace

// A small formatter of its own: the program needs only %s %c %d %i %u %x %X
// with an optional width and the l, ll and z sizes, and the C library's full
// printf would triple the size of the Windows stub.
void StrPrintfV(char *dest, size_t size, const char *format, va_list args) {
  if (!dest || size == 0) return;
  Sink out{dest, size, 0};
  for (const char *p = format ? format : ""; *p; p++) {
    if (*p != '%') {
      out.Put(*p);
      continue;
    }
    const char *spec = p++;
    char pad = ' ';
    bool left = false;
    if (*p == '-') left = true, p++;
    if (*p == '0') pad = '0', p++;
    size_t width = 0;
    while (*p >= '0' && *p <= '9') width = width * 10 + (size_t)(*p++ - '0');
    int longs = 0;
    bool sizeT = false;
    while (*p == 'l') longs++, p++;
    if (*p == 'z') sizeT = true, p++;
    switch (*p) {
      case '%':
        out.Put('%');
        break;
      case 'c':
        out.Put((char)va_arg(args, int));
        break;
      case 's': {
        const char *text = va_arg(args, const char *);
        if (!text) text = "(null)";
        size_t len = strlen(text);
        if (!left)
          for (size_t k = len; k < width; k++) out.Put(' ');
        while (*text) out.Put(*text++);
        if (left)
          for (size_t k = len; k < width; k++) out.Put(' ');
        break;
      }
      case 'd':
      case 'i': {
        long long v = sizeT ? (long long)va_arg(args, ptrdiff_t)
                      : longs >= 2 ? va_arg(args, long long)
                      : longs == 1 ? (long long)va_arg(args, long)
                                   : (long long)va_arg(args, int);
        unsigned long long magnitude = v < 0 ? 0ull - (unsigned long long)v : (unsigned long long)v;
        PutNumber(&out, magnitude, v < 0, 10, false, width, pad);
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        unsigned long long v = sizeT ? (unsigned long long)va_arg(args, size_t)
                               : longs >= 2 ? va_arg(args, unsigned long long)
                               : longs == 1 ? (unsigned long long)va_arg(args, unsigned long)
                                            : (unsigned long long)va_arg(args, unsigned);
        PutNumber(&out, v, false, *p == 'u' ? 10 : 16, *p == 'X', width, pad);
        break;
      }
      default:  // not a conversion this program uses: copy it as it stands
        for (const char *q = spec; q <= p && *q; q++) out.Put(*q);
        if (!*p) p--;
        break;
    }
  }
  dest[out.at] = '\0';
}

void StrPrintf(char *dest, size_t size, const char *format, ...) {
  va_list args;
  va_start(args, format);
  StrPrintfV(dest, size, format, args);
  va_end(args);
}
