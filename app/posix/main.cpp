// POSIX process entry of the self-extractor (a terminal program).
#include <unistd.h>

#include <cstdio>

#include "../../fileio/platform.h"
#include "../../launcher/run_sfx.h"
#include "../../launcher/run_unattended.h"
#include "../../launcher/sfx_meta.h"
#include "../../launcher/sfx_state.h"
#include "../../launcher/stub_version.h"
#include "../../launcher/switches.h"

namespace {

// Plain text in the file for `kvsfx info`; nothing reads it at run time.
__attribute__((used)) const char kStubVersion[] = KV_STUB_VERSION_MARKER KV_VERSION;

// The fixed messages are Windows-1252 text; the terminal expects UTF-8. Their
// only non-ASCII letters are in the Latin-1 range, which maps directly.
void WriteStartupError(const char *text) {
  char out[512];
  size_t n = 0;
  for (const unsigned char *p = (const unsigned char *)text; *p && n + 3 < sizeof out; ++p) {
    if (*p < 0x80) {
      out[n++] = (char)*p;
    } else if (*p >= 0xA0) {
      out[n++] = (char)(0xC0 | (*p >> 6));
      out[n++] = (char)(0x80 | (*p & 0x3F));
    } else {
      out[n++] = '?';
    }
  }
  out[n++] = '\n';
  ssize_t ignored = write(STDERR_FILENO, out, n);
  (void)ignored;
}

// /? on standard output, a refused switch on standard error.
void ShowSwitches(const char *text, int error) {
  FILE *to = error ? stderr : stdout;
  fputs(text, to);
  fputc('\n', to);
}

}  // namespace

int main(int argc, char **argv) {
  SetStartupErrorSink(WriteStartupError);
  g_programPath[0] = '\0';
  uint32_t length = SysGetModulePath(g_programPath, PATH_BUF_SIZE);
  if (length == 0 || length >= PATH_BUF_SIZE) g_programPath[0] = '\0';
  int code = ReadSfxMeta();
  if (code != 0) return code;
  code = RunSwitches(argc - 1, argv + 1, ShowSwitches);
  if (code >= 0) return code;
  code = RunSfx();
  if (g_settings.unattended) ReportUnattendedFailure();
  return code;
}
