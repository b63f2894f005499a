// Line-based INI lookup over a buffer; see ini_reader.h for the rules.
#include "ini_reader.h"

#include <cstdlib>
#include <cstring>

#include "file_io.h"

namespace {

// The profile API counts ^Z (an old end-of-file mark) as a blank too.
bool IsBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x1a;
}

// Names are ASCII in every file the program reads; bytes above 127 are left
// alone so that multi-byte text is never folded into something else.
unsigned char FoldCase(unsigned char c) { return (c >= 'a' && c <= 'z') ? (unsigned char)(c - 32) : c; }

struct Span {
  const char *p;
  size_t n;
};

Span TrimSpan(const char *p, size_t n) {
  while (n > 0 && IsBlank((unsigned char)*p)) {
    ++p;
    --n;
  }
  while (n > 0 && IsBlank((unsigned char)p[n - 1])) --n;
  return Span{p, n};
}

bool NameEquals(Span a, Span b) {
  if (a.n != b.n) return false;
  for (size_t i = 0; i < a.n; ++i)
    if (FoldCase((unsigned char)a.p[i]) != FoldCase((unsigned char)b.p[i])) return false;
  return true;
}

// One logical line of the text after trimming; kind tells what it holds.
enum LineKind { LINE_EMPTY, LINE_SECTION, LINE_KEY };
struct IniLine {
  LineKind kind;
  Span name;      // section or key name
  Span value;     // key lines with "=" only
  bool hasValue;
};

// Reads the line at *pos and advances past its line end(s).
IniLine NextLine(const char *text, size_t length, size_t *pos) {
  size_t start = *pos, end = start;
  while (end < length && text[end] != '\n' && text[end] != '\r') ++end;
  size_t next = end;
  while (next < length && (text[next] == '\n' || text[next] == '\r')) ++next;
  *pos = next;

  IniLine line = {LINE_EMPTY, {text + start, 0}, {text + start, 0}, false};
  Span whole = TrimSpan(text + start, end - start);
  if (whole.n == 0) return line;
  if (whole.p[0] == '[') {
    // The name ends at the line's last "]", as the profile API reads it.
    size_t close = whole.n - 1;
    while (close > 0 && whole.p[close] != ']') --close;
    if (close > 0) {
      // Blanks and tabs inside the brackets are no part of the name either.
      line.kind = LINE_SECTION;
      line.name = TrimSpan(whole.p + 1, close - 1);
      return line;
    }
    // "[" without "]" is an ordinary key line, as the profile API treats it.
  }
  line.kind = LINE_KEY;
  const void *eq = memchr(whole.p, '=', whole.n);
  if (!eq) {
    line.name = whole;
    return line;
  }
  size_t nameLength = (size_t)((const char *)eq - whole.p);
  line.name = TrimSpan(whole.p, nameLength);
  line.value = TrimSpan(whole.p + nameLength + 1, whole.n - nameLength - 1);
  line.hasValue = true;
  return line;
}

Span QuerySpan(const char *name) { return TrimSpan(name ? name : "", name ? strlen(name) : 0); }

// Walks the key lines of the first section called `section`; calls visit for
// each until it returns false. Keys in front of every section header belong
// to the section with the empty name.
template <typename Visit>
void WalkSection(const char *text, size_t length, const char *section, Visit visit) {
  if (!text) return;
  Span wanted = QuerySpan(section);
  bool inside = wanted.n == 0;
  bool seen = inside;
  // A UTF-8 byte order mark in front of the text is no part of its first line.
  size_t pos = length >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
  while (pos < length) {
    IniLine line = NextLine(text, length, &pos);
    if (line.kind == LINE_SECTION) {
      if (inside) return;  // only the first section of that name counts
      if (!seen && NameEquals(line.name, wanted)) inside = seen = true;
      continue;
    }
    if (line.kind == LINE_KEY && inside && !visit(line)) return;
  }
}

uint32_t CopyOut(const char *p, size_t n, char *out, uint32_t size) {
  if (!out || size == 0) return 0;
  if (n > size - 1) n = size - 1;
  memcpy(out, p, n);
  out[n] = '\0';
  return (uint32_t)n;
}

}  // namespace

uint32_t IniLookup(const char *text, size_t length, const char *section, const char *key,
                   const char *defaultValue, char *out, uint32_t size) {
  Span wanted = QuerySpan(key);
  bool found = false;
  Span value = {"", 0};
  WalkSection(text, length, section, [&](const IniLine &line) {
    if (!NameEquals(line.name, wanted)) return true;
    found = line.hasValue;
    value = line.value;
    return false;  // the first key of that name wins, even without a value
  });
  if (!found) {
    const char *def = defaultValue ? defaultValue : "";
    size_t n = strlen(def);
    while (n > 0 && def[n - 1] == ' ') --n;  // the profile API drops them too
    return CopyOut(def, n, out, size);
  }
  // A stored NUL ends the value as it would end a C string.
  const void *nul = memchr(value.p, '\0', value.n);
  if (nul) value.n = (size_t)((const char *)nul - value.p);
  if (value.n >= 2 && (value.p[0] == '"' || value.p[0] == '\'') && value.p[value.n - 1] == value.p[0]) {
    ++value.p;
    value.n -= 2;
  }
  return CopyOut(value.p, value.n, out, size);
}

int IniForEachKey(const char *text, size_t length, const char *section,
                  int (*visit)(void *user, const char *name, size_t nameLength), void *user) {
  int result = 1;
  WalkSection(text, length, section, [&](const IniLine &line) {
    if (visit(user, line.name.p, line.name.n)) return true;
    result = 0;
    return false;
  });
  return result;
}

uint32_t IniLookupFile(const char *path, const char *section, const char *key, const char *defaultValue,
                       char *out, uint32_t size) {
  char *text = nullptr;
  size_t length = 0;
  FileHandle h = FileOpen(path, "rb");
  if (h != INVALID_FILE) {
    int64_t fileSize = FileGetSize(h);
    if (fileSize >= 0) {
      size_t want = fileSize > (int64_t)INI_FILE_MAX ? INI_FILE_MAX : (size_t)fileSize;
      text = (char *)malloc(want ? want : 1);
      while (text && length < want) {
        int32_t got = FileRead(h, text + length, (uint32_t)(want - length));
        if (got <= 0) break;
        length += (size_t)got;
      }
    }
    FileClose(h);
  }
  uint32_t result = IniLookup(text, text ? length : 0, section, key, defaultValue, out, size);
  free(text);
  return result;
}
