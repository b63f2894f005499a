// Names that Windows keeps for devices. A file named so can't be created:
// opening "NUL.txt" or "sub\CON" reaches the device instead, so such an entry
// would vanish or stop the run. A '_' in front makes it an ordinary name
// there; other systems keep no such names, and their files keep theirs.
#include <cstring>

#include "../fileio/platform.h"
#include "zip_job.h"

namespace {

bool SameLetters(const char *text, size_t length, const char *upper) {
  if (strlen(upper) != length) return false;
  for (size_t i = 0; i < length; i++) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
    if (c != upper[i]) return false;
  }
  return true;
}

// The digit of COMn and LPTn: 1 to 9, or a superscript one, two or three,
// as one byte of the Windows code page or as its UTF-8 sequence.
bool IsPortDigit(const char *p, size_t length) {
  unsigned char c = (unsigned char)p[0];
  if (length == 1) return (c >= '1' && c <= '9') || c == 0xB9 || c == 0xB2 || c == 0xB3;
  unsigned char d = (unsigned char)p[1];
  return length == 2 && c == 0xC2 && (d == 0xB9 || d == 0xB2 || d == 0xB3);
}

}  // namespace

// The part before the first dot, without trailing blanks, decides.
bool IsDeviceName(const char *start, size_t length) {
  char first = (char)(start[0] | 0x20);  // every device name starts with one of these letters
  if (first != 'c' && first != 'p' && first != 'a' && first != 'n' && first != 'l') return false;
  size_t n = 0;
  while (n < length && start[n] != '.') n++;
  while (n > 0 && start[n - 1] == ' ') n--;
  if (n < 3 || n > 7) return false;  // no device name is shorter or longer
  static const char *const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char *name : kNames)
    if (SameLetters(start, n, name)) return true;
  return n >= 4 && (SameLetters(start, 3, "COM") || SameLetters(start, 3, "LPT")) && IsPortDigit(start + 3, n - 3);
}

void PrefixDeviceNames(char *name, size_t size) {
  if (!name || size == 0) return;
  // Most names hold no device name: they stay as they are when they fit.
  const char *q = name;
  bool device = false;
  while (*q && !device) {
    const char *start = q;
    while (*q && *q != '\\') q = TextNext(q);
    device = q > start && IsDeviceName(start, (size_t)(q - start));
    if (*q) q++;
  }
  size_t length = (size_t)(q - name);
  if (!device && length < size && length + 1 < PATH_BUF_SIZE) return;
  char out[PATH_BUF_SIZE];
  size_t len = 0;
  const char *p = name;
  while (*p) {
    const char *start = p;
    while (*p && *p != '\\') p = TextNext(p);
    size_t n = (size_t)(p - start);
    if (n && IsDeviceName(start, n) && len + 1 < sizeof out) out[len++] = '_';
    for (size_t i = 0; i < n && len + 1 < sizeof out; i++) out[len++] = start[i];
    if (*p && len + 1 < sizeof out) out[len++] = *p++;
  }
  out[len] = '\0';
  StrCopy(name, out, size);
}
