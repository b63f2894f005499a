// kvsfx test: decodes every entry of a ZIP file or self-extractor and checks
// it, writing nothing.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "../archive/zip_job.h"
#include "../ui/console/console_ui.h"
#include "archive_cmd.h"
#include "tool.h"

int CmdTest(int argc, char **argv) {
  const char *archiveArg = nullptr, *password = nullptr;
  ToolRun run;
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i];
    if (!strcmp(a, "--password") && i + 1 < argc) password = argv[++i];
    else if (!strcmp(a, "--quiet")) run.quiet = 1;
    else if (a[0] != '-' && !archiveArg) archiveArg = a;
    else {
      fprintf(stderr, "usage: kvsfx test ARCHIVE [--password PW] [--quiet]\n");
      return strcmp(a, "--help") ? TOOL_USAGE : TOOL_OK;
    }
  }
  if (!archiveArg) {
    fprintf(stderr, "usage: kvsfx test ARCHIVE [--password PW] [--quiet]\n");
    return TOOL_USAGE;
  }
  std::string archivePath = ToolArchivePath(archiveArg);
  if (archivePath.size() >= PATH_BUF_SIZE) {
    fprintf(stderr, "kvsfx: path longer than %u characters\n", (unsigned)(PATH_BUF_SIZE - 1));
    return TOOL_USAGE;
  }
  ArchiveRunRequest request = {};
  request.archivePath = archivePath.c_str();
  request.folder = "";
  request.test = 1;
  request.password = password;
  int32_t code = ToolRunEngine(&run, &request);
  if (code != 0) return ToolReportError(code, archivePath);
  if (!run.quiet)
    printf("ok: %llu entries, %llu bytes checked\n", (unsigned long long)run.entries,
           (unsigned long long)run.bytes);
  return 0;
}
