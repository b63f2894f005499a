// The argument parser and the help that derives from the option tables.
#include "args.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>

const std::vector<ToolOption> &ToolCommonOptions() {
  static const std::vector<ToolOption> common = {
      {"help", 'h', nullptr, "show this help and exit", nullptr},
      {"quiet", 'q', nullptr, "print only results and errors", nullptr},
      {"verbose", 'v', nullptr, "say more about what is done", nullptr},
  };
  return common;
}

const ToolOption kToolPasswordOptions[2] = {
    {"password", 0, "PW",
     "the password for encrypted entries; other users of this machine\n"
     "can see a command line, so prefer --password-file or the\n"
     "KVSFX_PASSWORD environment variable",
     nullptr},
    {"password-file", 0, "FILE",
     "read the password from the first line of FILE. Without either option the KVSFX_PASSWORD environment "
     "variable gives it; without that too it is asked on a terminal (not with --json)",
     nullptr},
};

std::vector<ToolOption> ToolWithPasswords(const ToolOption *options, size_t count) {
  std::vector<ToolOption> all(options, options + count);
  all.insert(all.end(), kToolPasswordOptions, kToolPasswordOptions + 2);
  return all;
}

std::vector<ToolOption> ToolAllOptions(const ToolVerb &verb) {
  std::vector<ToolOption> all = verb.options;
  all.insert(all.end(), ToolCommonOptions().begin(), ToolCommonOptions().end());
  return all;
}

const ToolOption *ToolArgs::Find(const char *name) const {
  for (const ToolOption &o : all_)
    if (strcmp(o.name, name) == 0) return &o;
  fprintf(stderr, "kvsfx: internal error: verb %s has no option --%s\n", verb ? verb->name : "?", name);
  abort();
}

bool ToolArgs::Has(const char *name) const { return Value(name) != nullptr; }

const std::string *ToolArgs::Value(const char *name) const {
  Find(name);
  const std::string *last = nullptr;
  for (const auto &g : given)
    if (strcmp(g.first->name, name) == 0) last = &g.second;
  return last;
}

std::vector<std::string> ToolArgs::Values(const char *name) const {
  Find(name);
  std::vector<std::string> values;
  for (const auto &g : given)
    if (strcmp(g.first->name, name) == 0) values.push_back(g.second);
  return values;
}

int ToolArgs::Verbosity() const {
  // The later of the two wins, as with any repeated option.
  int level = 0;
  for (const auto &g : given) {
    if (strcmp(g.first->name, "quiet") == 0) level = -1;
    if (strcmp(g.first->name, "verbose") == 0) level = 1;
  }
  return level;
}

namespace {

// Edits (insert, delete, replace, swap of neighbours) between a and b.
size_t EditDistance(const std::string &a, const std::string &b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t best = std::min(d[i - 1][j] + 1, d[i][j - 1] + 1);
      best = std::min(best, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1));
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) best = std::min(best, d[i - 2][j - 2] + 1);
      d[i][j] = best;
    }
  return d[a.size()][b.size()];
}

}  // namespace

std::string NearestOption(const std::vector<ToolOption> &options, const std::string &arg) {
  std::string name = arg.substr(0, arg.find('='));
  while (!name.empty() && name[0] == '-') name.erase(0, 1);
  if (name.size() < 2) return std::string();
  const ToolOption *best = nullptr;
  size_t bestDistance = 0;
  for (const ToolOption &o : options) {
    std::string candidate = o.name;
    size_t distance = EditDistance(name, candidate);
    // A prefix (--verb for --verbose) is as near as one edit.
    if (candidate.compare(0, name.size(), name) == 0) distance = std::min<size_t>(distance, 1);
    if (!best || distance < bestDistance) {
      best = &o;
      bestDistance = distance;
    }
  }
  // Far-off names get no suggestion: a third of the name may be wrong.
  if (!best || bestDistance > std::max<size_t>(1, name.size() / 3)) return std::string();
  return std::string("; did you mean --") + best->name + "?";
}

int ToolParseArgs(const ToolVerb &verb, int argc, char **argv, ToolArgs *out, std::string *error) {
  out->verb = &verb;
  out->all_ = ToolAllOptions(verb);
  out->given.clear();
  out->operands.clear();
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (!options || arg.size() < 2 || arg[0] != '-') {
      out->operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options = false;
      continue;
    }
    const ToolOption *match = nullptr;
    std::string value;
    bool inlineValue = false;
    if (arg[1] == '-') {
      size_t eq = arg.find('=');
      std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
        inlineValue = true;
      }
      for (const ToolOption &o : out->all_)
        if (name == o.name) match = &o;
      if (match && inlineValue && !match->value) {
        *error = "option --" + name + " takes no value";
        return ARGS_BAD;
      }
    } else if (arg.size() == 2) {
      for (const ToolOption &o : out->all_)
        if (o.shortName == arg[1]) match = &o;
    }
    if (!match) {
      *error = "unknown option '" + arg + "'" + NearestOption(out->all_, arg);
      return ARGS_BAD;
    }
    if (strcmp(match->name, "help") == 0) return ARGS_HELP;
    if (match->value && !inlineValue) {
      if (i + 1 >= argc) {
        *error = "option " + arg + " needs a value (" + match->value + ")";
        return ARGS_BAD;
      }
      value = argv[++i];
    }
    out->given.emplace_back(match, value);
  }
  if (out->operands.size() < verb.minOperands) {
    *error = "missing " + std::string(verb.operands).substr(0, strcspn(verb.operands, " "));
    return ARGS_BAD;
  }
  if (out->operands.size() > verb.maxOperands) {
    *error = "unexpected argument '" + out->operands[verb.maxOperands] + "'";
    return ARGS_BAD;
  }
  return ARGS_OK;
}

namespace {

// Appends text word-wrapped to the columns between indent and width; the
// first line continues the current one.
void AppendWrapped(std::string *out, const char *text, size_t indent, size_t width) {
  std::string line;
  const char *p = text;
  while (*p) {
    while (*p == ' ' || *p == '\n') ++p;
    const char *end = p;
    while (*end && *end != ' ' && *end != '\n') ++end;
    if (end == p) break;
    std::string word(p, end);
    if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
      *out += line + "\n" + std::string(indent, ' ');
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    p = end;
  }
  *out += line + "\n";
}

}  // namespace

std::string ToolVerbHelp(const ToolVerb &verb) {
  std::string out = std::string("usage: kvsfx ") + verb.name + " [options]";
  if (verb.operands[0]) out += std::string(" ") + verb.operands;
  out += "\n\n";
  out += verb.about;
  out += "\noptions:\n";
  const size_t column = 26;
  for (const ToolOption &o : ToolAllOptions(verb)) {
    std::string left = "  ";
    left += o.shortName ? std::string("-") + o.shortName + ", " : "    ";
    left += std::string("--") + o.name;
    if (o.value) left += std::string(" ") + o.value;
    if (left.size() + 2 > column) {
      out += left + "\n";
      left.clear();
    }
    left.resize(column, ' ');
    out += left;
    AppendWrapped(&out, o.help, column, 79);
  }
  out += "  --                      end of the options: what follows is an argument\n";
  out += "\nexit status:\n";
  out += verb.exits;
  return out;
}
