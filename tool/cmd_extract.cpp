// kvsfx extract: any ZIP file or self-extractor into a folder, on the same
// engine as the self-extractor.
#include <cstdio>
#include <cstring>
#include <vector>

#include "../archive/zip_job.h"
#include "../launcher/dialog_path.h"
#include "archive_cmd.h"
#include "args.h"
#include "tool.h"
#include "tool_os.h"

namespace {

// Makes path and its missing parents, noting each one made so that a
// failed run can take them away again. False after one line on stderr.
bool MakeFolders(const std::string &shown, const std::string &path, std::vector<std::string> *made) {
  for (size_t i = 1; i <= path.size(); i++) {
    if (i < path.size() && !ToolIsSeparator(path[i])) continue;
    std::string prefix = path.substr(0, i), why;
    ToolPathKind kind = ToolKindOf(prefix, &why);
    if (kind == TOOL_FOLDER) continue;
    if (kind == TOOL_FILE) {
      fprintf(stderr, "kvsfx extract: cannot use '%s' as the target folder: %s is a file\n", shown.c_str(),
              prefix == path ? "it" : ("'" + prefix + "'").c_str());
      return false;
    }
    if (!ToolMakeFolder(prefix, &why)) {
      fprintf(stderr, "kvsfx extract: cannot create the folder '%s': %s\n",
              prefix == path ? shown.c_str() : prefix.c_str(), why.c_str());
      return false;
    }
    made->push_back(prefix);
  }
  return true;
}

// Folders this run made, newest first; only empty ones go.
void RemoveFolders(const std::vector<std::string> &made) {
  for (auto it = made.rbegin(); it != made.rend(); ++it) ToolRemoveEmptyFolder(*it);
}

int RunExtract(const ToolArgs &args) {
  ToolRun run;
  run.verb = "extract";
  run.quiet = args.Verbosity() < 0;
  run.verbose = args.Verbosity() > 0;
  int overwrite = args.Has("overwrite");
  run.skipExisting = args.Has("skip-existing");
  if (overwrite && run.skipExisting) {
    fprintf(stderr, "kvsfx extract: --overwrite and --skip-existing exclude each other\n");
    return TOOL_USAGE;
  }
  const std::string *folderArg = args.Value("dir");
  if (!folderArg || folderArg->empty()) {
    fprintf(stderr, "kvsfx extract: the target folder (-d DIR) is required\n");
    return TOOL_USAGE;
  }
  std::string password;
  if (!ToolTakePassword(args, &password, &run.passwordGiven)) return TOOL_USAGE;
  run.shown = args.operands[0];
  if (!ToolCheckArchive(run.verb, run.shown)) return ErrorToExitCode(ERR_FILE_ACCESS);
  std::string archivePath = ToolArchivePath(run.shown.c_str());
  std::string native = ToolAbsolute(*folderArg);
  if (archivePath.size() >= PATH_BUF_SIZE || native.size() >= PATH_BUF_SIZE) {
    fprintf(stderr, "kvsfx extract: path longer than %u characters\n", (unsigned)(PATH_BUF_SIZE - 1));
    return TOOL_USAGE;
  }
  // An archive that cannot be read leaves no folder: the engine reads the
  // whole directory before it writes anything, and the folders made for it
  // go again when it fails.
  std::vector<std::string> made;
  if (native.empty() || !MakeFolders(*folderArg, native, &made)) {
    RemoveFolders(made);
    return ErrorToExitCode(ERR_FILE_ACCESS);
  }
  std::string folder = ToolProgramPath(native);
  ArchiveRunRequest request = {};
  request.archivePath = archivePath.c_str();
  request.folder = folder.c_str();
  request.overwriteMode = overwrite ? 1 : 0;
  request.password = run.passwordGiven ? password.c_str() : nullptr;
  int32_t code = ToolRunEngine(&run, &request);
  if (code != 0) {
    RemoveFolders(made);
    return ToolReportError(run, code);
  }
  if (!run.quiet)
    printf("extracted %llu entries (%llu bytes) into %s%s\n", (unsigned long long)run.entries,
           (unsigned long long)run.bytes, folderArg->c_str(), run.skipped ? ", existing files skipped" : "");
  return 0;
}

const ToolOption kExtractOptions[] = {
    {"dir", 'd', "DIR", "the folder to extract into (required; made when missing)", nullptr},
    {"overwrite", 0, nullptr, "replace existing files without asking", nullptr},
    {"skip-existing", 0, nullptr,
     "keep existing files without asking (the default without a\n"
     "terminal; with one, each is asked about)",
     nullptr},
};

}  // namespace

const ToolVerb &ExtractVerb() {
  static const ToolVerb verb = {"extract",
                                "ARCHIVE -d DIR",
                                1,
                                1,
                                "extract a ZIP archive or self-extractor into a folder",
                                "Extracts every entry of ARCHIVE (a ZIP archive, a self-extractor, or the\n"
                                "last volume of a split set) into DIR, on the same engine as the\n"
                                "self-extractor.\n",
                                ToolWithPasswords(kExtractOptions, sizeof kExtractOptions / sizeof *kExtractOptions),
                                kToolExitsEngine,
                                RunExtract};
  return verb;
}
