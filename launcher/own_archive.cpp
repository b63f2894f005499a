#include "own_archive.h"

#include <cstring>

#include "../archive/zip_job.h"
#include "sfx_state.h"

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
  return RunArchive(&request);
}
