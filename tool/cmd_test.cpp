// kvsfx test: decodes every entry of a ZIP file or self-extractor and checks
// it, writing nothing.
#include <cstdio>
#include <cstring>

#include "../archive/zip_job.h"
#include "../launcher/dialog_path.h"
#include "archive_cmd.h"
#include "args.h"
#include "tool.h"

namespace {

int RunTest(const ToolArgs &args) {
  ToolRun run;
  run.verb = "test";
  run.quiet = args.Verbosity() < 0;
  run.verbose = args.Verbosity() > 0 && !args.Has("json");
  std::string json;
  if (args.Has("json")) {
    run.json = &json;
    run.noQuestions = 1;  // a script cannot answer
  }
  std::string password;
  if (!ToolTakePassword(args, &password, &run.passwordGiven)) return TOOL_USAGE;
  run.shown = args.operands[0];
  if (!ToolCheckArchive(run.verb, run.shown)) return ErrorToExitCode(ERR_FILE_ACCESS);
  std::string archivePath = ToolArchivePath(run.shown.c_str());
  if (archivePath.size() >= PATH_BUF_SIZE) {
    fprintf(stderr, "kvsfx test: path longer than %u characters\n", (unsigned)(PATH_BUF_SIZE - 1));
    return TOOL_USAGE;
  }
  // The run reads the directory once; the total for the progress line comes
  // from the engine when it starts.
  ArchiveRunRequest request = {};
  request.archivePath = archivePath.c_str();
  request.folder = "";
  request.test = 1;
  request.password = run.passwordGiven ? password.c_str() : nullptr;
  int32_t code = ToolRunEngine(&run, &request);
  if (run.json) {
    printf("{\n  \"archive\": %s,\n  \"entries\": [%s%s],\n", ToolJson(run.shown).c_str(), json.c_str(),
           json.empty() ? "" : "\n  ");
    printf("  \"summary\": {\"ok\": %llu, \"failed\": %llu, \"bytes\": %llu},\n", (unsigned long long)run.entries,
           (unsigned long long)run.failures, (unsigned long long)run.bytes);
    if (code == 0)
      printf("  \"result\": \"ok\",\n  \"error\": 0,\n  \"exit_status\": 0\n}\n");
    else
      printf("  \"result\": \"error\",\n  \"error\": %d,\n  \"message\": %s,\n  \"exit_status\": %d\n}\n", (int)code,
             ToolJson(ToolErrorText(run, code)).c_str(), ErrorToExitCode(code));
  }
  if (code != 0) return ToolReportError(run, code);
  if (!run.quiet && !run.json)
    printf("ok: %llu entries, %llu bytes checked\n", (unsigned long long)run.entries, (unsigned long long)run.bytes);
  return 0;
}

const ToolOption kTestOptions[] = {
    {"json", 0, nullptr,
     "print one JSON document on standard output: each entry's result, the summary, the error; never asks for a "
     "password",
     nullptr},
};

}  // namespace

const ToolVerb &TestVerb() {
  static const ToolVerb verb = {"test",
                                "ARCHIVE",
                                1,
                                1,
                                "check every entry of a ZIP archive or self-extractor",
                                "Decodes every entry of ARCHIVE and checks its CRC-32, writing nothing.\n",
                                ToolWithPasswords(kTestOptions, 1),
                                kToolExitsEngine,
                                RunTest};
  return verb;
}
