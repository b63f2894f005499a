// Records shared by the archive engine, the decoders and the user interface:
// the per-archive context, the extraction options, the callback table, the
// per-entry counters and the engine's error codes.
#ifndef KV_JOB_TYPES_H
#define KV_JOB_TYPES_H

#include <cstdint>

#include "../fileio/file_io.h"
#include "../fileio/kv_base.h"

// Outcome codes of a job; 0 is success.
enum : int32_t {
  KV_OK = 0,
  ERR_CANCELLED = 28001,
  ERR_FILE_ACCESS = 28002,
  ERR_NO_MEMORY = 28003,
  ERR_WRITE_FAILED = 28004,
  ERR_BAD_ARGUMENT = 28008,
  ERR_PATH_TOO_LONG = 28010,  // the output path would pass the 255-byte limit
  ERR_NAME_NOT_REPRESENTABLE = 28012,  // the system's code page has no exact form for an entry's name
  ERR_UNSUPPORTED = 28048,
  ERR_OUTPUT_IS_ARCHIVE = 28058,
  ERR_WRONG_PASSWORD = 28062,
  ERR_CRC = 28063,
  ERR_NOT_SUPPORTED = 28066,
  ERR_INVALID_DATA = 28080,
  ERR_NOT_AN_ARCHIVE = 28082,
  ERR_NO_END_RECORD = 28089,  // no valid end-of-central-directory record
  ERR_VOLUME_MISSING = 28149,
};

// An entry's encryption (EntryRecord and ArchiveContext encryptionKind).
enum : int32_t {
  ENCRYPTION_NONE = 0,
  ENCRYPTION_TRADITIONAL = 1,
  ENCRYPTION_AES128 = 2,
  ENCRYPTION_AES192 = 3,
  ENCRYPTION_AES256 = 4,
};
inline bool IsAesKind(int64_t kind) { return kind >= ENCRYPTION_AES128 && kind <= ENCRYPTION_AES256; }

constexpr uint32_t STREAM_BUF_SIZE = 65536;  // fewer piece ends, where decoding slows to careful steps
constexpr uint32_t READ_BUF_SIZE = 65536;
constexpr uint32_t PASSWORD_MAX = 250;  // what the prompt writes, terminator included

struct ArchiveContext {
  char destFolder[PATH_BUF_SIZE];   // always ends in a backslash
  char stripPrefix[PATH_BUF_SIZE];
  FileHandle volumeHandle;
  FileHandle outputHandle;
  char archivePath[PATH_BUF_SIZE];  // the volume holding the end record
  int32_t errorCode;
  int32_t archiveMissing;
  int32_t operation;                // 5 extracting, 6 testing
  int32_t testOnly;
  int32_t quietEntries;
  uint32_t currentDisk;
  uint32_t lastDisk;
  uint32_t passwordCheck;
  uint32_t passwordCheckAlt;        // a second accepted check value, 0 for none
  int32_t multiVolume;
  int32_t noDirectories;
  char *comment;
  uint32_t commentLength;
  char enteredPassword[PATH_BUF_SIZE];
  char password[PATH_BUF_SIZE];
  int32_t encryptionKind;           // 0 none, 1 traditional, 2..4 AES-128/192/256
};

constexpr uint32_t EXTRACT_OPTIONS_SIZE = 1432;

// The extraction settings record; its size field must equal its own size.
struct ExtractOptions {
  uint32_t size;
  int32_t continueOnError;
  int32_t keepPaths;
  char stripPrefix[PATH_BUF_SIZE];
  char destFolder[PATH_BUF_SIZE];
  int32_t restoreAttributes;
  int32_t overwriteSilently;
  uint32_t beginCookie;
  int32_t restoreNtTimes;
  int32_t collectDirectories;
  int32_t overwriteMode;
  unsigned char reserved[EXTRACT_OPTIONS_SIZE - 4 * 9 - 2 * PATH_BUF_SIZE];
};
static_assert(sizeof(ExtractOptions) == EXTRACT_OPTIONS_SIZE, "options record size");

// Callback slots: a function and a user word handed back as first argument.
// A null function behaves as if it returned its go-on value.
typedef int (*RunStartFn)(uintptr_t user, uint32_t totalLow, uint32_t totalHigh, int runKind);
typedef int (*EntryStartFn)(uintptr_t user, const char *entryName, const char *outputPath);
typedef int (*PasswordFn)(uintptr_t user, const char *lastTried, char *newPassword, const char *outputPath);
typedef int (*ProgressFn)(uintptr_t user, uint32_t percent, uint32_t chunkBytes);
typedef int (*OverwriteFn)(uintptr_t user, const FindRecord *existing, const FindRecord *incoming);
typedef int (*NextVolumeFn)(uintptr_t user, char *pathBuffer, uint32_t zero, int32_t volume, int32_t volumeAgain);
typedef int (*EntryDoneFn)(uintptr_t user, const char *entryName, const char *outputPath, int operation,
                           uint32_t sizeLow, uint32_t sizeHigh, uint32_t packedLow, uint32_t packedHigh,
                           int32_t errorCode);

template <typename Fn>
struct CallbackSlot {
  Fn fn;
  uintptr_t user;
};

struct ExtractCallbacks {
  CallbackSlot<RunStartFn> onRunStart;      // 0
  CallbackSlot<void *> unused1;             // 1
  CallbackSlot<EntryStartFn> onEntryStart;  // 2
  CallbackSlot<void *> unused3;             // 3
  CallbackSlot<PasswordFn> onPassword;      // 4
  CallbackSlot<void *> unused5;             // 5
  CallbackSlot<ProgressFn> onProgress;      // 6
  CallbackSlot<OverwriteFn> onOverwrite;    // 7: 0 overwrite, 1 skip, 2 cancel, 3 overwrite under existing name
  CallbackSlot<NextVolumeFn> onNextVolume;  // 8
  CallbackSlot<EntryDoneFn> onEntryDone;    // 9
  CallbackSlot<void *> unused10;            // 10
  CallbackSlot<void *> unused11;            // 11
};

// Per-entry counters, filled before each entry and checked after it.
struct EntryProgress {
  uint32_t runningCrc;
  uint32_t lastChunkSize;
  uint64_t bytesProduced;
  uint64_t uncompressedSize;
  int64_t leftToDeliver;
  int64_t leftToRead;
};

// The onProgress call: percentage of bytesProduced against uncompressedSize
// (64-bit, capped at 100, 0 for size 0) and the latest chunk. Returns 1, or 0
// after recording ERR_CANCELLED when the callback refuses.
int ReportProgress(ArchiveContext *archive, const EntryProgress *progress, const ExtractCallbacks *callbacks);

// Asks the password callback for a new password (entry name shown to the
// user). Returns 1 with ArchiveContext::password set, 0 without a callback,
// 0 after recording ERR_CANCELLED when the user refuses.
int AskPassword(ArchiveContext *archive, const ExtractCallbacks *callbacks, const char *name);

#endif
