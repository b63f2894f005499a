// kvsfx list: the entries of a ZIP file or self-extractor, in directory order.
#include <cstdio>
#include <cstring>

#include "../archive/zip_job.h"
#include "../launcher/dialog_path.h"
#include "archive_cmd.h"
#include "args.h"
#include "json_out.h"
#include "tool.h"

namespace {

const char *MethodName(const EntryRecord *e) {
  switch (e->method) {
    case 0: return "stored";
    case 8: return "deflate";
    case 9: return "deflate64";
    case 14: return "lzma";
    default: return "other";
  }
}

const char *const kEncryption[] = {"none", "traditional", "aes-128", "aes-192", "aes-256"};

struct ListOutput {
  bool json;
  bool header;
  ToolJsonDoc entries = ToolJsonDoc::array();
};

int PrintEntry(void *user, const EntryRecord *e) {
  ListOutput *out = (ListOutput *)user;
  uint32_t date = e->dosDateTime >> 16, time = e->dosDateTime & 0xFFFF;
  std::string name = e->name ? e->name : "";
  for (char &c : name)
    if (c == '\\') c = '/';
  char when[32];
  snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (date >> 9), (date >> 5) & 15, date & 31,
           time >> 11, (time >> 5) & 63, (time & 31) * 2);
  if (out->json) {
    when[10] = 'T';
    ToolJsonDoc entry = ToolJsonDoc::object();
    if (e->validName)
      entry["name"] = ToolJsonString(name);
    else
      entry["name"] = nullptr;
    entry["size"] = e->uncompressedSize;
    entry["compressed_size"] = e->compressedSize;
    entry["method"] = e->method;
    entry["method_name"] = MethodName(e);
    entry["crc32"] = e->crc32;
    entry["encryption"] = kEncryption[e->encryptionKind <= 4 ? e->encryptionKind : 0];
    entry["time"] = when;
    entry["directory"] = !name.empty() && name.back() == '/';
    out->entries.push_back(entry);
    return 1;
  }
  const char *crypt = e->encryptionKind == 1 ? " traditional" : e->encryptionKind >= 2 ? " aes" : "";
  when[16] = '\0';  // minutes are enough for eyes
  printf("%12llu %12llu  %s  %08x  %-9s%s  %s\n", (unsigned long long)e->uncompressedSize,
         (unsigned long long)e->compressedSize, when, e->crc32, MethodName(e), crypt,
         e->validName ? ToolPrintableName(name).c_str() : "(no usable name)");
  return 1;
}

int RunList(const ToolArgs &args) {
  ToolRun run;
  run.verb = "list";
  run.shown = args.operands[0];
  const bool json = args.Has("json");
  ToolJsonDoc doc = ToolJsonStart();
  doc["archive"] = ToolJsonString(run.shown);
  std::string message;
  if (!ToolCheckArchive(run.verb, run.shown, &message)) {
    if (json) {
      ToolJsonFailure(&doc, ERR_FILE_ACCESS, message, ErrorToExitCode(ERR_FILE_ACCESS));
      ToolJsonPrint(doc);
    }
    return ErrorToExitCode(ERR_FILE_ACCESS);
  }
  std::string archivePath = ToolArchivePath(run.shown.c_str());
  if (archivePath.size() >= PATH_BUF_SIZE) {
    message = "path longer than " + std::to_string(PATH_BUF_SIZE - 1) + " characters";
    fprintf(stderr, "kvsfx list: %s\n", message.c_str());
    if (json) {
      ToolJsonFailure(&doc, 0, message, TOOL_USAGE);
      ToolJsonPrint(doc);
    }
    return TOOL_USAGE;
  }
  ListOutput out = {json, args.Verbosity() >= 0};
  if (!out.json && out.header) printf("      Length       Packed  Date       Time   CRC-32    Method     Name\n");
  ListSummary summary;
  memset(&summary, 0, sizeof summary);
  static char comment[65536 * 3];
  int32_t code = ListArchive(archivePath.c_str(), nullptr, PrintEntry, &out, &summary, comment, sizeof comment);
  if (code != 0) {
    if (json) {
      ToolJsonFailure(&doc, code, ToolErrorText(run, code), ErrorToExitCode(code));
      ToolJsonPrint(doc);
    }
    return ToolReportError(run, code);
  }
  if (out.json) {
    doc["result"] = "ok";
    doc["entries"] = out.entries;
    doc["summary"] = {{"entries", summary.entries},
                      {"directories", summary.directories},
                      {"size", summary.uncompressedTotal},
                      {"compressed_size", summary.compressedTotal}};
    doc["comment"] = ToolJsonString(comment);
    ToolJsonPrint(doc);
    return 0;
  }
  if (!out.header) return 0;
  printf("%12llu %12llu  %llu entries (%llu folders)\n", (unsigned long long)summary.uncompressedTotal,
         (unsigned long long)summary.compressedTotal, (unsigned long long)summary.entries,
         (unsigned long long)summary.directories);
  if (comment[0]) printf("comment: %s\n", ToolPrintableName(comment).c_str());
  return 0;
}

const ToolOption kListOptions[] = {
    {"json", 0, nullptr,
     "print one JSON document on standard output, also on failure: each entry's name, sizes, method, encryption, "
     "CRC-32 and time, the totals and the archive comment",
     nullptr},
};

}  // namespace

const ToolVerb &ListVerb() {
  static const ToolVerb verb = {"list",
                                "ARCHIVE",
                                1,
                                1,
                                "list the entries of a ZIP archive or self-extractor",
                                "Lists the entries of ARCHIVE in the order of its central directory:\n"
                                "sizes, time, CRC-32, method, encryption and name. With --quiet only\n"
                                "the entry lines.\n",
                                {std::begin(kListOptions), std::end(kListOptions)},
                                kToolExitsEngine,
                                RunList};
  return verb;
}
