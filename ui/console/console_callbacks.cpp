// The engine's callbacks on a terminal: progress line on standard error,
// overwrite, password and next-volume questions.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "../../fileio/path.h"
#include "../../launcher/sfx_state.h"
#include "../ui_shared.h"
#include "console_ui.h"

static int s_lineOpen;  // a progress line is on the terminal without its line end

void ConsoleEndProgressLine() {
  if (s_lineOpen) {
    fputc('\n', stderr);
    s_lineOpen = 0;
  }
}

int ConsoleFileStart(uintptr_t, const char *entryName, const char *) {
  if (!UiNoteEntryStart(entryName)) return 0;
  if (!isatty(STDERR_FILENO) && g_statusName[0]) {
    // Not a terminal: one plain line per file (a folder has no name of its
    // own here, and an empty line says nothing), nothing redrawn.
    fprintf(stderr, "%s\n", g_statusName);
    fflush(stderr);
  }
  return 1;
}

int ConsoleProgress(uintptr_t, uint32_t percent, uint32_t) {
  if (g_cancelRequested) return 0;
  if (!isatty(STDERR_FILENO)) return 1;
  if (percent > 100) percent = 100;
  const int kWidth = 30;
  char bar[kWidth + 1];
  int filled = UiProgressSplit((long)percent, kWidth);
  for (int i = 0; i < kWidth; i++) bar[i] = i < filled ? '#' : '.';
  bar[kWidth] = '\0';
  char text[PATH_BUF_SIZE];
  UiProgressText(text, sizeof text, g_statusName, (long)percent);
  // Carriage return and clear-to-end: the line is redrawn in place.
  fprintf(stderr, "\r[%s] %s\033[K", bar, text);
  fflush(stderr);
  s_lineOpen = 1;
  return 1;
}

static void FileLine(const FindRecord *record) {
  char date[64], when[64], number[16];
  ConsoleFileTimeText(record->lastWriteTime, date, sizeof date, when, sizeof when);
  int32_t value;
  int string = UiFileSizeValue(record->sizeHigh, record->sizeLow, &value);
  snprintf(number, sizeof number, "%d", value);
  const char *inserts[3] = {date, when, number};
  char line[300];
  UiFormatInserts(line, sizeof line, LangString(string), inserts, 3);
  ConsolePrint(line);
}

int ConsoleOverwrite(uintptr_t, const FindRecord *existing, const FindRecord *incoming) {
  int early = UiOverwriteBeforeAsking();
  if (early >= 0) return early;
  char text[300];
  ConsolePrint("");
  ConsolePrint(LangString(LANG_OW_TITLE));
  const char *name[1] = {existing->name};
  UiFormatInserts(text, sizeof text, LangString(LANG_OW_EXISTS), name, 1);
  ConsolePrint(text);
  ConsolePrint(LangString(LANG_OW_REPLACE));
  FileLine(existing);
  ConsolePrint(LangString(LANG_OW_WITH));
  FileLine(incoming);
  static const int kChoices[] = {LANG_OK, LANG_YES_TO_ALL, LANG_NO, LANG_CANCEL};
  static const int kAnswers[] = {ANSWER_REPLACE, ANSWER_REPLACE_ALL, ANSWER_KEEP, ANSWER_CANCEL};
  int choice = ConsoleChoose(kChoices, 4, 0);
  return UiOverwriteFromAnswer(choice < 0 ? ANSWER_CANCEL : kAnswers[choice]);
}

int ConsolePassword(uintptr_t, const char *lastTried, char *out, const char *outputPath) {
  if (g_cancelRequested) return 0;
  if (UiPasswordMustAsk(lastTried)) {
    char name[PATH_BUF_SIZE], text[544];
    PathGetName(outputPath ? outputPath : "", name, sizeof name);
    UiArg args[] = {{name, 0}};
    UiFormat(text, sizeof text, LangString(LANG_PW_PROMPT), args, 1);
    ConsolePrint("");
    ConsolePrint(LangString(LANG_PW_TITLE));
    ConsolePrint(text);
    char prompt[300];
    StrPrintf(prompt, sizeof prompt, "%s: ", LangString(LANG_PW_LABEL));
    char typed[PATH_BUF_SIZE];
    // End of input or Ctrl+C is a cancel; an empty line is an empty password.
    if (!ConsoleReadLine(prompt, typed, sizeof typed, 0)) return 0;
    UiPasswordRemember(typed);
    memset(typed, 0, sizeof typed);
  }
  UiPasswordHandOut(out);
  return 1;
}

int ConsoleNextVolume(uintptr_t, char *path, uint32_t, int32_t volume, int32_t volumeAgain) {
  if (g_cancelRequested) return 0;
  char offered[PATH_BUF_SIZE], folder[PATH_BUF_SIZE], shown[PATH_BUF_SIZE], text[2048];
  UiVolumeOffer(path, offered, sizeof offered);
  ConsoleShowPath(offered, shown, sizeof shown);
  UiVolumePromptText(volume == -1 && volumeAgain == -1 ? -1 : volume, shown, text, sizeof text);
  ConsolePrint("");
  ConsolePrint(LangString(LANG_DISK_TITLE));
  ConsolePrint(text);
  StrCopy(folder, offered, sizeof folder);
  if (!ConsoleEditFolder("", folder, sizeof folder)) return 0;
  UiVolumeTidy(folder, sizeof folder, offered);
  StrCopy(path, folder, PATH_BUF_SIZE);
  return 1;
}

static char s_failedPath[PATH_BUF_SIZE];  // the first entry that failed

int ConsoleEntryDone(uintptr_t, const char *, const char *outputPath, int, uint32_t, uint32_t, uint32_t, uint32_t,
                     int32_t errorCode) {
  if (errorCode != 0 && errorCode != ERR_CANCELLED && !s_failedPath[0] && outputPath)
    StrCopy(s_failedPath, outputPath, sizeof s_failedPath);
  return 1;
}

void ConsolePrintFailure(int32_t error, const char *text) {
  ConsolePrint(text);
  if (error == 0 || error == ERR_CANCELLED || !s_failedPath[0]) return;
  char shown[PATH_BUF_SIZE];
  ConsoleShowPath(s_failedPath, shown, sizeof shown);
  ConsolePrint(shown);
}

void ConsoleFillCallbacks(ExtractCallbacks *table) {
  memset(table, 0, sizeof *table);
  table->onEntryStart.fn = ConsoleFileStart;
  table->onPassword.fn = ConsolePassword;
  table->onProgress.fn = ConsoleProgress;
  table->onOverwrite.fn = ConsoleOverwrite;
  table->onNextVolume.fn = ConsoleNextVolume;
  table->onEntryDone.fn = ConsoleEntryDone;
}
