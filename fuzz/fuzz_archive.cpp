// Opens, lists and test-decodes arbitrary bytes as an archive: the end-record
// search, the ZIP64 records, the directory reader, names and extra blocks,
// and every entry's decoding with nothing written.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/zip_job.h"

namespace {

std::string ArchiveFile() {
  char native[64];
  snprintf(native, sizeof native, "/tmp/kv-fuzz-archive-%d.zip", (int)getpid());
  return native;
}

int CountEntry(void *user, const EntryRecord *entry) {
  // Touch what a caller reads, so that the sanitizers see every field used.
  size_t *n = (size_t *)user;
  *n += strlen(entry->name) + entry->extraLength + entry->commentLength;
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string native = ArchiveFile();
  int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return 0;
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += (size_t)n;
  }
  close(fd);
  std::string path = native;
  for (char &c : path)
    if (c == '/') c = '\\';

  size_t touched = 0;
  ListSummary summary;
  char comment[4096];
  ListArchive(path.c_str(), nullptr, CountEntry, &touched, &summary, comment, sizeof comment);

  ArchiveRunRequest request = {};
  request.archivePath = path.c_str();
  request.folder = "";
  request.test = 1;
  request.password = "fuzz";
  RunArchive(&request);
  return 0;
}
