// Helpers shared by the tool's verbs.
#include <cerrno>
#include <cstring>

#include "kv_lang_embedded.h"
#include "tool.h"
#include "tool_os.h"

bool ToolReadFile(const std::string &path, std::string *data, std::string *error) {
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) {
    *error = "cannot open '" + path + "': " + strerror(errno);
    return false;
  }
  data->clear();
  char buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, f)) > 0) data->append(buffer, got);
  bool ok = !ferror(f);
  if (!ok) *error = "cannot read '" + path + "': " + strerror(errno);
  fclose(f);
  return ok;
}

std::string ToolFindStub(const char *name) {
  const std::string self = ToolSelfDir();
  const std::string beside = self + kToolSeparator + name;
  const std::string installed =
      self + kToolSeparator + ".." + kToolSeparator + "share" + kToolSeparator + "kvsfx" + kToolSeparator + name;
  std::string why;
  if (ToolKindOf(beside, &why) == TOOL_MISSING && ToolKindOf(installed, &why) != TOOL_MISSING) return installed;
  return beside;
}

const std::string *ToolBuiltinLanguage(const std::string &name) {
  static const std::string de((const char *)kLangDe, sizeof kLangDe);
  static const std::string en((const char *)kLangEn, sizeof kLangEn);
  if (name == "de") return &de;
  if (name == "en") return &en;
  return nullptr;
}

std::string ToolPrintable(const char *text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = (unsigned char)text[i];
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7f) {
      out += (char)c;
    } else if (c >= 0xA0) {
      out += (char)(0xC0 | (c >> 6));
      out += (char)(0x80 | (c & 0x3F));
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

std::string ToolPrintable(const char *text) { return ToolPrintable(text, strlen(text)); }

const char kToolExitsPlain[] =
    "  0  done\n"
    "  1  refused or failed (one line on standard error says why; no file written)\n"
    "  2  bad command line\n";

const char kToolExitsEngine[] =
    "  0  done\n"
    "  2  bad command line\n"
    "  3  not a ZIP archive, or its end record is damaged\n"
    "  4  damaged data: CRC error, invalid or unsupported compressed data\n"
    "  5  a file or folder cannot be opened or created\n"
    "  6  writing failed (disk full?)\n"
    "  7  out of memory\n"
    "  8  other errors, among them a wrong or missing password\n"
    "  9  cancelled (Ctrl+C or 'quit' at a question)\n";
