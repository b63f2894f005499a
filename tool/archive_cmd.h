// Shared by the verbs that run the archive engine: extract, test and list.
#ifndef KV_ARCHIVE_CMD_H
#define KV_ARCHIVE_CMD_H

#include <cstdint>
#include <string>

#include "../archive/job_types.h"
#include "../archive/zip_job.h"

// What the callbacks of one run know.
struct ToolRun {
  int quiet = 0;
  int skipExisting = 0;  // answer every overwrite question with skip
  int progressLine = 0;  // stderr is a terminal and not quiet
  int lineOpen = 0;      // a progress line waits for its end
  std::string entry;     // name of the entry being processed
  uint64_t entries = 0;  // entries done without error
  uint64_t skipped = 0;
  uint64_t bytes = 0;
};

// The archive argument as a program path: absolute, resolved, backslashes.
// A file that does not exist keeps its absolute spelling (the engine then
// reports it).
std::string ToolArchivePath(const char *native);
// The target folder argument: created when missing, then resolved. Empty
// when it can't be created.
std::string ToolFolderPath(const char *native);
// The engine's callbacks for a run of the tool.
void ToolFillCallbacks(ToolRun *run, ExtractCallbacks *table);
// Runs the engine for one verb with the tool's callbacks: Ctrl+C cancels, a
// progress line is drawn while stderr is a terminal. Returns the error code.
int32_t ToolRunEngine(ToolRun *run, ArchiveRunRequest *request);
// Ends an open progress line.
void ToolEndLine(ToolRun *run);
// One line "error NNNNN: <text>" on stderr; returns the exit code.
int ToolReportError(int32_t code, const std::string &archivePath);

#endif
