// Starting the run-after program, and what the block's flags in reservedC
// add: waiting for it to end (bit 0), then removing what was extracted (bit 1).
#ifndef KV_RUN_AFTER_H
#define KV_RUN_AFTER_H

#include <cstdint>

constexpr uint32_t SFX_FLAG_WAIT = 1;
constexpr uint32_t SFX_FLAG_CLEANUP = 2;  // counts only together with SFX_FLAG_WAIT

// Opens file with the run parameters through the shell, as SysShellOpen. With
// the wait flag it returns only when the program has ended and keeps its exit
// code for RunAfterExitCode.
intptr_t RunAfterOpen(void *owner, const char *file);

// After a waited program, with the clean-up flag: RemoveExtracted(folder),
// the folder the job extracted into. Called once the current folder is no
// longer inside it.
void RunAfterCleanup(const char *folder);

// The exit code of a run that extracted without error: that of the waited
// program, else 0.
int RunAfterExitCode();

// Removes the files and folders the run made or replaced below folder (the
// output log), then folder itself when the run made it and it is empty;
// nothing else, and nothing through a link. Only a folder inside the
// temporary folder is touched. Returns 1 when it ran.
int RemoveExtracted(const char *folder);

#endif
