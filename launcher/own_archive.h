// The self-extractor's own archive: the launcher hands the engine the
// program's path and the front-end's callbacks in a request, so the engine
// reads no launcher state.
#ifndef KV_OWN_ARCHIVE_H
#define KV_OWN_ARCHIVE_H

#include <cstdint>

#include "../archive/job_types.h"

// The table the user interface installs for ExtractArchive; copied, so the
// caller's table need not live on. Null clears it.
void JobInstallUiCallbacks(const ExtractCallbacks *table);
// Fills table with the installed user-interface callbacks (all null if none).
void FillCallbacks(ExtractCallbacks *table);

// Extracts every entry of the program's own archive (g_programPath) into
// folder. Returns 0 or the error code.
int32_t ExtractArchive(const char *folder);

#endif
