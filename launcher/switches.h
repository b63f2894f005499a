// The command line of a self-extractor built with --switches (bit 3 of
// reservedC): /s, /d:DIR, /x, /? and `--` followed by parameters for the run
// command. Without the bit the command line is never read.
#ifndef KV_SWITCHES_H
#define KV_SWITCHES_H

#include <cstdint>

#include "../fileio/kv_base.h"

constexpr uint32_t SFX_FLAG_SWITCHES = 8;
constexpr uint32_t SFX_FLAG_TEST_FIRST = 16;

// The exit code of a run refused for a wrong switch: no code of the
// start-up or extraction tables.
constexpr int EXIT_BAD_SWITCH = 10;

enum SwitchOutcome { SWITCHES_RUN = 0, SWITCHES_HELP = 1, SWITCHES_BAD = 2 };

struct SfxSwitches {
  int silent;       // /s
  int extractOnly;  // /x
  char target[PATH_BUF_SIZE];      // /d:DIR, "" when not given
  char parameters[PATH_BUF_SIZE];  // what follows --, joined by blanks
  char bad[64];                    // the switch refused (cut to fit)
};

// Reads the arguments (the program's name not among them). Letters are
// compared without case. SWITCHES_BAD names the first wrong argument in
// out->bad; silent is set whenever /s is among the switches, so that the
// refusal is not shown in a box.
int ParseSwitches(int count, const char *const *args, SfxSwitches *out);

// Splits a Windows command line (without the program's name) in place into
// at most max arguments: blanks and tabs separate, double quotes group, \"
// is a quote. Returns the count.
int SplitCommandLine(char *line, char **args, int max);

// Makes the parsed switches the settings of this run (target folder with
// its folder macro resolved, unattended, no run command, more parameters).
// False when the parameters no longer fit beside the stored ones.
bool ApplySwitches(const SfxSwitches *switches);

// For the process entries, after the block was read: with the switches bit
// set, parses and applies the arguments. Returns -1 to go on with the run,
// else the exit code: 0 after /?, EXIT_BAD_SWITCH after a refusal. show
// gets the help or the refusal (error 1), the latter never with /s.
int RunSwitches(int count, const char *const *args, void (*show)(const char *text, int error));

// The text /? shows and a refusal ends with.
extern const char kSwitchesHelp[];

#endif
