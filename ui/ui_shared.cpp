#include "ui_shared.h"

#include <cstdio>
#include <cstring>

#include "../fileio/path.h"
#include "../fileio/platform.h"
#include "../launcher/sfx_state.h"

char g_statusName[PATH_BUF_SIZE];
static char s_rememberedPassword[PATH_BUF_SIZE];

void UiResetRun() {
  g_statusName[0] = '\0';
  memset(s_rememberedPassword, 0, sizeof(s_rememberedPassword));
}

int UiNoteEntryStart(const char *entryName) {
  if (g_cancelRequested) return 0;
  g_fileCount++;
  PathGetName(entryName ? entryName : "", g_statusName, sizeof(g_statusName));
  const char *name = entryName ? entryName : "";
  StrCopy(g_entryName, name[0] == '\\' ? name + 1 : name, sizeof g_entryName);
  return 1;
}

int UiPasswordMustAsk(const char *lastTried) {
  if (s_rememberedPassword[0] && strcmp(s_rememberedPassword, lastTried ? lastTried : "") != 0) return 0;
  memset(s_rememberedPassword, 0, sizeof(s_rememberedPassword));
  return 1;
}

void UiPasswordRemember(const char *typed) { StrCopy(s_rememberedPassword, typed, sizeof(s_rememberedPassword)); }

const char *UiPasswordRemembered() { return s_rememberedPassword; }

void UiPasswordHandOut(char *out) { StrCopy(out, s_rememberedPassword, PASSWORD_MAX); }

void UiVolumeOffer(const char *expectedPath, char *folder, size_t size) {
  PathGetDir(expectedPath ? expectedPath : "", folder, size);
}

void UiVolumePromptText(int32_t volume, const char *offered, char *out, size_t size) {
  if (volume == -1) {
    UiArg args[] = {{offered, 0}};
    UiFormat(out, size, LangString(LANG_DISK_PROMPT_LAST), args, 1);
  } else {
    UiArg args[] = {{nullptr, (long long)(uint32_t)volume}, {offered, 0}};
    UiFormat(out, size, LangString(LANG_DISK_PROMPT), args, 2);
  }
}

void UiVolumeTidy(char *folder, size_t size, const char *offered) {
  if (TextCompareNoCase(folder, offered) == 0) return;
  size_t length = strlen(folder);
  if (length == 0)
    StrCopy(folder, offered, size);
  else if (length == 1)
    StrAppend(folder, ":\\", size);
  else if (length == 2)
    StrAppend(folder, "\\", size);
}

int UiOverwriteBeforeAsking() {
  if (g_cancelRequested) return OVERWRITE_STOP;
  if (g_overwriteAll) return OVERWRITE_REPLACE;
  return -1;
}

int UiOverwriteFromAnswer(int answer) {
  switch (answer) {
    case ANSWER_REPLACE:
      return OVERWRITE_REPLACE;
    case ANSWER_KEEP:
      return OVERWRITE_KEEP;
    case ANSWER_REPLACE_ALL:
      g_overwriteAll = 1;
      return OVERWRITE_REPLACE;
    default:  // Cancel, the close box, or a dialog that never came up
      return OVERWRITE_STOP;
  }
}

int UiFileSizeValue(uint32_t sizeHigh, uint32_t sizeLow, int32_t *value) {
  if (sizeHigh > 0 || sizeLow >= 1024) {
    uint64_t size = ((uint64_t)sizeHigh << 32) | sizeLow;
    // The platform's insert is a signed 32-bit number; the cast keeps its
    // wrap-around for sizes beyond 2 TiB rather than inventing another rule.
    *value = (int32_t)(uint32_t)(size / 1024);
    return LANG_OW_SIZE_KB;
  }
  *value = (int32_t)sizeLow;
  return LANG_OW_SIZE_BYTES;
}

void UiProgressText(char *out, size_t size, const char *name, long percent) {
  if (name)
    StrPrintf(out, size, "%s (%ld %%)", name, percent);
  else
    StrPrintf(out, size, "%ld %%", percent);
}

int UiProgressSplit(long percent, int right) { return (int)(percent * right / 100); }

int UiCentrePosition(int overStart, int overSize, int size, int screenSize) {
  int pos = overStart + (overSize - size) / 2;
  int maxPos = screenSize - size;
  int lower = pos < maxPos ? pos : maxPos;
  return lower < 0 ? 0 : lower;
}
