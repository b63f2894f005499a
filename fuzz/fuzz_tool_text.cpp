// Fuzzes what the tool makes of outside text: command lines split from the
// input, parsed for every verb; and names from an archive written as JSON
// strings (through the JSON library) and as terminal text, which must stay valid UTF-8 without control
// characters.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tool/archive_cmd.h"
#include "tool/json_out.h"
#include "tool/args.h"
#include "tool/tool.h"

namespace {

void Check(bool ok) {
  if (!ok) abort();
}

// Well-formed UTF-8 with no byte below 0x20 and no DEL.
bool CleanUtf8(const std::string &s) {
  for (size_t i = 0; i < s.size();) {
    unsigned char c = (unsigned char)s[i];
    if (c < 0x20 || c == 0x7f) return false;
    size_t n = c < 0x80 ? 1 : c >= 0xC2 && c < 0xE0 ? 2 : c >= 0xE0 && c < 0xF0 ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if (((unsigned char)s[i + k] & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text((const char *)data, size);
  // A JSON string value of any bytes: the document stays valid UTF-8 and
  // the library escapes every control character (DEL needs no escape in JSON).
  std::string json = ToolJsonDoc(ToolJsonString(text)).dump();
  json.erase(std::remove(json.begin(), json.end(), '\x7f'), json.end());
  Check(json.size() >= 2 && json.front() == '"' && json.back() == '"' && CleanUtf8(json));
  Check(CleanUtf8(ToolPrintableName(text)));

  // Zero bytes split the input into arguments.
  std::vector<std::string> words(1, "verb");
  for (size_t start = 0; start <= size;) {
    size_t end = text.find('\0', start);
    if (end == std::string::npos) end = size;
    words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(&w[0]);
  for (const ToolVerb *verb : {&BuildVerb(), &InfoVerb(), &ExtractVerb(), &TestVerb(), &ListVerb()}) {
    ToolArgs args;
    std::string error;
    int result = ToolParseArgs(*verb, (int)argv.size(), argv.data(), &args, &error);
    Check(result == ARGS_OK || result == ARGS_HELP || (result == ARGS_BAD && !error.empty()));
    if (result == ARGS_OK)
      Check(args.operands.size() >= verb->minOperands && args.operands.size() <= verb->maxOperands);
  }
  return 0;
}
