// kvsfx test: decodes every entry of a ZIP file or self-extractor and checks
// it, writing nothing.
#include <cstdio>
#include <cstring>

#include "../archive/zip_job.h"
#include "../launcher/dialog_path.h"
#include "archive_cmd.h"
#include "args.h"
#include "json_out.h"
#include "tool.h"

namespace {

int RunTest(const ToolArgs &args) {
  ToolRun run;
  run.verb = "test";
  run.quiet = args.Verbosity() < 0;
  run.verbose = args.Verbosity() > 0 && !args.Has("json");
  const bool json = args.Has("json");
  ToolJsonDoc entries = ToolJsonDoc::array();
  if (json) {
    run.json = &entries;
    run.noQuestions = 1;  // a script cannot answer
  }
  run.shown = args.operands[0];
  ToolJsonDoc doc = ToolJsonStart();
  doc["archive"] = ToolJsonString(run.shown);
  // A refusal before the engine runs is still one document.
  auto refused = [&](int64_t code, const std::string &message, int status) {
    if (json) {
      ToolJsonFailure(&doc, code, message, status);
      ToolJsonPrint(doc);
    }
    return status;
  };
  std::string password, message;
  if (!ToolTakePassword(args, &password, &run.passwordGiven, &message)) return refused(0, message, TOOL_USAGE);
  if (!ToolCheckArchive(run.verb, run.shown, &message))
    return refused(ERR_FILE_ACCESS, message, ErrorToExitCode(ERR_FILE_ACCESS));
  std::string archivePath = ToolArchivePath(run.shown.c_str());
  if (archivePath.size() >= PATH_BUF_SIZE) {
    message = "path longer than " + std::to_string(PATH_BUF_SIZE - 1) + " characters";
    fprintf(stderr, "kvsfx test: %s\n", message.c_str());
    return refused(0, message, TOOL_USAGE);
  }
  // The run reads the directory once; the total for the progress line comes
  // from the engine when it starts.
  ArchiveRunRequest request = {};
  request.archivePath = archivePath.c_str();
  request.folder = "";
  request.test = 1;
  request.password = run.passwordGiven ? password.c_str() : nullptr;
  int32_t code = ToolRunEngine(&run, &request);
  if (json) {
    doc["entries"] = entries;
    doc["summary"] = {{"ok", run.entries}, {"failed", run.failures}, {"bytes", run.bytes}};
    if (code == 0) {
      doc["result"] = "ok";
      doc["error"] = 0;
      doc["exit_status"] = 0;
    } else {
      ToolJsonFailure(&doc, code, ToolErrorText(run, code), ErrorToExitCode(code));
    }
    ToolJsonPrint(doc);
  }
  if (code != 0) return ToolReportError(run, code);
  if (!run.quiet && !json)
    printf("ok: %llu entries, %llu bytes checked\n", (unsigned long long)run.entries, (unsigned long long)run.bytes);
  return 0;
}

const ToolOption kTestOptions[] = {
    {"json", 0, nullptr,
     "print one JSON document on standard output, also on failure: each entry's result, the summary, the error; "
     "never asks for a password",
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
