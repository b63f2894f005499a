// kvsfx list: the entries of a ZIP file or self-extractor, in directory order.
#include <cstdio>
#include <cstring>

#include "../archive/zip_job.h"
#include "../launcher/dialog_path.h"
#include "archive_cmd.h"
#include "args.h"
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
  std::string entries;  // JSON objects
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
    char numbers[160];
    snprintf(numbers, sizeof numbers,
             "\"size\": %llu, \"compressed_size\": %llu, \"method\": %u, \"method_name\": \"%s\", \"crc32\": %u",
             (unsigned long long)e->uncompressedSize, (unsigned long long)e->compressedSize, e->method, MethodName(e),
             e->crc32);
    if (!out->entries.empty()) out->entries += ",";
    out->entries += "\n    {\"name\": " + (e->validName ? ToolJson(name) : "null") + ", " + numbers +
                    ", \"encryption\": \"" + kEncryption[e->encryptionKind <= 4 ? e->encryptionKind : 0] +
                    "\", \"time\": \"" + when +
                    "\", \"directory\": " + (!name.empty() && name.back() == '/' ? "true" : "false") + "}";
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
  if (!ToolCheckArchive(run.verb, run.shown)) return ErrorToExitCode(ERR_FILE_ACCESS);
  std::string archivePath = ToolArchivePath(run.shown.c_str());
  if (archivePath.size() >= PATH_BUF_SIZE) {
    fprintf(stderr, "kvsfx list: path longer than %u characters\n", (unsigned)(PATH_BUF_SIZE - 1));
    return TOOL_USAGE;
  }
  ListOutput out = {args.Has("json"), args.Verbosity() >= 0, std::string()};
  if (!out.json && out.header) printf("      Length       Packed  Date       Time   CRC-32    Method     Name\n");
  ListSummary summary;
  memset(&summary, 0, sizeof summary);
  static char comment[65536 * 3];
  int32_t code = ListArchive(archivePath.c_str(), nullptr, PrintEntry, &out, &summary, comment, sizeof comment);
  if (code != 0) return ToolReportError(run, code);
  if (out.json) {
    printf("{\n  \"archive\": %s,\n  \"entries\": [%s%s],\n", ToolJson(run.shown).c_str(), out.entries.c_str(),
           out.entries.empty() ? "" : "\n  ");
    printf("  \"summary\": {\"entries\": %llu, \"directories\": %llu, \"size\": %llu, \"compressed_size\": %llu},\n",
           (unsigned long long)summary.entries, (unsigned long long)summary.directories,
           (unsigned long long)summary.uncompressedTotal, (unsigned long long)summary.compressedTotal);
    printf("  \"comment\": %s\n}\n", ToolJson(comment).c_str());
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
     "print one JSON document on standard output: each entry's name, sizes, method, encryption, CRC-32 and time, "
     "the totals and the archive comment",
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
