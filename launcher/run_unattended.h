// The unattended branch of a run: the job without any dialog, the run-after
// command in the target folder, and the exit code of the outcome.
#ifndef KV_RUN_UNATTENDED_H
#define KV_RUN_UNATTENDED_H

#include <cstdint>

// The run-after command could not be started (extraction itself succeeded).
constexpr int32_t ERR_RUN_FAILED = 28007;

// Extracts into the settings' target folder, starts the run-after command on
// success, and returns the process exit code (ErrorToExitCode of g_lastError).
int RunUnattended();

// Run-after, unattended variant: the program starts with the target folder as
// its current folder and receives its full path. A failed start sets
// g_lastError to 28007. Returns 1 when it was started.
int StartRunCommandUnattended();

// POSIX front-end: after an unattended run whose extraction failed, prints
// the error's text and the failing entry's path on standard error.
void ReportUnattendedFailure();

#endif
