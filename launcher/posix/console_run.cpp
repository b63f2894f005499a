// The interactive path of a POSIX run: the terminal session, then the end
// message (standard error) or the summary (standard output). Also installs
// the terminal's callbacks for every run, unattended ones included.
#include <cstdio>
#include <cstdlib>

#include "../../archive/zip_job.h"
#include "../../ui/console/console_ui.h"
#include "../dialog_path.h"
#include "../run_after.h"
#include "../sfx_state.h"

namespace {
int InstallConsoleCallbacks() {
  ExtractCallbacks table;
  ConsoleFillCallbacks(&table);
  JobInstallUiCallbacks(&table);
  // Unattended runs too: Ctrl+C stops the job cleanly (no partial file), and
  // a progress line still open at the end gets its line end.
  ConsoleCatchInterrupt();
  atexit(ConsoleEndProgressLine);
  return 1;
}
// Before main: the unattended branch runs the job without passing here.
const int s_callbacksInstalled = InstallConsoleCallbacks();

// Language texts carry CR LF line breaks; a terminal wants LF alone.
void PrintText(FILE *to, const char *text) {
  for (const char *p = text; *p; p++)
    if (*p != '\r') fputc(*p, to);
  fputc('\n', to);
  fflush(to);
}
}  // namespace

int RunDialogPath() {
  (void)s_callbacksInstalled;
  ConsoleSession();
  char text[2048];
  if (g_lastError != 0) {
    EndMessageText(g_lastError, text, sizeof text);
    PrintText(stderr, text);
    return ErrorToExitCode(g_lastError);
  }
  if (SummaryText(text, sizeof text)) PrintText(stdout, text);
  return RunAfterExitCode();
}
