// kvsfx: the host tool that builds and inspects self-extractors. Each verb
// lives in its own file with its option table; adding one means a
// declaration in tool.h and a line in the table below.
#include <cstdio>
#include <cstring>
#include <string>

#include "archive_cmd.h"
#include "args.h"
#include "json_out.h"
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
          "       kvsfx --version\n"
          "       kvsfx --man          (this help as a manual page, in roff)\n\n"
          "verbs:\n");
  for (const ToolVerb *v : Verbs()) fprintf(out, "  %-10s %s\n", v->name, v->summary);
}

// Text for roff: backslashes and a leading dot or quote made harmless,
// line breaks of the tables' texts become blanks (roff fills the lines).
std::string Roff(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else if (c == '\n') out += ' ';
    else out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

// Paragraphs (separated by lines) of an about text as roff: every line of
// it is a line of its own in the source, so a leading dot is escaped.
std::string RoffLines(const char *text) {
  std::string out, line;
  for (const char *p = text;; ++p) {
    if (*p == '\n' && !line.empty() && line.back() == '-' && p[1]) continue;  // a word broken at its hyphen
    if (*p == '\n' || !*p) {
      if (!line.empty()) out += Roff(line) + "\n";
      line.clear();
      if (!*p) break;
    } else {
      line += *p;
    }
  }
  return out;
}

// The manual page, from the same tables as the help.
void PrintManPage() {
  std::string page = ".TH KVSFX 1 \"\" \"kvsfx " KV_VERSION "\" \"User Commands\"\n";
  page += ".SH NAME\nkvsfx \\- build, inspect, test and extract self\\-extracting ZIP archives\n";
  page += ".SH SYNOPSIS\n";
  for (const ToolVerb *v : Verbs())
    page += ".B kvsfx " + std::string(v->name) + "\n[options] " + Roff(v->operands) + "\n.br\n";
  page += ".B kvsfx \\-\\-version\n";
  page += ".SH DESCRIPTION\n";
  page += "Each verb describes its options and exit statuses below, as \\fBkvsfx help\\fR \\fIVERB\\fR prints them.\n";
  page += "Options may come before or after the arguments, as \\fB\\-\\-opt value\\fR or \\fB\\-\\-opt=value\\fR;"
          " \\fB\\-\\-\\fR ends them.\n";
  for (const ToolVerb *v : Verbs()) {
    page += ".SH \"kvsfx " + std::string(v->name) + "\"\n" + Roff(v->summary) + ".\n.PP\n" + RoffLines(v->about);
    page += ".SS Options\n";
    for (const ToolOption &o : ToolAllOptions(*v)) {
      page += ".TP\n";
      if (o.shortName) page += std::string("\\fB\\-") + o.shortName + "\\fR, ";
      page += "\\fB\\-\\-" + Roff(o.name) + "\\fR";
      if (o.value) page += " \\fI" + Roff(o.value) + "\\fR";
      page += "\n" + Roff(o.help) + "\n";
    }
    page += ".SS \"Exit status\"\n.nf\n" + RoffLines(v->exits) + ".fi\n";
  }
  page += ".SH ENVIRONMENT\n.TP\n.B SOURCE_DATE_EPOCH\n"
          "with \\fBbuild \\-\\-from\\fR: the time of every entry, for byte\\-identical builds\n"
          ".TP\n.B KVSFX_PASSWORD\nthe password when neither \\fB\\-\\-password\\fR nor \\fB\\-\\-password\\-file\\fR"
          " gives one\n";
  page += ".SH \"SEE ALSO\"\nThe README in the documentation folder (share/doc/kvsfx) describes the formats, the"
          " settings and the recipes.\n";
  fputs(page.c_str(), stdout);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return TOOL_USAGE;
  }
  const char *verb = argv[1];
  if (strcmp(verb, "--man") == 0) {
    PrintManPage();
    return TOOL_OK;
  }
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
    case ARGS_BAD: {
      fprintf(stderr, "kvsfx %s: %s (see kvsfx help %s)\n", v->name, error.c_str(), v->name);
      // A script that asked for JSON gets its document for a bad command line too.
      bool json = false;
      for (int i = 2; i < argc && strcmp(argv[i], "--") != 0; ++i) json |= strcmp(argv[i], "--json") == 0;
      if (json) {
        ToolJsonDoc doc = ToolJsonStart();
        ToolJsonFailure(&doc, 0, error, TOOL_USAGE);
        ToolJsonPrint(doc);
      }
      return TOOL_USAGE;
    }
    default: return v->run(args);
  }
}
