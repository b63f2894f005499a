// kvsfx: the host tool that builds and inspects self-extractors. Each verb
// lives in its own file; adding one means a declaration in tool.h and a line
// in the table below.
#include <cstdio>
#include <cstring>

#include "archive_cmd.h"
#include "tool.h"

namespace {

struct ToolVerb {
  const char *name;
  const char *summary;
  int (*run)(int argc, char **argv);
};

const ToolVerb kVerbs[] = {
    {"build", "make a self-extractor from a ZIP archive", CmdBuild},
    {"info", "show the block and settings of a self-extractor", CmdInfo},
    {"extract", "extract a ZIP archive or self-extractor into a folder", CmdExtract},
    {"test", "check every entry of a ZIP archive or self-extractor", CmdTest},
    {"list", "list the entries of a ZIP archive or self-extractor", CmdList},
};

void PrintUsage(FILE *out) {
  fprintf(out,
          "usage: kvsfx VERB [OPTIONS]\n"
          "       kvsfx VERB --help\n\n"
          "verbs:\n");
  for (const ToolVerb &v : kVerbs) fprintf(out, "  %-10s %s\n", v.name, v.summary);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return TOOL_USAGE;
  }
  const char *verb = argv[1];
  if (strcmp(verb, "--help") == 0 || strcmp(verb, "-h") == 0 || strcmp(verb, "help") == 0) {
    PrintUsage(stdout);
    return TOOL_OK;
  }
  for (const ToolVerb &v : kVerbs)
    if (strcmp(verb, v.name) == 0) return v.run(argc - 1, argv + 1);
  fprintf(stderr, "kvsfx: unknown verb '%s' (try kvsfx --help)\n", verb);
  return TOOL_USAGE;
}
