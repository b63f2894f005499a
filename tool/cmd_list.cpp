// kvsfx list: the entries of a ZIP file or self-extractor, in directory order.
#include <cstdio>
#include <cstring>

#include "../archive/zip_job.h"
#include "archive_cmd.h"
#include "args.h"
#include "tool.h"

namespace {

const char *MethodName(const EntryRecord *e) {
  switch (e->method) {
    case 0: return "stored";
    case 8: return "deflate";
    case 9: return "deflate64";
    default: return "other";
  }
}

int PrintEntry(void *, const EntryRecord *e) {
  uint32_t date = e->dosDateTime >> 16, time = e->dosDateTime & 0xFFFF;
  std::string name = e->name ? e->name : "";
  for (char &c : name)
    if (c == '\\') c = '/';
  const char *crypt = e->encryptionKind == 1 ? " traditional" : e->encryptionKind >= 2 ? " aes" : "";
  printf("%12llu %12llu  %04u-%02u-%02u %02u:%02u  %08x  %-9s%s  %s\n", (unsigned long long)e->uncompressedSize,
         (unsigned long long)e->compressedSize, 1980 + (date >> 9), (date >> 5) & 15, date & 31, time >> 11,
         (time >> 5) & 63, e->crc32, MethodName(e), crypt, e->validName ? name.c_str() : "(no usable name)");
  return 1;
}

int RunList(const ToolArgs &args) {
  std::string archivePath = ToolArchivePath(args.operands[0].c_str());
  if (archivePath.size() >= PATH_BUF_SIZE) {
    fprintf(stderr, "kvsfx: path longer than %u characters\n", (unsigned)(PATH_BUF_SIZE - 1));
    return TOOL_USAGE;
  }
  printf("      Length       Packed  Date       Time   CRC-32    Method     Name\n");
  ListSummary summary;
  memset(&summary, 0, sizeof summary);
  static char comment[65536 * 3];
  int32_t code = ListArchive(archivePath.c_str(), nullptr, PrintEntry, nullptr, &summary, comment, sizeof comment);
  if (code != 0) return ToolReportError(code, archivePath);
  printf("%12llu %12llu  %llu entries (%llu folders)\n", (unsigned long long)summary.uncompressedTotal,
         (unsigned long long)summary.compressedTotal, (unsigned long long)summary.entries,
         (unsigned long long)summary.directories);
  if (comment[0]) printf("comment: %s\n", ToolPrintable(comment).c_str());
  return 0;
}

}  // namespace

const ToolVerb &ListVerb() {
  static const ToolVerb verb = {"list",
                                "ARCHIVE",
                                1,
                                1,
                                "list the entries of a ZIP archive or self-extractor",
                                "Lists the entries of ARCHIVE in the order of its central directory:\n"
                                "sizes, time, CRC-32, method, encryption and name.\n",
                                {},
                                kToolExitsEngine,
                                RunList};
  return verb;
}
