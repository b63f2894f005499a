// Process-wide state of the self-extractor, owned by the launcher: the
// installer settings read from the metadata block, the language strings and
// the run-time flags derived from them.
#ifndef KV_SFX_STATE_H
#define KV_SFX_STATE_H

#include <cstdint>

#include "../fileio/kv_base.h"

constexpr int LANG_STRING_COUNT = 74;

// Language strings the code picks by meaning; the number is the string's key
// in the language files.
enum : int {
  LANG_SUMMARY = 13,  // "%s: %lu file(s)/folder(s) extracted/tested."
  LANG_ERR_CRC = 35,
  LANG_ERR_ACCESS = 36,
  LANG_ERR_NOT_ARCHIVE = 37,
  LANG_ERR_NO_MEMORY = 38,
  LANG_ERR_INVALID_DATA = 39,
  LANG_ERR_PASSWORD = 40,
  LANG_ERR_DISK_FULL = 41,
  LANG_ERR_CANCELLED = 42,
  LANG_ERR_RUN_FAILED = 43,  // "The file '%s' could not be run."
  LANG_ERR_OTHER = 44,       // "Error (%u) in %s."
};

// The seventeen settings in their stored order; text buffers are one byte
// larger than what they keep (path-like fields PATH_BUF_SIZE).
struct SfxSettings {
  uint32_t mode;
  uint32_t reservedA;
  uint32_t reservedB;
  char premessageCaption[256];
  char premessageText[4096];
  uint32_t premessageType;
  char infoText[256];
  char targetFolder[PATH_BUF_SIZE];
  char runCommand[PATH_BUF_SIZE];
  uint32_t overwriteOption;
  uint32_t unattended;
  char reservedText1[256];
  char mode2Command[PATH_BUF_SIZE];
  char reservedText2[PATH_BUF_SIZE];
  char reservedText3[256];
  uint32_t reservedC;
  uint32_t reservedD;
};

// Launcher-owned globals (one thread; named so that every use is visible).
extern SfxSettings g_settings;
extern char *g_langTable[LANG_STRING_COUNT];  // heap copies, never freed
extern char g_programPath[PATH_BUF_SIZE];
extern void *g_instance;  // the executable's instance handle (Windows), for templates and icons
extern char g_runParameters[PATH_BUF_SIZE];
extern int g_overwriteAll;
extern int g_premessagePending;
extern int g_lastError;
extern int g_fileCount;
extern char g_entryName[PATH_BUF_SIZE];  // the entry being processed, for end messages
extern volatile int g_cancelRequested;

// String k of the language table, or "" before the table is loaded.
const char *LangString(int k);

#endif
