// The unattended branch of a run: the job without any dialog, the run-after
// command in the target folder, and the exit code of the outcome.
#ifndef KV_RUN_UNATTENDED_H
#define KV_RUN_UNATTENDED_H

// Extracts into the settings' target folder, starts the run-after command on
// success, and returns the process exit code (ErrorToExitCode of g_lastError).
int RunUnattended();

// Run-after, unattended variant: the program starts with the target folder as
// its current folder and receives its full path. A failed start sets
// g_lastError to 28007. Returns 1 when it was started.
int StartRunCommandUnattended();

#endif
