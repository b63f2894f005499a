// The documents of --json: one per run, on standard output, written through
// nlohmann::json. Every document carries "schema": 1 and snake_case keys.
#ifndef KV_TOOL_JSON_OUT_H
#define KV_TOOL_JSON_OUT_H

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

using ToolJsonDoc = nlohmann::ordered_json;

constexpr int kToolJsonSchema = 1;

// A fresh document: {"schema": 1}.
ToolJsonDoc ToolJsonStart();
// Bytes as a JSON string value: UTF-8 passes; a byte that belongs to no
// UTF-8 sequence is taken as Latin-1 (a name in a legacy code page keeps
// its letters, and the document stays valid UTF-8).
std::string ToolJsonString(const std::string &bytes);
// "premessageCaption" -> "premessage_caption".
std::string ToolSnakeCase(const char *camel);
// The failure part of a document: "result": "error", the engine's code (or
// null), the one-line message and the exit status.
void ToolJsonFailure(ToolJsonDoc *doc, int64_t code, const std::string &message, int exitStatus);
// Prints the document and a line break on standard output.
void ToolJsonPrint(const ToolJsonDoc &doc);

#endif
