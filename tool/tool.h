// The kvsfx host tool: one verb per file, dispatched from main.cpp.
#ifndef KV_TOOL_H
#define KV_TOOL_H

#include <cstdio>
#include <string>

#include "tool_os.h"

// Exit codes of every verb.
constexpr int TOOL_OK = 0;
constexpr int TOOL_FAILED = 1;  // the work was refused or failed
constexpr int TOOL_USAGE = 2;   // bad command line

struct ToolVerb;
// Each verb: its option table, help texts and the function that runs it.
const ToolVerb &BuildVerb();
const ToolVerb &InfoVerb();
const ToolVerb &ExtractVerb();
const ToolVerb &TestVerb();
const ToolVerb &ListVerb();

// The exit statuses of the verbs that only read or write files (build,
// info) and of those that run the archive engine (extract, test, list).
extern const char kToolExitsPlain[];
extern const char kToolExitsEngine[];

// Reads a whole file. On failure returns false and describes why in *error.
bool ToolReadFile(const std::string &path, std::string *data, std::string *error);
// The stub of that name beside the tool, else in the share/kvsfx folder of
// an installation (bin/../share/kvsfx); the first path when neither exists.
std::string ToolFindStub(const char *name);
// The language texts built into the tool: "de" and "en". Null otherwise.
const std::string *ToolBuiltinLanguage(const std::string &name);
// Writes text for a terminal: control characters escaped (\n, \r, \t,
// \xNN) and Windows-1252 letters of the Latin-1 range as UTF-8.
std::string ToolPrintable(const char *text, size_t length);
std::string ToolPrintable(const char *text);
// The length of the well-formed, shortest-form UTF-8 sequence at text[i], or
// 0 when the bytes there are none.
size_t ToolUtf8Length(const std::string &text, size_t i);
// Text for a message: UTF-8 passes, every other byte (and control bytes and
// backslashes) escaped as \xNN or \\.
std::string ToolEscapeNonUtf8(const std::string &text);

#endif
