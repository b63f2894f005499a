// The metadata block behind the stub: finding it in the program's own file,
// unpacking the language text, reading the installer settings and deriving
// the run-time flags; plus the four fixed start-up messages.
#ifndef KV_SFX_META_H
#define KV_SFX_META_H

#include <cstddef>
#include <cstdint>

#include "sfx_state.h"

// Block layout: "KV5SFX", u32 format version, u32 revision, u32 language
// length, the language text, then the seventeen settings. Integers are
// little-endian; text fields are a u32 length and that many bytes.
constexpr char SFX_MAGIC[] = "KV5SFX";
constexpr uint32_t SFX_MAGIC_SIZE = 6;
constexpr uint32_t SFX_FORMAT_VERSION = 110798;
constexpr uint32_t SFX_REVISION = 5;  // what the builder writes; smaller is refused
constexpr uint32_t SFX_HEADER_SIZE = 18;
constexpr uint32_t SFX_LANG_MAX = 65535;
// Bit 2 of reservedC: the language text and the text settings are UTF-8
// (without it, Windows-1252).
constexpr uint32_t SFX_FLAG_TEXTS_UTF8 = 4;
// The scan reads at most one window from a fixed offset, so the stub (padded
// to SFX_SCAN_OFFSET when shorter) must leave the block inside it.
constexpr uint32_t SFX_SCAN_OFFSET = 50000;
constexpr uint32_t SFX_SCAN_WINDOW = 1048576;

// Start-up codes: the process exit codes of a failed start.
constexpr int SFX_NO_MEMORY = 7;
constexpr int SFX_NO_TEMP = 5;
constexpr int SFX_NOT_FOUND = -1;
constexpr int SFX_BAD_LANGUAGE = -2;

// One setting in stored order: a u32 or a text field with the number of
// bytes it keeps; offset is its place in SfxSettings.
enum SfxFieldKind { SFX_FIELD_U32, SFX_FIELD_TEXT };
struct SfxField {
  const char *name;
  SfxFieldKind kind;
  uint32_t limit;  // text fields: bytes kept (the buffer is larger)
  size_t offset;
};
constexpr int SFX_FIELD_COUNT = 17;
extern const SfxField kSfxFields[SFX_FIELD_COUNT];

inline uint32_t *SfxFieldU32(SfxSettings *s, const SfxField &f) {
  return (uint32_t *)((char *)s + f.offset);
}
inline char *SfxFieldText(SfxSettings *s, const SfxField &f) { return (char *)s + f.offset; }

// Index of the first accepted candidate in the n bytes of buf, or -1. A
// candidate needs the magic, the format version, a revision of at least 5
// and a language length of 1..65535, all within the buffer's first n - 1
// bytes (positions i < n - 18).
int64_t SfxScanBlock(const unsigned char *buf, size_t n);

// Where the block was found and how it was laid out.
struct SfxBlockInfo {
  int64_t blockOffset;  // file offset of the magic
  uint32_t revision;
  uint32_t langLength;
  int64_t settingsEnd;  // file offset after the last setting read
};

// Reads the block of the file at g_programPath into g_settings and
// g_langTable without showing anything and without the derivations.
// Returns 0 or a start-up code (7, 5, -1, -2). info may be null.
int SfxReadBlock(SfxBlockInfo *info);

// The derivations of modes 0 and 2 and the start-up message flag.
void SfxDeriveSettings();

// The whole start-up read: SfxReadBlock, the fixed message on failure, the
// derivations. Returns 0 or the start-up code that was shown.
int ReadSfxMeta();

// Splits "command|parameters" at the first bar (see sfx_meta.cpp).
void SplitCommand(char *command, char *parameters, size_t size);

// The fixed bilingual text of a start-up code ("" for any other code).
const char *StartupErrorText(int code);
// Shows that text through the installed sink and returns code unchanged.
int ShowStartupError(int code);
// The entry point installs the platform's way of showing it (a message box,
// or standard error); without a sink nothing is shown.
typedef void (*StartupErrorSink)(const char *text);
void SetStartupErrorSink(StartupErrorSink sink);

#endif
