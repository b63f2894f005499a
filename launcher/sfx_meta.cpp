// Start-up reading of the metadata block. The block's position is not stored
// anywhere: it is found by scanning one window of the program's own file for
// a header that passes every test, because the stub's image holds the magic
// bytes too (as the constant compared against here).
#include "sfx_meta.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "../fileio/file_excl.h"
#include "../fileio/file_io.h"
#include "../fileio/path.h"
#include "../fileio/platform.h"
#include "folder_macro.h"
#include "lang_table.h"

#define KV_U32(field) {#field, SFX_FIELD_U32, 4, offsetof(SfxSettings, field)}
#define KV_TEXT(field, limit) {#field, SFX_FIELD_TEXT, limit, offsetof(SfxSettings, field)}

const SfxField kSfxFields[SFX_FIELD_COUNT] = {
    KV_U32(mode),
    KV_U32(reservedA),
    KV_U32(reservedB),
    KV_TEXT(premessageCaption, 255),
    KV_TEXT(premessageText, 4095),
    KV_U32(premessageType),
    KV_TEXT(infoText, 255),
    KV_TEXT(targetFolder, 255),
    KV_TEXT(runCommand, 255),
    KV_U32(overwriteOption),
    KV_U32(unattended),
    KV_TEXT(reservedText1, 255),
    KV_TEXT(mode2Command, 255),
    KV_TEXT(reservedText2, 255),
    KV_TEXT(reservedText3, 255),
    KV_U32(reservedC),
    KV_U32(reservedD),
};

#undef KV_U32
#undef KV_TEXT

namespace {

StartupErrorSink g_startupErrorSink;

// Reads until count bytes arrived or the file delivers nothing more.
uint32_t ReadFull(FileHandle h, void *buffer, uint32_t count) {
  uint32_t done = 0;
  while (done < count) {
    int32_t got = FileRead(h, (unsigned char *)buffer + done, count - done);
    if (got <= 0) break;
    done += (uint32_t)got;
  }
  return done;
}

// A field that the file does not hold in full reads as 0.
uint32_t ReadU32(FileHandle h) {
  unsigned char b[4];
  return ReadFull(h, b, 4) == 4 ? GetU32(b) : 0;
}

// Creates the temporary copy of the language text under a fresh name in the
// temporary folder, never through an existing name. The names are drawn at
// random, so one planted by another user is hit only by chance; a few dozen
// tries outlast any such chance.
FileHandle CreateLangTemp(char *name) {
  char dir[PATH_BUF_SIZE];
  if (SysGetTempPath(dir, sizeof dir) == 0 || dir[0] == '\0') return INVALID_FILE;
  if (!DirExists(dir)) DirCreatePath(dir);
  for (int attempt = 0; attempt < 64; ++attempt) {
    if (!PathMakeTempName(dir, ".~cx", name, PATH_BUF_SIZE)) return INVALID_FILE;
    FileHandle h = FileCreateExclusive(name);
    if (h != INVALID_FILE) return h;
  }
  return INVALID_FILE;
}

// Writes the language text to temp in the program's code page; the profile
// functions read the copy back in that code page. A leading UTF-8 byte-order
// mark is no part of the text, whatever its code page (the profile reader
// skips it there too). Returns 1, 0 if a write failed, -1
// without memory for the conversion.
int WriteLangText(FileHandle temp, const unsigned char *text, uint32_t length, int utf8) {
  if (length >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
    text += 3;
    length -= 3;
  }
  // A Windows-1252 byte becomes at most three bytes of UTF-8 (a UTF-8 text
  // keeps its length); a NUL in the text would end the conversion, so the
  // text goes in NUL-free pieces.
  size_t outSize = (size_t)length * 3 + 1;
  char *out = (char *)malloc(outSize);
  if (!out) return -1;
  int ok = 1;
  for (uint32_t at = 0; at < length && ok;) {
    uint32_t piece = 0;
    while (at + piece < length && text[at + piece]) piece++;
    if (piece) {
      TextFromStored((const char *)text + at, piece, utf8, out, outSize);
      uint32_t n = (uint32_t)strlen(out);
      ok = FileWrite(temp, out, n) == (int32_t)n;
    }
    at += piece;
    if (at < length) {
      ok = ok && FileWrite(temp, text + at, 1) == 1;  // the NUL itself
      at++;
    }
  }
  free(out);
  return ok;
}

// Texts of the settings in the program's code page, each cut to its buffer.
void ConvertSettingsTexts(int utf8) {
  char stored[4096];
  for (const SfxField &f : kSfxFields) {
    if (f.kind != SFX_FIELD_TEXT) continue;
    char *text = SfxFieldText(&g_settings, f);
    StrCopy(stored, text, sizeof stored);
    TextFromStored(stored, strlen(stored), utf8, text, f.limit + 1);
  }
}

// Reads the seventeen settings in stored order. A stored length above a
// field's limit is cut to the limit and the next field follows directly
// behind the bytes kept.
void ReadSettings(FileHandle own) {
  for (const SfxField &f : kSfxFields) {
    if (f.kind == SFX_FIELD_U32) {
      *SfxFieldU32(&g_settings, f) = ReadU32(own);
      continue;
    }
    uint32_t length = ReadU32(own);
    if (length > f.limit) length = f.limit;
    if (length > 0) ReadFull(own, SfxFieldText(&g_settings, f), length);
  }
}

}  // namespace

int64_t SfxScanBlock(const unsigned char *buf, size_t n) {
  if (!buf || n <= SFX_HEADER_SIZE) return -1;
  for (size_t i = 0; i < n - SFX_HEADER_SIZE; ++i) {
    if (buf[i] != (unsigned char)SFX_MAGIC[0] || memcmp(buf + i, SFX_MAGIC, SFX_MAGIC_SIZE) != 0) continue;
    if (GetU32(buf + i + 6) != SFX_FORMAT_VERSION) continue;
    if (GetU32(buf + i + 10) < SFX_REVISION) continue;
    uint32_t langLength = GetU32(buf + i + 14);
    if (langLength == 0 || langLength > SFX_LANG_MAX) continue;
    return (int64_t)i;
  }
  return -1;
}

int SfxReadBlock(SfxBlockInfo *info) {
  memset(&g_settings, 0, sizeof g_settings);
  g_runParameters[0] = '\0';
  g_overwriteAll = 0;
  g_premessagePending = 0;
  if (info) memset(info, 0, sizeof *info);

  // Without its own file the program has nothing to load; "not found" is the
  // nearest of the fixed messages.
  FileHandle own = FileOpen(g_programPath, "rb");
  if (own == INVALID_FILE) return SFX_NOT_FOUND;
  int64_t size = FileGetSize(own);
  if (size < 0) {
    FileClose(own);
    return SFX_NOT_FOUND;
  }
  uint32_t window = size > (int64_t)SFX_SCAN_WINDOW ? SFX_SCAN_WINDOW : (uint32_t)size;
  unsigned char *buffer = (unsigned char *)malloc(window ? window : 1);
  if (!buffer) {
    FileClose(own);
    return SFX_NO_MEMORY;
  }
  uint32_t n = 0;
  if (FileSeek64(own, SFX_SCAN_OFFSET, FILE_BEGIN) == SFX_SCAN_OFFSET) n = ReadFull(own, buffer, window);
  int64_t found = SfxScanBlock(buffer, n);
  if (found < 0) {
    FileClose(own);
    free(buffer);
    return SFX_NOT_FOUND;
  }
  int64_t blockOffset = SFX_SCAN_OFFSET + found;
  uint32_t revision = GetU32(buffer + found + 10);
  uint32_t langLength = GetU32(buffer + found + 14);

  // The settings come first: bit 2 of reservedC says in which code page the
  // language text is stored.
  int64_t langStart = blockOffset + SFX_HEADER_SIZE;
  int64_t settingsEnd = 0;
  if (FileSeek64(own, langStart + langLength, FILE_BEGIN) == langStart + langLength) {
    ReadSettings(own);
    settingsEnd = FileTell(own);
  }
  const int utf8 = (g_settings.reservedC & SFX_FLAG_TEXTS_UTF8) != 0;

  char tempName[PATH_BUF_SIZE];
  FileHandle temp = CreateLangTemp(tempName);
  if (temp == INVALID_FILE) {
    FileClose(own);
    free(buffer);
    return SFX_NO_TEMP;
  }
  // A text cut short by the file's end is written as far as it goes.
  uint32_t got = 0;
  if (FileSeek64(own, langStart, FILE_BEGIN) == langStart)
    got = ReadFull(own, buffer, langLength < window ? langLength : window);
  int copied = WriteLangText(temp, buffer, got, utf8);
  FileClose(temp);
  free(buffer);
  FileClose(own);
  if (copied < 0) {
    FileDelete(tempName);
    return SFX_NO_MEMORY;
  }
  // A temporary file that can't be written is a temporary-folder failure.
  int loaded = copied && LoadLangTable(tempName);
  FileDelete(tempName);
  if (!copied || !loaded) return copied ? SFX_BAD_LANGUAGE : SFX_NO_TEMP;

  ConvertSettingsTexts(utf8);
  if (info) {
    info->blockOffset = blockOffset;
    info->revision = revision;
    info->langLength = langLength;
    info->settingsEnd = settingsEnd;
  }
  return 0;
}

void SplitCommand(char *command, char *parameters, size_t size) {
  if (!command) return;
  // By whole characters: '|' is also the second byte of some double-byte ones.
  char *bar = command;
  while (*bar && *bar != '|') bar = (char *)TextNext(bar);
  if (!*bar) return;
  StrCopy(parameters, bar + 1, size);
  // A text that begins with the bar stays whole: the command would be empty.
  if (bar != command) *bar = '\0';
}

void SfxDeriveSettings() {
  SfxSettings &s = g_settings;
  if (s.mode == 2) {
    SplitCommand(s.mode2Command, g_runParameters, sizeof g_runParameters);
    g_overwriteAll = 1;
  } else if (s.mode == 0) {
    SplitCommand(s.runCommand, g_runParameters, sizeof g_runParameters);
    char expanded[PATH_BUF_SIZE];
    // An unresolvable macro keeps the stored folder and derives nothing more.
    if (!ExpandFolderMacro(s.targetFolder, expanded, sizeof expanded)) return;
    if (expanded[0]) StrCopy(s.targetFolder, expanded, sizeof s.targetFolder);
    if (!s.targetFolder[0]) {
      PathGetDir(g_programPath, s.targetFolder, sizeof s.targetFolder);
      PathTrimBackslash(s.targetFolder);
    }
    if (s.overwriteOption || s.unattended) g_overwriteAll = 1;
  }
  if (s.premessageText[0]) g_premessagePending = 1;
}

int ReadSfxMeta() {
  int code = SfxReadBlock(nullptr);
  if (code != 0) return ShowStartupError(code);
  SfxDeriveSettings();
  return 0;
}

const char *StartupErrorText(int code) {
  switch (code) {
    case SFX_NO_MEMORY:
      return "Zuwenig Speicher.\n\nInsufficient memory.";
    case SFX_NO_TEMP:
      return "Der Zugriff auf den Temp-Ordner wurde verweigert.\n\nCould not access temp directory.";
    case SFX_NOT_FOUND:
      return "Kann Metadaten nicht finden.\n\nCould not locate meta data.";
    case SFX_BAD_LANGUAGE:
      return "Kann Metadaten f\xFCr Spracheinstellungen nicht finden.\n\nCould not locate meta data for language "
             "settings.";
    default:
      return "";
  }
}

int ShowStartupError(int code) {
  // The fixed texts are Windows-1252, like a block without bit 2.
  const char *fixed = StartupErrorText(code);
  char text[512];
  TextFromStored(fixed, strlen(fixed), 0, text, sizeof text);
  if (g_startupErrorSink) g_startupErrorSink(text);
  return code;
}

void SetStartupErrorSink(StartupErrorSink sink) { g_startupErrorSink = sink; }
