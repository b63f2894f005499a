// The project's own INI reader over a text in memory, with the lookup rules of
// the Windows profile API: section and key names compared without regard to
// case, blanks dropped around "=" and at both ends of a value, one pair of
// enclosing quotation marks (double or single) dropped, the value cut to
// size - 1, the first matching section and the first matching key in it win.
// Lines end in CR, LF or any run of them; a section name runs from "[" to
// the last "]" of its line, without the blanks and tabs at its ends; a UTF-8
// byte order mark at the very start is skipped. Keys are compared literally, so
// "07" is not "7". A line without "=" names a key without a value, which
// yields the default.
#ifndef KV_INI_READER_H
#define KV_INI_READER_H

#include <cstddef>
#include <cstdint>

// Copies the value of [section] key into out (cut to size - 1, terminated) and
// returns its length; copies the default (without its trailing blanks) when
// the key is absent or has no value. Never reads past text + length.
uint32_t IniLookup(const char *text, size_t length, const char *section, const char *key,
                   const char *defaultValue, char *out, uint32_t size);

// Calls visit once for every key line of the first [section], in file order,
// with the key's name (not terminated: name, nameLength). Stops early and
// returns 0 when visit returns 0; returns 1 otherwise (also when the section
// is missing).
int IniForEachKey(const char *text, size_t length, const char *section,
                  int (*visit)(void *user, const char *name, size_t nameLength), void *user);

// IniLookup over a whole file (at most INI_FILE_MAX bytes of it are read).
// Returns the length copied; the default when the file can't be read.
constexpr uint32_t INI_FILE_MAX = 16u * 1024 * 1024;
uint32_t IniLookupFile(const char *path, const char *section, const char *key, const char *defaultValue,
                       char *out, uint32_t size);

#endif
