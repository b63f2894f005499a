// The self-extractor's command line: what each switch does, and that a
// wrong one is refused (nothing extracted) rather than ignored.
#include <gtest/gtest.h>

#include <cstring>

#include "launcher/switches.h"

namespace {

TEST(Switches, CommandLinesAsTheStubReadsThem) {
  struct Case {
    const char *line;
    int outcome, silent, extractOnly;
    const char *target, *parameters, *bad;
  } cases[] = {
      {"", SWITCHES_RUN, 0, 0, "", "", ""},
      {"/S", SWITCHES_RUN, 1, 0, "", "", ""},
      {"/s /x", SWITCHES_RUN, 1, 1, "", "", ""},
      {"/D:\"C:\\Program Files\\App\"", SWITCHES_RUN, 0, 0, "C:\\Program Files\\App", "", ""},
      {"/d:%Temp%\\inst /s", SWITCHES_RUN, 1, 0, "%Temp%\\inst", "", ""},
      {"/? /s", SWITCHES_HELP, 1, 0, "", "", ""},
      {"-- /quiet \"two words\" x", SWITCHES_RUN, 0, 0, "", "/quiet \"two words\" x", ""},
      {"/s -- /s /q", SWITCHES_RUN, 1, 0, "", "/s /q", ""},  // after -- nothing is a switch
      {"/q", SWITCHES_BAD, 0, 0, "", "", "/q"},
      {"/d:", SWITCHES_BAD, 0, 0, "", "", "/d:"},
      {"/d", SWITCHES_BAD, 0, 0, "", "", "/d"},
      {"/sx", SWITCHES_BAD, 0, 0, "", "", "/sx"},
      {"setup /s", SWITCHES_BAD, 1, 0, "", "", "setup"},  // silent: the refusal shows no box
      {"-- a\\\"b", SWITCHES_BAD, 0, 0, "", "", "a\"b"},     // a quote cannot be passed on intact
  };
  for (const Case &c : cases) {
    char line[512];
    strcpy(line, c.line);
    char *args[16];
    int count = SplitCommandLine(line, args, 16);
    SfxSwitches s;
    EXPECT_EQ(c.outcome, ParseSwitches(count, args, &s)) << c.line;
    EXPECT_EQ(c.silent, s.silent) << c.line;
    if (c.outcome == SWITCHES_BAD) {
      EXPECT_STREQ(c.bad, s.bad) << c.line;
      continue;
    }
    EXPECT_EQ(c.extractOnly, s.extractOnly) << c.line;
    EXPECT_STREQ(c.target, s.target) << c.line;
    EXPECT_STREQ(c.parameters, s.parameters) << c.line;
  }
}

}  // namespace
