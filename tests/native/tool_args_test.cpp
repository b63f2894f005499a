// The tool's argument parser and the help derived from its option tables.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "launcher/sfx_meta.h"
#include "tool/args.h"
#include "tool/tool.h"

namespace {

const ToolVerb *const kVerbs[] = {&BuildVerb(), &InfoVerb(), &ExtractVerb(), &TestVerb(), &ListVerb()};

int Parse(const ToolVerb &verb, std::vector<std::string> words, ToolArgs *args, std::string *error) {
  words.insert(words.begin(), verb.name);
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(&w[0]);
  return ToolParseArgs(verb, (int)argv.size(), argv.data(), args, error);
}

// Every option of every verb is named in its help, parses in both spellings,
// and no two options share a name; a setting an option fills exists.
TEST(ToolArgs, EveryOptionIsInTheHelpAndParses) {
  for (const ToolVerb *verb : kVerbs) {
    std::string help = ToolVerbHelp(*verb);
    std::set<std::string> names;
    std::set<char> shorts;
    size_t lineStart = 0;
    for (size_t nl; (nl = help.find('\n', lineStart)) != std::string::npos; lineStart = nl + 1)
      EXPECT_LE(nl - lineStart, 79u) << verb->name << ": " << help.substr(lineStart, nl - lineStart);
    for (const ToolOption &o : ToolAllOptions(*verb)) {
      SCOPED_TRACE(std::string(verb->name) + " --" + o.name);
      EXPECT_TRUE(names.insert(o.name).second) << "twice";
      if (o.shortName) {
        EXPECT_TRUE(shorts.insert(o.shortName).second) << "short name twice";
        EXPECT_NE(std::string::npos, help.find(std::string("-") + o.shortName + ", --" + o.name));
      }
      EXPECT_NE(std::string::npos, help.find(std::string("--") + o.name + (o.value ? " " : "")));
      if (o.setting) {
        bool known = false;
        for (const SfxField &f : kSfxFields) known |= strcmp(f.name, o.setting) == 0;
        EXPECT_TRUE(known) << o.setting;
      }
      if (strcmp(o.name, "help") == 0) continue;
      std::vector<std::string> operands(verb->minOperands, "x");
      for (bool inlineValue : {false, true}) {
        std::vector<std::string> words = operands;
        if (o.value && inlineValue) {
          words.push_back(std::string("--") + o.name + "=v=1");
        } else {
          words.push_back(std::string("--") + o.name);
          if (o.value) words.push_back("v=1");
        }
        ToolArgs args;
        std::string error;
        ASSERT_EQ(ARGS_OK, Parse(*verb, words, &args, &error)) << error;
        ASSERT_EQ(1u, args.given.size());
        EXPECT_EQ(o.value ? "v=1" : "", args.given[0].second);
      }
    }
  }
}

TEST(ToolArgs, CommandLines) {
  struct Case {
    std::vector<std::string> words;
    int result;
    const char *error;  // part of the error line
    std::vector<std::string> operands;
  };
  const Case cases[] = {
      {{"a.zip", "-d", "out", "-q"}, ARGS_OK, "", {"a.zip"}},
      {{"--dir=out", "a.zip"}, ARGS_OK, "", {"a.zip"}},
      {{"-d", "out", "--", "-q"}, ARGS_OK, "", {"-q"}},
      {{"-", "-d", "o"}, ARGS_OK, "", {"-"}},
      {{"a.zip", "--colour", "red"}, ARGS_BAD, "unknown option '--colour'", {}},
      {{"a.zip", "-x"}, ARGS_BAD, "unknown option '-x'", {}},
      {{"a.zip", "--dirt=o"}, ARGS_BAD, "unknown option '--dirt=o'", {}},
      {{"a.zip", "-d"}, ARGS_BAD, "option -d needs a value", {}},
      {{"a.zip", "--quiet=yes"}, ARGS_BAD, "--quiet takes no value", {}},
      {{"-d", "o"}, ARGS_BAD, "missing ARCHIVE", {}},
      {{"a.zip", "b.zip"}, ARGS_BAD, "unexpected argument 'b.zip'", {}},
      {{"--colour", "--help"}, ARGS_BAD, "--colour", {}},
      {{"--help", "--colour"}, ARGS_HELP, "", {}},
  };
  for (const Case &c : cases) {
    ToolArgs args;
    std::string error;
    int result = Parse(ExtractVerb(), c.words, &args, &error);
    SCOPED_TRACE(c.words.size() > 1 ? c.words[0] + " " + c.words[1] : c.words[0]);
    EXPECT_EQ(c.result, result);
    EXPECT_NE(std::string::npos, error.find(c.error)) << error;
    if (result == ARGS_OK) {
      EXPECT_EQ(c.operands, args.operands);
    }
  }
}

}  // namespace
