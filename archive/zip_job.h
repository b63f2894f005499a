// The archive engine: an abstract job and its ZIP implementation, the entry
// records of the central directory, the lists of patterns and entries, and the
// operations through which the rest of the program runs a job.
#ifndef KV_ZIP_JOB_H
#define KV_ZIP_JOB_H

#include <cstddef>
#include <cstdint>

#include "../decoders/inflate.h"
#include "../fileio/kv_base.h"
#include "job_types.h"
#include "zip_format.h"

struct EntryStream;

// One central-directory entry. The list owns name, data, comment and extra.
struct EntryRecord {
  char *name;  // converted and cleaned; ends in a backslash for directories
  uint32_t nameLength;  // as stored in the header
  unsigned char *data;
  uint32_t dataLength;
  uint64_t compressedSize;
  uint64_t uncompressedSize;
  uint32_t dosDateTime;  // date in the high half, time in the low half
  uint32_t attributes;
  uint32_t unixMode;  // permission bits of entries made on a Unix host, else 0
  uint32_t versionNeeded;
  uint32_t crc32;
  uint32_t hostSystem;
  uint32_t method;  // for AES entries the method from the AES extra block
  uint32_t commentLength;
  char *comment;
  int32_t encrypted;
  int32_t validName;
  uint32_t methodVariant;
  int32_t hasNtTimes;
  FileTime creationTime;
  FileTime accessTime;
  FileTime writeTime;
  uint64_t localHeaderOffset;  // absolute file position, shift applied
  uint32_t flags;
  unsigned char *extra;
  uint32_t extraLength;
  uint32_t diskStart;
  uint32_t encryptionKind;  // 0 none, 1 traditional, 2..4 AES-128/192/256
};

enum : int { LIST_PATTERNS = 0, LIST_ENTRIES = 1 };

struct ListNode {
  ListNode *next;
  void *item;
};

// Singly linked, appended at the end, never sorted.
struct EntryList {
  uint32_t count;
  ListNode *first;
  ListNode *last;
  void *aux;
  int (*compare)(const void *a, const void *b);
  void (*freeItem)(void *item);
};

struct PatternRecord {
  char *text;
  // Upper-cased name and folder parts of the text, made once by AddPattern
  // (in text's allocation) rather than for every entry a run compares.
  const char *namePart;
  const char *folderPart;
};

// A caller's optional limits on the entries a run selects. Each limit counts
// only when its bit is set in enable.
enum : uint32_t {
  FILTER_ATTR_REQUIRED = 1,
  FILTER_ATTR_EXCLUDED = 2,
  FILTER_MIN_SIZE = 4,
  FILTER_MAX_SIZE = 8,
  FILTER_NOT_BEFORE = 16,  // DOS date/time, compared as one 32-bit value
  FILTER_NOT_AFTER = 32,
};
struct EntryFilter {
  uint32_t enable;
  uint32_t attrRequired;
  uint32_t attrExcluded;
  uint64_t minSize;
  uint64_t maxSize;
  uint32_t notBefore;
  uint32_t notAfter;
};

// Totals of the entries a listing selected.
struct ListSummary {
  uint64_t entries;
  uint64_t directories;
  uint64_t uncompressedTotal;
  uint64_t compressedTotal;
};

constexpr int RUN_KIND_EXTRACT = 2;
constexpr int RUN_KIND_TEST = 11;
constexpr int OPERATION_EXTRACT = 5;
constexpr int OPERATION_TEST = 6;

// The abstract engine: the state every archive format shares and the
// operations a caller drives. Format operations fail with ERR_NOT_SUPPORTED.
class ArchiveJob {
 public:
  ArchiveJob();
  virtual ~ArchiveJob();
  virtual void Reset();
  virtual int32_t Open(const char *path);
  virtual void Close();
  virtual void SetOptions(int kind, const void *record);
  virtual void ListEntries(EntryList *includes, EntryList *excludes, const EntryFilter *filter, EntryList *entries,
                           ListSummary *summary);
  virtual void Extract(EntryList *includes, EntryList *excludes, const EntryFilter *filter);
  virtual void Test();
  // Hooks around an operation and its entries; they do nothing here.
  virtual void HookOperationBegin(uint32_t cookie, int operation, const char *archivePath);
  virtual void HookEntryWrite(const EntryRecord *entry);
  virtual void HookEntryDone(const EntryRecord *entry);
  virtual void HookOperationEnd(int32_t errorCode);

  int32_t GetError() const { return archive.errorCode; }
  void SetCallbacks(const ExtractCallbacks *table);

  ArchiveContext archive;
  ExtractOptions options;
  EntryProgress progress;
  unsigned char *readBuffer;  // READ_BUF_SIZE bytes between Open and Close
  ExtractCallbacks callbacks;
  EntryFilter filterState;
  const EntryFilter *filter;  // &filterState, or null when no filter was given

  ArchiveJob(const ArchiveJob &) = delete;
  ArchiveJob &operator=(const ArchiveJob &) = delete;
};

class ZipArchiveJob : public ArchiveJob {
 public:
  ZipArchiveJob();
  ~ZipArchiveJob() override;
  int32_t Open(const char *path) override;
  void SetOptions(int kind, const void *record) override;
  void ListEntries(EntryList *includes, EntryList *excludes, const EntryFilter *filter, EntryList *entries,
                   ListSummary *summary) override;
  void Extract(EntryList *includes, EntryList *excludes, const EntryFilter *filter) override;
  void Test() override;

  // Opening (zip_open.cpp).
  int FindEndRecord();
  int FindEndRecordIn(unsigned char *tail, int64_t windowStart, uint32_t windowLength);
  int ReadEndRecord();
  void CheckZip64();
  int FindZip64Records(bool adjacentOnly);
  // Central directory (zip_directory.cpp).
  void ReadDirectory(EntryList *includes, EntryList *excludes, EntryList *entries);
  int ReadDirectoryPart(EntryList *includes, EntryList *excludes, EntryList *entries, int64_t start,
                        const char *volumePath);
  // Entries (job.cpp, extract_entry.cpp).
  void RunEntryLoop(EntryList *includes, EntryList *excludes, const EntryFilter *filter);
  int BuildOutputPath(const char *entryName, char *out, size_t size);
  int AskOverwrite(const EntryRecord *entry, char *outputPath, size_t size);
  void CreateDirectoryEntry(const EntryRecord *entry, const char *outputPath);
  void ExtractFileEntry(const EntryRecord *entry, const char *outputPath);
  int OutputPathBlocked(const EntryRecord *entry, const char *outputPath);
  void DiscardOutput();
  void DecodeData(uint32_t method, uint32_t flags);
  int IsSelected(const EntryRecord *entry, EntryList *includes, EntryList *excludes);
  void SetError(int32_t code) {
    if (archive.errorCode == 0) archive.errorCode = code;
  }

  // Directory state.
  int64_t endRecordPos;  // just behind the end record's signature; -1 unknown
  unsigned char endRecord[END_RECORD_SIZE];
  unsigned char zip64Locator[ZIP64_LOCATOR_SIZE];
  unsigned char zip64EndRecord[ZIP64_END_RECORD_SIZE];
  uint64_t headersRead;
  uint64_t headersExpected;
  int32_t endRecordRead;
  int32_t zip64;
  int32_t platformIsNt;
  unsigned char *window;  // WINDOW_SIZE bytes during a run
  EntryStream *stream;
  // Where the central directory must end in this file: the signature of the
  // ZIP64 end record, else of the end record. Offsets in an archive that sits
  // behind other data are corrected against it, 32-bit and ZIP64 alike.
  int64_t directoryEnd;
  // Added to every stored offset once the directory has been found behind
  // other data; the ZIP64 end record's own displacement when that is known.
  int64_t shift;
  // Set when the directory's last part ended at the end record, exactly
  // where the directory must end.
  int32_t endedAtEndRecord;
  // The temporary name the current entry is being written under, beside its
  // final name; empty when no such file exists. Only this file is removed
  // when the entry fails: the final name's old file is never touched.
  char tempPath[PATH_BUF_SIZE];
  // What the output name was at the link check (NAME_*; -1 when nothing was
  // looked at), and whether the user was asked about it since.
  int outputKind = -1;
  int outputFoldersThere = 0;
  // The target folder has been seen in this run: it is not looked for again.
  bool destThere = false;
  bool userAsked = false;
  // Bytes of the open (unsplit) archive file read ahead of the entries: the
  // stream's buffer holds the file's bytes from aheadStart on, aheadLength of
  // them, and the file position is right behind them. 0: nothing held.
  int64_t aheadStart;
  uint32_t aheadLength;

  InflateDecoder decoder;
};

// Lists (entry_list.cpp). CreateList records ERR_BAD_ARGUMENT or ERR_NO_MEMORY
// in the job and returns null on failure.
EntryList *CreateList(ArchiveJob *job, int kind);
int32_t AddPattern(ArchiveJob *job, EntryList *list, const char *text);
int AppendEntryCopy(ArchiveJob *job, EntryList *list, const EntryRecord *entry);
void FreeList(EntryList *list);
int MatchesPatternList(const char *upperName, const EntryList *list);
int PassesFilter(const EntryRecord *entry, const EntryFilter *filter);

// Name rules (zip_directory.cpp), in place on a PATH_BUF_SIZE buffer.
// Device names get their '_' where the platform reserves them (deviceNames
// -1), or as asked (1 or 0).
void CleanEntryName(char *name, size_t size, int deviceNames = -1);
// Gives each component that Windows reserves for a device (CON, NUL, COM1,
// ... in any case, with any extension, trailing dots or blanks) a '_' in
// front, so that it names an ordinary file (device_names.cpp).
void PrefixDeviceNames(char *name, size_t size);
// True when the component [start, start + length) is such a name.
bool IsDeviceName(const char *start, size_t length);
// 1 when two entries' local data (header and compressed bytes) overlap on
// the same volume; 0 when none do; -1 when no memory (entry_overlap.cpp).
int EntriesOverlap(const EntryList *entries);
int FindExtraBlock(const unsigned char *extra, uint32_t length, uint16_t id, uint32_t minimumSize,
                   const unsigned char **out);

// Decoding resources of one run (extract_entry.cpp).
int DecoderSetUp(ZipArchiveJob *job);
void DecoderTearDown(ZipArchiveJob *job);

// What a caller asks of a run: the archive, the callbacks and the options
// come in the request (the self-extractor hands in its own path).
struct ArchiveRunRequest {
  const char *archivePath;
  const char *folder;  // extraction only
  int test;            // 1: test instead of extract
  int overwriteMode;   // 0 ask through onOverwrite, 1 or 2 never ask
  const char *password;  // used without a prompt first; may be null
  const ExtractCallbacks *callbacks;  // may be null
};
// Open, options, the run, close: extracts (or tests) every entry of the
// request's archive with the caller's callbacks and options. Returns 0 or
// the error code.
int32_t RunArchive(const ArchiveRunRequest *request);

// Lists every entry of an archive through the visitor (called per entry,
// return 0 to stop); summary may be null. Returns 0 or the error code.
typedef int (*EntryVisitor)(void *user, const EntryRecord *entry);
int32_t ListArchive(const char *archivePath, const ExtractCallbacks *callbacks, EntryVisitor visit, void *user,
                    ListSummary *summary, char *comment, size_t commentSize);

#endif
