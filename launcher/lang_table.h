// The language string table: 74 strings loaded once from the language INI
// text that the metadata block carries.
#ifndef KV_LANG_TABLE_H
#define KV_LANG_TABLE_H

#include <cstddef>
#include <cstdint>

#include "sfx_state.h"

constexpr uint32_t LANG_VALUE_BUF = 2048;  // a value keeps at most 2047 characters

// Reads one value: the profile API over a file, or the project's reader over
// a buffer. Returns the length copied ("" and 0 when absent).
typedef uint32_t (*LangLookupFn)(void *source, const char *section, const char *key, char *out, uint32_t size);

// Fills table[0..73] from source: description "0" must be non-empty, every
// string 0..73 present and non-empty, string 34 must hold "%s" exactly four
// times. A slot that already holds a string is freed before it is replaced.
// Returns 1, or 0 at the first failure; *failedString (if given) is the
// number of the missing string, -1 for the description, 34 for the count,
// -2 for an allocation failure.
int LangTableFill(char **table, LangLookupFn lookup, void *source, int *failedString);

// The launcher's load: fills g_langTable from the INI file at iniPath.
int LoadLangTable(const char *iniPath);

// Rewrites "\n" as CR LF and "\t" as a tab, in place; every other backslash
// stays. The result is never longer than the input.
void ExpandEscapes(char *text);

// 1 if g_langTable[number] holds "%s" exactly `expected` times.
int CountPercentS(int number, int expected);
int CountPercentSIn(const char *text, int expected);

// Frees every string of table and clears the slots (for tools and tests; the
// self-extractor keeps its strings until it ends).
void LangTableFree(char **table);

#endif
