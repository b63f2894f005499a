// Writes a ZIP archive from a folder, reproducibly: entries in byte order of
// their paths, folders as entries, UTF-8 names flagged, Unix modes kept,
// one time for all entries when asked, ZIP64 records only where needed.
#ifndef KV_ZIP_WRITER_H
#define KV_ZIP_WRITER_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct ZipWriterOptions {
  int level = 6;  // 0 stores every file; 1..12 Deflate (capped by the library)
  int method = 8;  // 8 Deflate or 14 LZMA (level 1..12 too), each file only where it shrinks
  std::vector<std::string> excludes;  // shell patterns, see ZipPathExcluded
  int64_t fixedTime = -1;  // seconds since 1970 for every entry; -1: the files' own
  bool progress = false;   // a progress line on stderr
  // Absolute native paths left out: the archive being written and the
  // output, should they lie inside the folder.
  std::vector<std::string> skip;
};

// Longest entry name the stubs accept, in bytes.
constexpr size_t ZIP_NAME_MAX = 255;

// Whether a relative path (slashes, no trailing one) is excluded: a shell
// pattern ('*', '?', '[...]') matches the whole path ('*' crosses slashes)
// or its last part. An excluded folder is left out with everything in it.
bool ZipPathExcluded(const std::string &path, const std::vector<std::string> &patterns);

// A Unix time as a DOS date (high half) and time (low half) in UTC, clamped
// to 1980-01-01 .. 2107-12-31.
uint32_t ZipDosTime(int64_t unixTime);

// Writes the ZIP archive of folder's contents to out (a fresh file). Symbolic
// links are skipped, each named in *warnings. Returns false and sets *error
// (naming the file) on an unreadable file, a name longer than ZIP_NAME_MAX
// bytes or a failed write. *entries gets the number of entries written.
bool ZipWriteFolder(const std::string &folder, FILE *out, const ZipWriterOptions &options,
                    std::vector<std::string> *warnings, std::string *error, uint64_t *entries);

#endif
