#include "own_archive.h"

#include <cstring>

#include "../archive/zip_job.h"
#include "../fileio/output_file.h"
#include "../fileio/path.h"
#include "../fileio/platform.h"
#include "sfx_state.h"
#include "switches.h"

namespace {

ExtractCallbacks g_uiCallbacks;  // installed by the user interface

}  // namespace

void JobInstallUiCallbacks(const ExtractCallbacks *table) {
  if (table) g_uiCallbacks = *table;
  else memset(&g_uiCallbacks, 0, sizeof g_uiCallbacks);
}

void FillCallbacks(ExtractCallbacks *table) { *table = g_uiCallbacks; }

int32_t ExtractArchive(const char *folder) {
  ExtractCallbacks table;
  FillCallbacks(&table);
  ArchiveRunRequest request;
  memset(&request, 0, sizeof request);
  request.archivePath = g_programPath;
  request.folder = folder;
  request.callbacks = &table;
  // Test before writing: every entry is decoded and checked first, so a
  // damaged payload leaves the target as it was. The password typed during
  // the test is remembered by the interface and not asked again.
  if (g_settings.reservedC & SFX_FLAG_TEST_FIRST) {
    int files = g_fileCount;
    request.test = 1;
    int32_t tested = RunArchive(&request);
    g_fileCount = files;
    if (tested != 0) return tested;
    request.test = 0;
  }
  char target[PATH_BUF_SIZE], temp[PATH_BUF_SIZE];
  StrCopy(target, folder ? folder : "", sizeof target);
  PathFixSlashes(target);
  if (strlen(target) > 3) PathTrimBackslash(target);
  // What this run makes is noted, so that a clean-up removes that alone.
  OutputLogStart(target);
  // A folder in the temporary folder that someone else made (or a link there)
  // could be theirs to change while the program runs from it: refused.
  if (SysGetTempPath(temp, sizeof temp) && !DirPreparePrivate(temp, target)) {
    if (table.onEntryDone.fn)
      table.onEntryDone.fn(table.onEntryDone.user, "", target, OPERATION_EXTRACT, 0, 0, 0, 0, ERR_FILE_ACCESS);
    return ERR_FILE_ACCESS;
  }
  return RunArchive(&request);
}
