// Texts for the metadata block: both stubs read Windows-1252, while the
// command line, settings and language files of a build host are UTF-8.
#ifndef KV_CP1252_H
#define KV_CP1252_H

#include <cstddef>
#include <cstdint>
#include <string>

struct Cp1252Failure {
  size_t character;  // 1-based position of the character that has no place
  size_t byte;       // its byte offset in the UTF-8 text
  uint32_t codePoint;
};

// Converts text in place when it is well-formed UTF-8 with characters beyond
// ASCII (a leading byte-order mark is dropped). Text that is not UTF-8 is
// taken to be Windows-1252 already and kept. Returns false, text unchanged,
// when a character has no Windows-1252 form; *failure says which.
bool Utf8ToCp1252(std::string *text, Cp1252Failure *failure);

// "character 7 (U+4E2D, byte 6)" for messages.
std::string Cp1252FailureText(const Cp1252Failure &failure);

#endif
