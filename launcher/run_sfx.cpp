// The part of the run after start-up: the unattended job, or the main
// dialog (the terminal session on POSIX).
#include "run_sfx.h"

#include "dialog_path.h"
#include "run_unattended.h"
#include "sfx_state.h"

int RunSfx() {
  if (g_settings.unattended) return RunUnattended();
  return RunDialogPath();
}
