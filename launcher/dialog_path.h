// The interactive path of a run (no unattended flag): the front-end's dialog
// or terminal session, then the end message or the summary. Each stub
// provides RunDialogPath; the texts and the run-after rule are shared.
#ifndef KV_DIALOG_PATH_H
#define KV_DIALOG_PATH_H

#include <cstddef>
#include <cstdint>

// Runs the main dialog (Windows) or the terminal session (POSIX) and ends
// with the message for g_lastError or the summary. Returns the exit code.
int RunDialogPath();

// The end message for an error code, from the language table (buffer 2048).
void EndMessageText(int32_t error, char *out, size_t size);

// The summary after a successful run: 1 with its text when one is due (no
// run-after command, at least one entry announced), else 0.
int SummaryText(char *out, size_t size);

// Run-after, dialog variant: folder is the text the job extracted into. The
// program starts in the folder that contains it and receives its name only.
// Does nothing unless runCommand is set and g_lastError is 0; a failed start
// sets g_lastError to 28007. Returns 1 when the program was started.
int StartRunCommandDialog(void *owner, const char *folder);

// Maps a job's error code to the process exit code (unattended branch).
int ErrorToExitCode(int32_t code);

#endif
