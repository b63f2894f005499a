// The part of the run after start-up. The main dialog is not wired in yet,
// so a successful start-up without the unattended flag ends here with 0.
#include "run_sfx.h"

#include "run_unattended.h"
#include "sfx_state.h"

int RunSfx() {
  if (g_settings.unattended) return RunUnattended();
  return 0;
}
