// The extraction job: the abstract engine's own operations, the ZIP job's
// options, extract and test runs, the entry loop, and the entry points the
// rest of the program calls.
#include <cstdlib>
#include <cstring>

#include "../fileio/output_file.h"
#include "../fileio/path.h"
#include "../fileio/platform.h"
#include "volume.h"
#include "zip_job.h"

// ---- ArchiveJob -------------------------------------------------------------

ArchiveJob::ArchiveJob() : readBuffer(nullptr), filter(nullptr) {
  memset(&archive, 0, sizeof archive);
  memset(&options, 0, sizeof options);
  memset(&progress, 0, sizeof progress);
  memset(&callbacks, 0, sizeof callbacks);
  memset(&filterState, 0, sizeof filterState);
  archive.volumeHandle = INVALID_FILE;
  archive.outputHandle = INVALID_FILE;
}

ArchiveJob::~ArchiveJob() {
  free(readBuffer);
  free(archive.comment);
}

void ArchiveJob::Reset() {
  free(archive.comment);
  memset(&archive, 0, sizeof archive);
  memset(&options, 0, sizeof options);
  memset(&progress, 0, sizeof progress);
  memset(&callbacks, 0, sizeof callbacks);
  archive.volumeHandle = INVALID_FILE;
  archive.outputHandle = INVALID_FILE;
}

int32_t ArchiveJob::Open(const char *) {
  memset(&filterState, 0, sizeof filterState);
  filter = nullptr;
  if (!readBuffer) readBuffer = (unsigned char *)malloc(READ_BUF_SIZE);
  if (!readBuffer) {
    if (archive.errorCode == 0) archive.errorCode = ERR_NO_MEMORY;
    return archive.errorCode;
  }
  return 0;
}

void ArchiveJob::Close() {
  if (archive.volumeHandle != INVALID_FILE) FileClose(archive.volumeHandle);
  if (archive.outputHandle != INVALID_FILE) FileClose(archive.outputHandle);
  free(archive.comment);
  // The passwords are cleared with the rest of the context.
  memset(&archive, 0, sizeof archive);
  memset(&options, 0, sizeof options);
  memset(&progress, 0, sizeof progress);
  memset(&filterState, 0, sizeof filterState);
  filter = nullptr;
  archive.volumeHandle = INVALID_FILE;
  archive.outputHandle = INVALID_FILE;
  free(readBuffer);
  readBuffer = nullptr;
}

void ArchiveJob::SetOptions(int kind, const void *record) {
  if (!record || kind == 0) return;
  uint32_t size;
  memcpy(&size, record, sizeof size);
  if (kind == 2 && size == EXTRACT_OPTIONS_SIZE) {
    memcpy(&options, record, sizeof options);
    options.destFolder[PATH_BUF_SIZE - 1] = '\0';
    options.stripPrefix[PATH_BUF_SIZE - 1] = '\0';
    PathEnsureBackslash(options.destFolder);
    return;
  }
  // Archive-creation settings are accepted and not kept: this engine only reads.
  if (kind == 1 && size == 1876) return;
  if (archive.errorCode == 0) archive.errorCode = ERR_BAD_ARGUMENT;
}

void ArchiveJob::ListEntries(EntryList *, EntryList *, const EntryFilter *, EntryList *, ListSummary *) {
  if (archive.errorCode == 0) archive.errorCode = ERR_NOT_SUPPORTED;
}
void ArchiveJob::Extract(EntryList *, EntryList *, const EntryFilter *) {
  if (archive.errorCode == 0) archive.errorCode = ERR_NOT_SUPPORTED;
}
void ArchiveJob::Test() {
  if (archive.errorCode == 0) archive.errorCode = ERR_NOT_SUPPORTED;
}
void ArchiveJob::HookOperationBegin(uint32_t, int, const char *) {}
void ArchiveJob::HookEntryWrite(const EntryRecord *) {}
void ArchiveJob::HookEntryDone(const EntryRecord *) {}
void ArchiveJob::HookOperationEnd(int32_t) {}

void ArchiveJob::SetCallbacks(const ExtractCallbacks *table) {
  if (table) callbacks = *table;
  else memset(&callbacks, 0, sizeof callbacks);
}

// ---- ZipArchiveJob ----------------------------------------------------------

ZipArchiveJob::ZipArchiveJob()
    : endRecordPos(-1),
      headersRead(0),
      headersExpected(0),
      endRecordRead(0),
      zip64(0),
      platformIsNt(0),
      window(nullptr),
      stream(nullptr),
      directoryEnd(-1),
      shift(0),
      endedAtEndRecord(0),
      aheadStart(0),
      aheadLength(0) {
  tempPath[0] = '\0';
  memset(endRecord, 0, sizeof endRecord);
  memset(zip64Locator, 0, sizeof zip64Locator);
  memset(zip64EndRecord, 0, sizeof zip64EndRecord);
}

ZipArchiveJob::~ZipArchiveJob() { DecoderTearDown(this); }

void ZipArchiveJob::SetOptions(int kind, const void *record) {
  ArchiveJob::SetOptions(kind, record);
  if (kind == 2 && archive.errorCode == 0 && record) {
    StrCopy(archive.destFolder, options.destFolder, sizeof archive.destFolder);
    StrCopy(archive.stripPrefix, options.stripPrefix, sizeof archive.stripPrefix);
  }
}

void ZipArchiveJob::Extract(EntryList *includes, EntryList *excludes, const EntryFilter *filterIn) {
  if (filterIn) {
    filterState = *filterIn;
    filter = &filterState;
  }
  HookOperationBegin(options.beginCookie, OPERATION_EXTRACT, archive.archivePath);
  if (!DecoderSetUp(this)) {
    HookOperationEnd(archive.errorCode);
    return;
  }
  archive.operation = OPERATION_EXTRACT;
  RunEntryLoop(includes, excludes, filterIn);
  HookOperationEnd(archive.errorCode);
  DecoderTearDown(this);
}

void ZipArchiveJob::Test() {
  options.overwriteMode = 0;
  HookOperationBegin(options.beginCookie, OPERATION_TEST, archive.archivePath);
  if (!DecoderSetUp(this)) {
    HookOperationEnd(archive.errorCode);
    return;
  }
  EntryList *all = CreateList(this, LIST_PATTERNS);
  if (all && AddPattern(this, all, "*.*") == 0) {
    archive.operation = OPERATION_TEST;
    archive.testOnly = 1;
    archive.noDirectories = 1;
    RunEntryLoop(all, nullptr, nullptr);
  } else {
    SetError(ERR_NO_MEMORY);
  }
  FreeList(all);
  HookOperationEnd(archive.errorCode);
  DecoderTearDown(this);
}

namespace {

void CloseVolume(ArchiveContext *a) {
  if (a->volumeHandle != INVALID_FILE) FileClose(a->volumeHandle);
  a->volumeHandle = INVALID_FILE;
}

}  // namespace

void ZipArchiveJob::RunEntryLoop(EntryList *includes, EntryList *excludes, const EntryFilter *filterIn) {
  EntryList *entries = CreateList(this, LIST_ENTRIES);
  if (!entries) {
    SetError(ERR_NO_MEMORY);
    return;
  }
  ListEntries(includes, excludes, filterIn, entries, nullptr);
  if (archive.errorCode != 0) {
    FreeList(entries);
    return;
  }
  archive.volumeHandle = INVALID_FILE;
  aheadLength = 0;
  if (!archive.multiVolume) {
    archive.volumeHandle = FileOpen(archive.archivePath, "rb");
    if (archive.volumeHandle == INVALID_FILE) {
      SetError(ERR_FILE_ACCESS);
      FreeList(entries);
      return;
    }
  }
  destThere = false;
  uint64_t total = 0;
  for (ListNode *n = entries->first; n; n = n->next) total += ((EntryRecord *)n->item)->uncompressedSize;
  if (callbacks.onRunStart.fn)
    callbacks.onRunStart.fn(callbacks.onRunStart.user, (uint32_t)total, (uint32_t)(total >> 32),
                            archive.testOnly ? RUN_KIND_TEST : RUN_KIND_EXTRACT);

  char outputPath[PATH_BUF_SIZE];
  char shownName[PATH_BUF_SIZE];
  for (ListNode *n = entries->first; n && archive.errorCode == 0; n = n->next) {
    const EntryRecord *entry = (const EntryRecord *)n->item;
    // A name that cleaning emptied names nothing under the target folder.
    if (!entry->validName) continue;
    // A split archive has no volume open until its first entry.
    if (entry->diskStart != archive.currentDisk || archive.volumeHandle == INVALID_FILE) {
      aheadLength = 0;
      if (!SwitchToVolume(this, entry->diskStart)) break;
    }
    if (BuildOutputPath(entry->name, outputPath, sizeof outputPath) < 0) {
      // Too long for a path: a cut one could name another file. The entry is
      // announced first, so that the message can name it.
      StrCopy(shownName, "\\", sizeof shownName);
      StrAppend(shownName, entry->name, sizeof shownName);
      if (callbacks.onEntryStart.fn) callbacks.onEntryStart.fn(callbacks.onEntryStart.user, shownName, nullptr);
      SetError(ERR_PATH_TOO_LONG);
      break;
    }
    if (TextCompareNoCase(outputPath, archive.archivePath) == 0) {
      SetError(ERR_OUTPUT_IS_ARCHIVE);
      break;
    }
    StrCopy(shownName, "\\", sizeof shownName);
    StrAppend(shownName, entry->name, sizeof shownName);
    if (callbacks.onEntryStart.fn &&
        callbacks.onEntryStart.fn(callbacks.onEntryStart.user, shownName, outputPath) != 1) {
      SetError(ERR_CANCELLED);
      break;
    }
    tempPath[0] = '\0';
    if (OutputPathBlocked(entry, outputPath)) {
      SetError(ERR_FILE_ACCESS);
    } else {
      if (!archive.noDirectories && options.overwriteMode != 1 && options.overwriteMode != 2) {
        int reply = AskOverwrite(entry, outputPath, sizeof outputPath);
        if (reply == 1) continue;
        if (reply == 2) {
          SetError(ERR_CANCELLED);
          break;
        }
      }
      HookEntryWrite(entry);
      if (entry->attributes & FILE_ATTRIBUTE_DIRECTORY) CreateDirectoryEntry(entry, outputPath);
      else ExtractFileEntry(entry, outputPath);
      HookEntryDone(entry);
    }
    if (!archive.quietEntries && callbacks.onEntryDone.fn &&
        callbacks.onEntryDone.fn(callbacks.onEntryDone.user, entry->name, outputPath, archive.operation,
                                 (uint32_t)entry->uncompressedSize, (uint32_t)(entry->uncompressedSize >> 32),
                                 (uint32_t)entry->compressedSize, (uint32_t)(entry->compressedSize >> 32),
                                 archive.errorCode) != 1)
      SetError(ERR_CANCELLED);
    if (archive.errorCode != 0 && archive.errorCode != ERR_CANCELLED && archive.errorCode != ERR_WRITE_FAILED &&
        options.continueOnError)
      archive.errorCode = 0;
    // A failed entry leaves nothing behind: its temporary file goes, and
    // the file it was to replace is as it was.
    DiscardOutput();
  }
  DiscardOutput();
  OutputWalkEnd();
  FreeList(entries);
  CloseVolume(&archive);
}

// ---- Entry points -----------------------------------------------------------

namespace {

// Open, options, the run, close: the cycle every caller goes through.
int32_t RunCycle(ZipArchiveJob *job, const char *archivePath, const char *folder, int test, int overwriteMode,
                 const char *password, const ExtractCallbacks *table) {
  job->Reset();
  job->SetCallbacks(table);
  job->Open(archivePath);
  int32_t result = job->GetError();
  if (result == 0) {
    job->SetCallbacks(table);
    if (password) StrCopy(job->archive.password, password, PASSWORD_MAX);
    EntryList *patterns = CreateList(job, LIST_PATTERNS);
    if (!patterns || AddPattern(job, patterns, "*.*") != 0) {
      result = ERR_NO_MEMORY;
    } else {
      ExtractOptions opts;
      memset(&opts, 0, sizeof opts);
      opts.size = EXTRACT_OPTIONS_SIZE;
      opts.keepPaths = 1;
      opts.overwriteMode = overwriteMode;
      StrCopy(opts.destFolder, folder ? folder : "", sizeof opts.destFolder);
      // A folder typed with forward slashes names the same folder; the path
      // helpers count backslashes only.
      PathFixSlashes(opts.destFolder);
      if (strlen(opts.destFolder) > 3) PathTrimBackslash(opts.destFolder);
      job->SetOptions(2, &opts);
      if (test) job->Test();
      else job->Extract(patterns, nullptr, nullptr);
      result = job->GetError();
    }
    FreeList(patterns);
  }
  job->Close();
  return result;
}

}  // namespace

int32_t RunArchive(const ArchiveRunRequest *request) {
  if (!request || !request->archivePath) return ERR_BAD_ARGUMENT;
  static ZipArchiveJob job;
  return RunCycle(&job, request->archivePath, request->folder, request->test, request->overwriteMode,
                  request->password, request->callbacks);
}

int32_t ListArchive(const char *archivePath, const ExtractCallbacks *table, EntryVisitor visit, void *user,
                    ListSummary *summary, char *comment, size_t commentSize) {
  static ZipArchiveJob job;
  job.Reset();
  job.SetCallbacks(table);
  job.Open(archivePath);
  if (comment && commentSize) comment[0] = '\0';
  if (job.GetError() == 0) {
    if (comment && job.archive.comment) StrCopy(comment, job.archive.comment, commentSize);
    EntryList *patterns = CreateList(&job, LIST_PATTERNS);
    EntryList *entries = CreateList(&job, LIST_ENTRIES);
    if (patterns && entries && AddPattern(&job, patterns, "*.*") == 0) {
      job.ListEntries(patterns, nullptr, nullptr, entries, summary);
      if (job.GetError() == 0 && visit)
        for (ListNode *n = entries->first; n; n = n->next)
          if (!visit(user, (const EntryRecord *)n->item)) break;
    } else {
      job.SetError(ERR_NO_MEMORY);
    }
    FreeList(patterns);
    FreeList(entries);
  }
  int32_t result = job.GetError();
  job.Close();
  return result;
}
