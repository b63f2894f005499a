// The part of the run after start-up. The unattended job and the main dialog
// are not wired in yet, so a successful start-up ends here with exit code 0.
#include "run_sfx.h"

int RunSfx() { return 0; }
