// Fuzzes the self-extractor's command line: split as the Windows stub splits
// it, then read as switches. Every outcome is one of the three, and every
// text it keeps stays terminated inside its buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "launcher/switches.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<char> line(data, data + size);
  line.push_back('\0');
  char *args[64];
  int count = SplitCommandLine(line.data(), args, 64);
  if (count < 0 || count > 64) abort();
  SfxSwitches s;
  int outcome = ParseSwitches(count, args, &s);
  if (outcome != SWITCHES_RUN && outcome != SWITCHES_HELP && outcome != SWITCHES_BAD) abort();
  if (strnlen(s.target, sizeof s.target) == sizeof s.target || strnlen(s.bad, sizeof s.bad) == sizeof s.bad ||
      strnlen(s.parameters, sizeof s.parameters) == sizeof s.parameters)
    abort();
  if (outcome == SWITCHES_BAD && !s.bad[0] && count > 0) {
    // Only an empty argument after -- can be refused without a name.
    bool emptyArgument = false;
    for (int i = 0; i < count; ++i) emptyArgument |= !args[i][0];
    if (!emptyArgument) abort();
  }
  return 0;
}
