// kvsfx test: decodes every entry of a ZIP file or self-extractor and checks
// it, writing nothing.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "../archive/zip_job.h"
#include "../ui/console/console_ui.h"
#include "archive_cmd.h"
#include "args.h"
#include "tool.h"

namespace {

int RunTest(const ToolArgs &args) {
  ToolRun run;
  run.quiet = args.Verbosity() < 0;
  const char *archiveArg = args.operands[0].c_str();
  const char *password = args.Has("password") ? args.Value("password")->c_str() : nullptr;
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
    printf("ok: %llu entries, %llu bytes checked\n", (unsigned long long)run.entries, (unsigned long long)run.bytes);
  return 0;
}

}  // namespace

const ToolVerb &TestVerb() {
  static const ToolVerb verb = {"test",
                                "ARCHIVE",
                                1,
                                1,
                                "check every entry of a ZIP archive or self-extractor",
                                "Decodes every entry of ARCHIVE and checks its CRC-32, writing nothing.\n",
                                ToolWithPasswords(nullptr, 0),
                                kToolExitsEngine,
                                RunTest};
  return verb;
}
