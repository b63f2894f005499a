// kvsfx: the host tool that builds and inspects self-extractors. Each verb
// lives in its own file with its option table; adding one means a
// declaration in tool.h and a line in the table below.
#include <cstdio>
#include <cstring>

#include "archive_cmd.h"
#include "args.h"
#include "tool.h"

namespace {

// Built on first use: the verbs' tables are other files' statics.
const std::vector<const ToolVerb *> &Verbs() {
  static const std::vector<const ToolVerb *> verbs = {&BuildVerb(), &InfoVerb(), &ExtractVerb(), &TestVerb(),
                                                      &ListVerb()};
  return verbs;
}

const ToolVerb *FindVerb(const char *name) {
  for (const ToolVerb *v : Verbs())
    if (strcmp(name, v->name) == 0) return v;
  return nullptr;
}

void PrintUsage(FILE *out) {
  fprintf(out,
          "usage: kvsfx VERB [options] [arguments]\n"
          "       kvsfx help VERB      (or kvsfx VERB --help)\n"
          "       kvsfx --version\n\n"
          "verbs:\n");
  for (const ToolVerb *v : Verbs()) fprintf(out, "  %-10s %s\n", v->name, v->summary);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return TOOL_USAGE;
  }
  const char *verb = argv[1];
  if (strcmp(verb, "--version") == 0) {
    printf("kvsfx %s\n", KV_VERSION);
    return TOOL_OK;
  }
  if (strcmp(verb, "--help") == 0 || strcmp(verb, "-h") == 0 || (strcmp(verb, "help") == 0 && argc == 2)) {
    PrintUsage(stdout);
    return TOOL_OK;
  }
  if (strcmp(verb, "help") == 0) {
    const ToolVerb *v = argc == 3 ? FindVerb(argv[2]) : nullptr;
    if (!v) {
      std::string names;
      for (const ToolVerb *known : Verbs()) names += std::string(names.empty() ? "" : ", ") + known->name;
      fprintf(stderr, "kvsfx help: %s (verbs: %s)\n",
              argc == 3 ? ("unknown verb '" + std::string(argv[2]) + "'").c_str() : "expected one VERB", names.c_str());
      return TOOL_USAGE;
    }
    fputs(ToolVerbHelp(*v).c_str(), stdout);
    return TOOL_OK;
  }
  const ToolVerb *v = FindVerb(verb);
  if (!v) {
    fprintf(stderr, "kvsfx: unknown verb '%s' (try kvsfx --help)\n", verb);
    return TOOL_USAGE;
  }
  ToolArgs args;
  std::string error;
  switch (ToolParseArgs(*v, argc - 1, argv + 1, &args, &error)) {
    case ARGS_HELP: fputs(ToolVerbHelp(*v).c_str(), stdout); return TOOL_OK;
    case ARGS_BAD:
      fprintf(stderr, "kvsfx %s: %s (see kvsfx help %s)\n", v->name, error.c_str(), v->name);
      return TOOL_USAGE;
    default: return v->run(args);
  }
}
