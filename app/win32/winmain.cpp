// Windows process entry of the self-extractor.
#include <windows.h>

#include "../../fileio/platform.h"
#include "../../launcher/run_sfx.h"
#include "../../launcher/sfx_meta.h"
#include "../../launcher/stub_version.h"
#include "../../launcher/switches.h"

namespace {

// Plain text in the file for `kvsfx info`; nothing reads it at run time.
__attribute__((used)) const char kStubVersion[] = KV_STUB_VERSION_MARKER KV_VERSION;

void ShowStartupBox(const char *text) { MessageBoxA(nullptr, text, "Error", MB_ICONWARNING); }

void ShowSwitches(const char *text, int error) {
  MessageBoxA(nullptr, text, error ? "Error" : "Setup", error ? MB_ICONWARNING : MB_ICONINFORMATION);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  g_instance = instance;
  SetStartupErrorSink(ShowStartupBox);
  g_programPath[0] = '\0';
  // A cut path names some other file: better to find nothing at all. Where
  // the code page can't spell the own folder, this is its short name.
  uint32_t length = SysGetModulePath(g_programPath, PATH_BUF_SIZE);
  if (length == 0 || length >= PATH_BUF_SIZE) g_programPath[0] = '\0';
  int code = ReadSfxMeta();
  if (code != 0) return code;
  // Without the switches bit RunSwitches reads nothing: no argument changes a run.
  static char line[2048];
  static char *args[64];
  StrCopy(line, commandLine ? commandLine : "", sizeof line);
  code = RunSwitches(SplitCommandLine(line, args, 64), args, ShowSwitches);
  if (code >= 0) return code;
  return RunSfx();
}
