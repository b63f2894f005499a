// The launcher's process-wide state (declared in sfx_state.h).
#include "sfx_state.h"

SfxSettings g_settings;
char *g_langTable[LANG_STRING_COUNT];
char g_programPath[PATH_BUF_SIZE];
void *g_instance;
char g_runParameters[PATH_BUF_SIZE];
int g_overwriteAll;
int g_premessagePending;
int g_lastError;
int g_fileCount;
char g_entryName[PATH_BUF_SIZE];
volatile int g_cancelRequested;

const char *LangString(int k) {
  if (k < 0 || k >= LANG_STRING_COUNT || !g_langTable[k]) return "";
  return g_langTable[k];
}
