// Texts for the metadata block: the stubs read Windows-1252, or UTF-8 when
// bit 2 of reservedC is set; the command line, settings and language files
// of a build host are UTF-8 (or Windows-1252 in older files).
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

// How a text can be stored: in Windows-1252 (well-formed UTF-8 whose every
// character has a Windows-1252 form, or text that is no UTF-8 but holds no
// byte Windows-1252 leaves undefined), only in UTF-8 (a character beyond
// Windows-1252; *failure names the first), or neither (*failure names the
// first byte that is no Windows-1252 character; codePoint is that byte).
enum class TextStorage { Cp1252, Utf8Only, Neither };
TextStorage ClassifyText(const std::string &text, Cp1252Failure *failure);

// The text in UTF-8: UTF-8 stays (a leading byte-order mark is dropped),
// other text is taken as Windows-1252. Call on texts ClassifyText accepts.
std::string TextAsUtf8(const std::string &text);
// Windows-1252 text (every byte a character) in UTF-8.
std::string Cp1252AsUtf8(const std::string &text);

// "character 7 (U+4E2D, byte 6)" for messages.
std::string Cp1252FailureText(const Cp1252Failure &failure);

#endif
