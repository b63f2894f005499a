// Windows process entry of the self-extractor.
#include <windows.h>

#include "../../fileio/platform.h"
#include "../../launcher/run_sfx.h"
#include "../../launcher/sfx_meta.h"
#include "../../launcher/stub_version.h"

namespace {

// Plain text in the file for `kvsfx info`; nothing reads it at run time.
__attribute__((used)) const char kStubVersion[] = KV_STUB_VERSION_MARKER KV_VERSION;

void ShowStartupBox(const char *text) { MessageBoxA(nullptr, text, "Error", MB_ICONWARNING); }

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  g_instance = instance;
  SetStartupErrorSink(ShowStartupBox);
  g_programPath[0] = '\0';
  // A cut path names some other file: better to find nothing at all. Where
  // the code page can't spell the own folder, this is its short name.
  uint32_t length = SysGetModulePath(g_programPath, PATH_BUF_SIZE);
  if (length == 0 || length >= PATH_BUF_SIZE) g_programPath[0] = '\0';
  int code = ReadSfxMeta();
  if (code != 0) return code;
  return RunSfx();
}
