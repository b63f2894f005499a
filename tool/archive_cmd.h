// Shared by the verbs that run the archive engine: extract, test and list.
#ifndef KV_ARCHIVE_CMD_H
#define KV_ARCHIVE_CMD_H

#include <chrono>
#include <cstdint>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "../archive/job_types.h"
#include "../archive/zip_job.h"

class ToolArgs;

// What the callbacks of one run know.
struct ToolRun {
  const char *verb = "";
  std::string shown;  // the archive as the user named it
  int quiet = 0;
  int verbose = 0;          // each entry's result on standard output
  int noQuestions = 0;      // never ask at the terminal (--json)
  int skipExisting = 0;     // answer every overwrite question with skip
  int progressLine = 0;     // stderr is a terminal and not quiet
  int lineOpen = 0;         // a progress line waits for its end
  int passwordGiven = 0;    // from an option, a file or the environment
  int passwordRefused = 0;  // the given one was rejected, or none was given
  std::string entry;        // name of the entry being processed
  std::string output;       // and the file it goes to
  // The first entry that failed and why.
  std::string failedEntry, failedOutput;
  int32_t failedCode = 0;
  uint64_t entries = 0;  // entries done without error
  uint64_t failures = 0;
  uint64_t skipped = 0;
  uint64_t bytes = 0;
  uint64_t total = 0;  // uncompressed bytes of the whole archive
  std::chrono::steady_clock::time_point start, lastDraw;
  int drawn = 0;
  nlohmann::ordered_json *json = nullptr;  // per-entry results (an array), when asked
};

// The archive argument as a program path: absolute, resolved, backslashes.
// A file that does not exist keeps its absolute spelling.
std::string ToolArchivePath(const char *native);
// Checks that the archive argument names a readable file; otherwise one
// line on stderr (also in *message when given) and false (exit status 5).
bool ToolCheckArchive(const char *verb, const std::string &native, std::string *message = nullptr);
// The password of the run from --password, --password-file or
// KVSFX_PASSWORD, in that order. False after one line on stderr.
bool ToolTakePassword(const ToolArgs &args, std::string *password, int *given, std::string *message = nullptr);
// Runs the engine for one verb with the tool's callbacks: Ctrl+C cancels, a
// progress line is drawn while stderr is a terminal. Returns the error code.
int32_t ToolRunEngine(ToolRun *run, ArchiveRunRequest *request);
// Ends an open progress line.
void ToolEndLine(ToolRun *run);
// The one line that explains an engine error, naming the entry and archive.
std::string ToolErrorText(const ToolRun &run, int32_t code);
// Prints "kvsfx VERB: error NNNNN: <text>" on stderr; returns the exit code.
int ToolReportError(const ToolRun &run, int32_t code);
// A name (UTF-8) for a terminal line: control characters and bytes that are
// no UTF-8 escaped as ToolPrintable does.
std::string ToolPrintableName(const std::string &text);

#endif
