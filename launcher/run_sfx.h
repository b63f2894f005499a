// What the self-extractor does once its metadata block has been read.
#ifndef KV_RUN_SFX_H
#define KV_RUN_SFX_H

// Runs the self-extractor after a successful start-up and returns the
// process exit code.
int RunSfx();

#endif
