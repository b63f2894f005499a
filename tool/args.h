// The tool's one argument parser. Every verb describes its options in one
// table; parsing, `kvsfx help VERB` and the settings-file key names all come
// from that table, so a new option is one row.
#ifndef KV_TOOL_ARGS_H
#define KV_TOOL_ARGS_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

struct ToolOption {
  const char *name;     // long name without the dashes: "archive" is --archive
  char shortName;       // 'o' is -o; 0 for none
  const char *value;    // placeholder of the value ("ZIP"); null for a flag
  const char *help;     // one paragraph; the help wraps it
  const char *setting;  // the self-extractor setting it fills (build), or null
};

class ToolArgs;

struct ToolVerb {
  const char *name;
  const char *operands;  // the usage line's arguments, operands first: "ARCHIVE -d DIR"
  size_t minOperands, maxOperands;
  const char *summary;              // one line for `kvsfx help`
  const char *about;                // paragraphs under the usage line
  std::vector<ToolOption> options;  // the verb's own; the common ones follow
  const char *exits;                // the exit statuses, one per line
  int (*run)(const ToolArgs &args);
};

// Options every verb takes, after its own.
const std::vector<ToolOption> &ToolCommonOptions();
// The verb's own options followed by the common ones.
std::vector<ToolOption> ToolAllOptions(const ToolVerb &verb);
// Options shared by the verbs that may meet an encrypted archive.
extern const ToolOption kToolPasswordOptions[2];
// options[0..count) followed by the password options.
std::vector<ToolOption> ToolWithPasswords(const ToolOption *options, size_t count);

class ToolArgs {
 public:
  const ToolVerb *verb = nullptr;
  // Options in the order given, each with its value ("" for a flag).
  std::vector<std::pair<const ToolOption *, std::string>> given;
  std::vector<std::string> operands;

  // name must be an option of the verb; asking for another is a bug in the
  // tool and aborts, so a misspelt name cannot silently read as absent.
  bool Has(const char *name) const;
  // The last value given, or null.
  const std::string *Value(const char *name) const;
  std::vector<std::string> Values(const char *name) const;
  int Verbosity() const;  // -1 quiet, 0 normal, 1 verbose

 private:
  const ToolOption *Find(const char *name) const;
  std::vector<ToolOption> all_;
  friend int ToolParseArgs(const ToolVerb &, int, char **, ToolArgs *, std::string *);
};

enum : int { ARGS_OK = 0, ARGS_HELP = 1, ARGS_BAD = -1 };
// Parses the arguments after the verb's name (argv[0] is the verb):
// --opt value, --opt=value, -o value, and `--` ends the options. ARGS_BAD
// leaves one line of explanation in *error.
int ToolParseArgs(const ToolVerb &verb, int argc, char **argv, ToolArgs *out, std::string *error);
// "; did you mean --NAME?" for the option nearest to an unknown one, or ""
// when none is near.
std::string NearestOption(const std::vector<ToolOption> &options, const std::string &arg);
// The full help of a verb, as `kvsfx help VERB` prints it.
std::string ToolVerbHelp(const ToolVerb &verb);

#endif
