#include "cp1252.h"

#include <cstdio>

namespace {

// Code points of bytes 0x80..0x9F; 0 where the code page has no character.
const uint16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                            0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

int ToByte(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return (int)cp;
  for (int i = 0; i < 32; ++i)
    if (kHigh[i] != 0 && kHigh[i] == cp) return 0x80 + i;
  return -1;
}

// Decodes one well-formed UTF-8 sequence at s[i]; returns its length or 0.
size_t Decode(const std::string &s, size_t i, uint32_t *cp) {
  unsigned char c = (unsigned char)s[i];
  size_t n;
  uint32_t min;
  if (c < 0x80) {
    *cp = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    n = 2, *cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3, *cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4, *cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    unsigned char t = (unsigned char)s[i + k];
    if ((t & 0xC0) != 0x80) return 0;
    *cp = *cp << 6 | (t & 0x3F);
  }
  if (*cp < min || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

bool Utf8ToCp1252(std::string *text, Cp1252Failure *failure) {
  size_t start = text->compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  bool beyondAscii = false;
  uint32_t cp;
  for (size_t i = start, n; i < text->size(); i += n) {
    n = Decode(*text, i, &cp);
    if (n == 0) return true;  // not UTF-8: Windows-1252 already
    beyondAscii |= cp >= 0x80;
  }
  if (!beyondAscii && start == 0) return true;
  std::string out;
  size_t character = 0;
  for (size_t i = start, n; i < text->size(); i += n) {
    n = Decode(*text, i, &cp);
    ++character;
    int b = ToByte(cp);
    if (b < 0) {
      *failure = {character, i - start, cp};
      return false;
    }
    out += (char)b;
  }
  *text = out;
  return true;
}

TextStorage ClassifyText(const std::string &text, Cp1252Failure *failure) {
  size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  uint32_t cp;
  size_t character = 0;
  bool utf8 = true;
  for (size_t i = start, n; i < text.size() && utf8; i += n) {
    n = Decode(text, i, &cp);
    utf8 = n != 0;
  }
  if (utf8) {
    for (size_t i = start, n; i < text.size(); i += n) {
      n = Decode(text, i, &cp);
      ++character;
      if (ToByte(cp) < 0) {
        *failure = {character, i - start, cp};
        return TextStorage::Utf8Only;
      }
    }
    return TextStorage::Cp1252;
  }
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = (unsigned char)text[i];
    if (c >= 0x80 && c < 0xA0 && kHigh[c - 0x80] == 0) {
      *failure = {i + 1, i, c};
      return TextStorage::Neither;
    }
  }
  return TextStorage::Cp1252;
}

std::string TextAsUtf8(const std::string &text) {
  uint32_t cp;
  bool utf8 = true;
  for (size_t i = 0, n; i < text.size() && utf8; i += n) {
    n = Decode(text, i, &cp);
    utf8 = n != 0;
  }
  if (utf8) return text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? text.substr(3) : text;
  return Cp1252AsUtf8(text);
}

std::string Cp1252AsUtf8(const std::string &text) {
  uint32_t cp;
  std::string out;
  for (unsigned char c : text) {
    cp = c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : c;
    if (cp < 0x80) {
      out += (char)cp;
    } else if (cp < 0x800) {
      out += (char)(0xC0 | cp >> 6);
      out += (char)(0x80 | (cp & 0x3F));
    } else {
      out += (char)(0xE0 | cp >> 12);
      out += (char)(0x80 | (cp >> 6 & 0x3F));
      out += (char)(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::string Cp1252FailureText(const Cp1252Failure &f) {
  char buffer[96];
  snprintf(buffer, sizeof buffer, "character %zu (U+%04X, byte %zu)", f.character, (unsigned)f.codePoint, f.byte);
  return buffer;
}
