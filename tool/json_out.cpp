#include "json_out.h"

#include <cstdio>

#include "tool.h"

ToolJsonDoc ToolJsonStart() {
  ToolJsonDoc doc = ToolJsonDoc::object();
  doc["schema"] = kToolJsonSchema;
  return doc;
}

std::string ToolJsonString(const std::string &bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    size_t n = ToolUtf8Length(bytes, i);
    if (n > 0) {
      out.append(bytes, i, n);
      i += n - 1;
    } else {
      unsigned char c = (unsigned char)bytes[i];
      out += (char)(0xC0 | (c >> 6));
      out += (char)(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string ToolSnakeCase(const char *camel) {
  std::string out;
  for (const char *p = camel; *p; ++p) {
    if (*p >= 'A' && *p <= 'Z') {
      if (!out.empty()) out += '_';
      out += (char)(*p - 'A' + 'a');
    } else {
      out += *p;
    }
  }
  return out;
}

void ToolJsonFailure(ToolJsonDoc *doc, int64_t code, const std::string &message, int exitStatus) {
  (*doc)["result"] = "error";
  if (code)
    (*doc)["error"] = code;
  else
    (*doc)["error"] = nullptr;
  (*doc)["message"] = ToolJsonString(message);
  (*doc)["exit_status"] = exitStatus;
}

void ToolJsonPrint(const ToolJsonDoc &doc) {
  // Every string went through ToolJsonString; replacing stays a safety net.
  std::string text = doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  fputs(text.c_str(), stdout);
  fputc('\n', stdout);
}
