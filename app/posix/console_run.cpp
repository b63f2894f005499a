// The interactive path of a POSIX run: the terminal session, then the end
// message (standard error) or the summary (standard output). Also installs
// the terminal's callbacks for every run, unattended ones included.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "../../archive/zip_job.h"
#include "../../launcher/dialog_path.h"
#include "../../launcher/own_archive.h"
#include "../../launcher/run_after.h"
#include "../../launcher/run_unattended.h"
#include "../../launcher/sfx_state.h"
#include "../../ui/console/console_ui.h"

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

// The exit code of any error outside the engine's table.
constexpr int EXIT_UNKNOWN_ERROR = 8;

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
  char text[2048];
  errno = 0;
  if (!ConsoleHasTerminal()) {
    // Nobody can answer, so nothing would be extracted: a calling script must
    // not read that as success. As on Windows when the dialog can't open, the
    // run ends as an error outside the table, numbered with the system's
    // reason (ENOTTY, or EBADF for a closed standard input).
    int reason = errno ? errno : ENOTTY;
    EndMessageText(reason, text, sizeof text);
    PrintText(stderr, text);
    return EXIT_UNKNOWN_ERROR;
  }
  ConsoleSession();
  if (g_lastError != 0) {
    EndMessageText(g_lastError, text, sizeof text);
    ConsolePrintFailure(g_lastError, text);
    return ErrorToExitCode(g_lastError);
  }
  if (SummaryText(text, sizeof text)) PrintText(stdout, text);
  return RunAfterExitCode();
}

void ReportUnattendedFailure() {
  // Nobody watches an unattended run; the exit code alone would not say why
  // extraction failed. A run-after command that can't start stays silent, as
  // on Windows: its exit code is its own.
  if (g_lastError == 0 || g_lastError == ERR_RUN_FAILED) return;
  char text[2048];
  EndMessageText(g_lastError, text, sizeof text);
  ConsolePrintFailure(g_lastError, text);
}
