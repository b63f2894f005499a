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
  LANG_OK = 0,
  LANG_YES = 1,
  LANG_NO = 2,
  LANG_CANCEL = 3,
  LANG_CLOSE = 4,
  LANG_NEXT = 5,
  LANG_EXTRACT = 6,
  LANG_INFO = 7,
  LANG_HELP = 8,
  LANG_BROWSE = 9,              // "..."
  LANG_CHOOSE_FOLDER = 10,
  LANG_OVERWRITE_ALL = 11,      // "&Overwrite existing files without asking"
  LANG_RUN_AFTER = 12,          // "Run '%s' after extraction."
  LANG_SUMMARY = 13,  // "%s: %lu file(s)/folder(s) extracted/tested."
  LANG_INSTRUCTION = 14,        // "Enter the folder into which the files are to be extracted, ..."
  LANG_HELP_TEXT = 15,          // "This program extracts the files it contains ..."
  LANG_OW_TITLE = 16,           // "Confirm file replace"
  LANG_OW_EXISTS = 17,          // "This folder already contains a file named '%1'."
  LANG_OW_REPLACE = 18,         // "Would you like to replace the existing file"
  LANG_OW_WITH = 19,            // "with this one?"
  LANG_OW_SIZE_BYTES = 20,      // "%3!d! bytes\nmodified on %1, %2"
  LANG_OW_SIZE_KB = 21,         // "%3!d! KB\nmodified on %1, %2"
  LANG_YES_TO_ALL = 22,
  LANG_PW_TITLE = 23,           // "Password required"
  LANG_PW_PROMPT = 24,          // "Access to the file %s is protected by a password. ..."
  LANG_PW_WRONG = 25,
  LANG_PW_LABEL = 26,           // "Password"
  LANG_DISK_TITLE = 27,         // "Insert new disk"
  LANG_DISK_PROMPT = 28,        // "Please insert disk %u into drive %s or enter a new path."
  LANG_DISK_PROMPT_LAST = 29,   // "Please insert the last disk into drive %s or enter a new path."
  LANG_BROWSE_PROMPT = 30,      // "Choose the folder into which the files are to be extracted."
  LANG_STATUS_EXTRACTING = 31,  // "Extracting file:"
  LANG_STATUS_TESTING = 32,     // "Testing file:"
  LANG_STATUS_CREATING = 33,    // "Creating folder:"
  LANG_FILE_INFO = 34,          // "File: %s\nFolder: %s\nArchive: %s\nVersion: %s"
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
  LANG_NOTE = 45,
  LANG_WARNING = 46,
  LANG_ABOUT = 47,              // "Kivrel Self Extractor\nSelf-extracting ZIP archive for Windows. ..."
  LANG_DONE = 48,
  LANG_TARGET_FOLDER = 49,      // "Target folder:"
  LANG_INFORMATION = 50,
  LANG_HELP_TITLE = 51,         // "Help"
  LANG_TITLE = 52,              // "Kivrel Self Extractor - %s"
  LANG_COMPLETE = 53,           // "Extraction complete."
  LANG_ERR_CREATE_FOLDER = 54,  // "The target folder could not be created."
  LANG_ERR_FOLDER_INVALID = 55, // "The target folder is not valid."
  LANG_ERR_FOLDER_EMPTY = 56,   // "Please enter a target folder."
  LANG_ERR_OPEN = 57,
  LANG_ERR_WRITE = 58,
  LANG_ERR_READ = 59,
  LANG_ERR_METHOD = 60,         // "The compression method is not supported."
  LANG_ERR_ENCRYPTION = 61,     // "The kind of encryption is not supported."
  LANG_ERR_DISK_MISSING = 62,   // "The disk could not be found."
  LANG_PLEASE_WAIT = 63,
  LANG_UNIT_BYTES = 64,
  LANG_UNIT_KB = 65,
  LANG_UNIT_MB = 66,
  LANG_LABEL_FILE = 67,
  LANG_LABEL_SIZE = 68,
  LANG_LABEL_MODIFIED = 69,     // "Modified on"
  LANG_LABEL_FOLDER = 70,
  LANG_LABEL_ARCHIVE = 71,
  LANG_LABEL_VERSION = 72,
  LANG_LANGUAGE_NAME = 73,      // "English"
};
static_assert(LANG_LANGUAGE_NAME + 1 == LANG_STRING_COUNT, "every language string has a name");

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
