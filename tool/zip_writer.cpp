// The ZIP writer behind kvsfx build --from.
#include "zip_writer.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <new>

#include "../crypto/crc32.h"
#include "deflate/deflate_stream.h"
#include "deflate/deflater.h"
#include "deflate/lzma_compressor.h"
#include "tool.h"
#include "tool_os.h"

namespace {

struct Item {
  std::string name;  // relative, slashes, UTF-8; folders end in one
  std::string native;  // relative native path, for reading
  bool folder;
  ToolFolderEntry seen;  // what the walk found: the file read must be this one
};

void Put16(std::string *out, uint32_t v) {
  out->push_back((char)(v & 0xFF));
  out->push_back((char)((v >> 8) & 0xFF));
}
void Put32(std::string *out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void Put64(std::string *out, uint64_t v) {
  Put32(out, (uint32_t)v);
  Put32(out, (uint32_t)(v >> 32));
}

bool Collect(const std::string &root, const std::string &native, const std::string &rel,
             const ZipWriterOptions &options, std::vector<Item> *items, std::vector<std::string> *warnings,
             std::string *error) {
  std::string dirPath = native.empty() ? root : root + kToolSeparator + native;
  std::vector<ToolFolderEntry> entries;
  std::string why;
  if (!ToolListFolder(dirPath, &entries, &why)) {
    *error = "cannot read the folder '" + dirPath + "': " + why;
    return false;
  }
  for (const ToolFolderEntry &e : entries) {
    std::string path = rel.empty() ? e.utf8Name : rel + "/" + e.utf8Name;
    std::string nativePath = native.empty() ? e.name : native + kToolSeparator + e.name;
    std::string full = root + kToolSeparator + nativePath;
    if (ZipPathExcluded(path, options.excludes)) continue;
    if (std::find(options.skip.begin(), options.skip.end(), ToolAbsolute(full)) != options.skip.end()) continue;
    if (e.kind == TOOL_ENTRY_LINK) {
      warnings->push_back("skipped the symbolic link '" + full + "'");
      continue;
    }
    if (e.kind == TOOL_ENTRY_OTHER) {
      warnings->push_back("skipped '" + full + "': neither a file nor a folder");
      continue;
    }
    // Flag bit 11 promises UTF-8; a name that is none would make the whole
    // archive unreadable to strict readers.
    for (size_t i = 0; i < e.utf8Name.size(); ++i) {
      size_t n = ToolUtf8Length(e.utf8Name, i);
      if (n == 0) {
        *error = "the name '" + ToolEscapeNonUtf8(full) + "' is not valid UTF-8; rename it";
        return false;
      }
      i += n - 1;
    }
    Item item = {path, nativePath, e.kind == TOOL_ENTRY_FOLDER, e};
    if (item.folder) item.name += '/';
    if (item.name.size() > ZIP_NAME_MAX) {
      *error = "the name '" + item.name + "' is " + std::to_string(item.name.size()) + " bytes long; at most " +
               std::to_string(ZIP_NAME_MAX) + " are allowed";
      return false;
    }
    items->push_back(item);
    if (item.folder && !Collect(root, nativePath, path, options, items, warnings, error)) return false;
  }
  return true;
}

// Reads a whole file the walk listed, refusing one that changed.
bool ReadWhole(const std::string &path, const ToolFolderEntry &seen, std::string *data, std::string *error) {
  ToolWalkedFile f;
  std::string why;
  bool ok = f.Open(path, seen, &why);
  data->clear();
  if (ok) data->reserve((size_t)seen.size);
  char buffer[1 << 16];
  int64_t n = 0;
  while (ok && (n = f.Read(buffer, sizeof buffer, &why)) > 0 && data->size() <= seen.size)
    data->append(buffer, (size_t)n);
  ok = ok && n >= 0 && f.Unchanged(data->size(), &why);
  if (!ok) *error = "cannot read '" + path + "': " + why;
  return ok;
}

class Output {
 public:
  explicit Output(FILE *f) : f_(f) {}
  bool Write(const std::string &data) { return Write(data.data(), data.size()); }
  bool Write(const char *data, size_t size) {
    offset_ += size;
    return fwrite(data, 1, size, f_) == size;
  }
  // Goes back to offset (for a header filled in after its data, or to write
  // data over again); later writes continue from there.
  bool Rewind(uint64_t offset) {
    offset_ = offset;
    return ToolSeek(f_, (int64_t)offset, SEEK_SET);
  }
  uint64_t offset() const { return offset_; }

 private:
  FILE *f_;
  uint64_t offset_ = 0;
};

// Files up to this size are read and compressed whole (the fastest path);
// larger ones go through in pieces, so memory stays bounded whatever the size.
constexpr uint64_t kWholeFileMax = 32u << 20;
constexpr size_t kPiece = 1u << 20;

// The data of a large file, streamed from the file into the archive at the
// output's current offset: Deflate (LZMA when wantedMethod is 14) when level > 0 and
// it shrinks the file, else stored (the output is rewound and the file read
// again). Gives the CRC-32, the method and the packed size.
bool StreamFile(const std::string &path, const ToolFolderEntry &seen, int level, int wantedMethod, Output *out,
                uint32_t *crc, int *method, uint64_t *packedSize, std::string *error) {
  const uint64_t start = out->offset();
  std::vector<unsigned char> piece(kPiece);
  std::string packed, why;
  for (int pass = level > 0 ? 0 : 1; pass < 2; ++pass) {
    const bool deflate = pass == 0;
    ToolWalkedFile f;
    if (!f.Open(path, seen, &why)) {
      *error = "cannot read '" + path + "': " + why;
      return false;
    }
    std::unique_ptr<DeflateStream> stream;
    std::unique_ptr<LzmaStream> lzmaStream;
    if (deflate && wantedMethod == 14) {
      lzmaStream.reset(new LzmaStream(level));
      if (!lzmaStream->ready()) {
        *error = "out of memory for the compressor";
        return false;
      }
    } else if (deflate) {
      stream.reset(new DeflateStream(level));
      if (!stream->ready()) {
        *error = "out of memory for the compressor";
        return false;
      }
    }
    uint32_t state = 0xFFFFFFFFu;
    uint64_t total = 0, written = 0;
    bool shrinks = true;
    for (;;) {
      int64_t n = f.Read(piece.data(), piece.size(), &why);
      if (n < 0) {
        *error = "cannot read '" + path + "': " + why;
        return false;
      }
      total += (uint64_t)n;
      if (total > seen.size) break;  // grew while read: refused below
      state = Crc32Update(state, piece.data(), (size_t)n);
      const char *bytes = (const char *)piece.data();
      size_t size = (size_t)n;
      if (deflate) {
        packed.clear();
        if (!(lzmaStream ? lzmaStream->Add(piece.data(), (size_t)n, n == 0, &packed)
                         : stream->Add(piece.data(), (size_t)n, n == 0, &packed))) {
          *error = "the compressor failed on '" + path + "'";
          return false;
        }
        bytes = packed.data();
        size = packed.size();
      }
      written += size;
      if (deflate && written >= seen.size) {
        shrinks = false;  // not smaller: stored instead
        break;
      }
      if (size && !out->Write(bytes, size)) {
        *error = std::string("cannot write the archive: ") + strerror(errno);
        return false;
      }
      if (n == 0) break;
    }
    if (!shrinks) {
      if (!out->Rewind(start)) {
        *error = std::string("cannot write the archive: ") + strerror(errno);
        return false;
      }
      continue;
    }
    if (!f.Unchanged(total, &why)) {
      *error = "cannot read '" + path + "': " + why;
      return false;
    }
    *crc = ~state;
    *method = !deflate ? 0 : lzmaStream ? 14 : 8;
    *packedSize = written;
    return true;
  }
  return true;
}

// A shell pattern: '*' any run, '?' one byte, '[...]' a set ('!' or '^'
// negates, a-z ranges); '\\' quotes the next byte.
bool Match(const char *p, const char *t) {
  const char *star = nullptr, *resume = nullptr;
  while (*t) {
    if (*p == '*') {
      star = ++p;
      resume = t;
      continue;
    }
    bool ok = false;
    const char *next = p + 1;
    if (*p == '?') {
      ok = true;
    } else if (*p == '[') {
      const char *q = p + 1;
      bool negate = *q == '!' || *q == '^';
      if (negate) q++;
      bool in = false;
      for (bool first = true; *q && (first || *q != ']'); first = false, q++) {
        if (q[1] == '-' && q[2] && q[2] != ']') {
          in |= (unsigned char)*t >= (unsigned char)q[0] && (unsigned char)*t <= (unsigned char)q[2];
          q += 2;
        } else {
          in |= *q == *t;
        }
      }
      if (*q == ']') {
        ok = in != negate;
        next = q + 1;
      } else {
        ok = *t == '[';  // no closing bracket: a plain '['
      }
    } else if (*p == '\\' && p[1]) {
      ok = p[1] == *t;
      next = p + 2;
    } else {
      ok = *p && *p == *t;
    }
    if (ok) {
      p = next;
      t++;
    } else if (star) {
      p = star;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (*p == '*') p++;
  return *p == '\0';
}

bool NeedsUtf8Flag(const std::string &name) {
  for (unsigned char c : name)
    if (c >= 0x80) return true;
  return false;
}

}  // namespace

bool ZipPathExcluded(const std::string &path, const std::vector<std::string> &patterns) {
  size_t slash = path.rfind('/');
  const char *last = path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
  for (const std::string &p : patterns)
    if (Match(p.c_str(), path.c_str()) || Match(p.c_str(), last)) return true;
  return false;
}

uint32_t ZipDosTime(int64_t unixTime) {
  const int64_t kFirst = 315532800;      // 1980-01-01 00:00:00
  const int64_t kLast = 4354819198;      // 2107-12-31 23:59:58
  if (unixTime < kFirst) unixTime = kFirst;
  if (unixTime > kLast) unixTime = kLast;
  // The civil date of a day number (days since 1970-01-01), in arithmetic
  // alone: the same on every host, whatever its time zone.
  int64_t days = unixTime / 86400, seconds = unixTime % 86400;
  int64_t z = days + 719468, era = z / 146097, doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
  int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  uint32_t date = (uint32_t)((year - 1980) << 9 | month << 5 | day);
  uint32_t time = (uint32_t)((seconds / 3600) << 11 | (seconds / 60 % 60) << 5 | (seconds % 60) / 2);
  return date << 16 | time;
}

bool ZipWriteFolder(const std::string &folder, FILE *file, const ZipWriterOptions &options,
                    std::vector<std::string> *warnings, std::string *error, uint64_t *entries) {
  std::vector<Item> items;
  if (!Collect(folder, "", "", options, &items, warnings, error)) return false;
  std::sort(items.begin(), items.end(), [](const Item &a, const Item &b) { return a.name < b.name; });

  std::unique_ptr<Deflater> deflater;
  if (options.level > 0) {
    if (options.method == 14) {
      LzmaCompressorOptions lzma;
      lzma.level = options.level;
      deflater = MakeLzmaCompressor(lzma);
    } else {
      deflater = MakeDeflater(options.level);
    }
    if (!deflater) {
      *error = "out of memory for the compressor";
      return false;
    }
  }
  Output out(file);
  std::string central, data, packed;
  const std::string writeError = std::string("cannot write the archive: ");
  size_t done = 0;
  auto lastDraw = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  for (const Item &item : items) {
    uint32_t crc = 0;
    uint64_t size = item.folder ? 0 : item.seen.size, packedSize = 0;
    int method = 0;
    uint32_t methodFlags = 0;
    const std::string *body = &data;
    const std::string path = folder + kToolSeparator + item.native;
    const bool whole = !item.folder && size <= kWholeFileMax;
    data.clear();
    if (whole) {
      try {
        if (!ReadWhole(path, item.seen, &data, error)) return false;
        crc = ~Crc32Update(0xFFFFFFFFu, data.data(), data.size());
        if (deflater && deflater->Compress((const unsigned char *)data.data(), data.size(), &packed)) {
          method = deflater->Method();
          methodFlags = deflater->Flags();
          body = &packed;
        }
      } catch (const std::bad_alloc &) {
        *error = "out of memory for '" + path + "'";
        return false;
      }
      packedSize = body->size();
    }
    uint64_t offset = out.offset();
    // A streamed file's packed size is known only afterwards; it is never
    // larger than the file (stored then), so the file's size decides.
    bool bigSizes = size >= 0xFFFFFFFFu || packedSize >= 0xFFFFFFFFu;
    bool bigOffset = offset >= 0xFFFFFFFFu;
    uint32_t needed = method == 14 ? 63 : bigSizes || bigOffset ? 45 : 20;
    uint32_t flags = (NeedsUtf8Flag(item.name) ? 0x800 : 0) | methodFlags;
    uint32_t dosTime = ZipDosTime(options.fixedTime >= 0 ? options.fixedTime : item.seen.mtime);

    auto localHeader = [&]() {
      std::string local;
      Put32(&local, 0x04034b50);
      Put16(&local, needed);
      Put16(&local, flags);
      Put16(&local, (uint32_t)method);
      Put32(&local, dosTime);
      Put32(&local, crc);
      Put32(&local, bigSizes ? 0xFFFFFFFFu : (uint32_t)packedSize);
      Put32(&local, bigSizes ? 0xFFFFFFFFu : (uint32_t)size);
      Put16(&local, (uint32_t)item.name.size());
      Put16(&local, bigSizes ? 20 : 0);
      local += item.name;
      if (bigSizes) {
        Put16(&local, 1);
        Put16(&local, 16);
        Put64(&local, size);
        Put64(&local, packedSize);
      }
      return local;
    };
    std::string local = localHeader();
    if (!out.Write(local) || (whole && !out.Write(*body))) {
      *error = writeError + strerror(errno);
      return false;
    }
    if (!item.folder && !whole) {
      // The header goes in first with its place kept, then is written again
      // with the CRC, method and packed size the stream gave.
      if (!StreamFile(path, item.seen, options.level, options.method, &out, &crc, &method, &packedSize, error))
        return false;
      if (method == 14) needed = 63;
      uint64_t end = out.offset();
      local = localHeader();
      if (!out.Rewind(offset) || !out.Write(local) || !out.Rewind(end)) {
        *error = writeError + strerror(errno);
        return false;
      }
    }

    std::string extra;
    if (bigSizes || bigOffset) {
      Put16(&extra, 1);
      Put16(&extra, (bigSizes ? 16 : 0) + (bigOffset ? 8 : 0));
      if (bigSizes) {
        Put64(&extra, size);
        Put64(&extra, packedSize);
      }
      if (bigOffset) Put64(&extra, offset);
    }
    Put32(&central, 0x02014b50);
    Put16(&central, 3 << 8 | needed);  // made on Unix, so the mode below counts
    Put16(&central, needed);
    Put16(&central, flags);
    Put16(&central, (uint32_t)method);
    Put32(&central, dosTime);
    Put32(&central, crc);
    Put32(&central, bigSizes ? 0xFFFFFFFFu : (uint32_t)packedSize);
    Put32(&central, bigSizes ? 0xFFFFFFFFu : (uint32_t)size);
    Put16(&central, (uint32_t)item.name.size());
    Put16(&central, (uint32_t)extra.size());
    Put16(&central, 0);  // comment
    Put16(&central, 0);  // disk
    Put16(&central, 0);  // internal attributes
    Put32(&central, (item.seen.mode & 0xFFFF) << 16 | (item.folder ? 0x10 : 0));
    Put32(&central, bigOffset ? 0xFFFFFFFFu : (uint32_t)offset);
    central += item.name;
    central += extra;

    ++done;
    // At most ten redraws a second: a terminal is slower than small files.
    auto now = std::chrono::steady_clock::now();
    if (options.progress && (now - lastDraw >= std::chrono::milliseconds(100) || done == items.size())) {
      lastDraw = now;
      fprintf(stderr, "\r\033[K%zu/%zu %s", done, items.size(), item.name.c_str());
      fflush(stderr);
    }
  }
  if (options.progress) fprintf(stderr, "\r\033[K");

  uint64_t count = items.size(), cdOffset = out.offset(), cdSize = central.size();
  bool zip64 = count >= 0xFFFF || cdOffset >= 0xFFFFFFFFu || cdSize >= 0xFFFFFFFFu;
  std::string tail;
  if (zip64) {
    uint64_t recordOffset = cdOffset + cdSize;
    Put32(&tail, 0x06064b50);
    Put64(&tail, 44);
    Put16(&tail, 3 << 8 | 45);
    Put16(&tail, 45);
    Put32(&tail, 0);
    Put32(&tail, 0);
    Put64(&tail, count);
    Put64(&tail, count);
    Put64(&tail, cdSize);
    Put64(&tail, cdOffset);
    Put32(&tail, 0x07064b50);
    Put32(&tail, 0);
    Put64(&tail, recordOffset);
    Put32(&tail, 1);
  }
  Put32(&tail, 0x06054b50);
  Put16(&tail, 0);
  Put16(&tail, 0);
  Put16(&tail, zip64 ? 0xFFFF : (uint32_t)count);
  Put16(&tail, zip64 ? 0xFFFF : (uint32_t)count);
  Put32(&tail, zip64 ? 0xFFFFFFFFu : (uint32_t)cdSize);
  Put32(&tail, zip64 ? 0xFFFFFFFFu : (uint32_t)cdOffset);
  Put16(&tail, 0);
  if (!out.Write(central) || !out.Write(tail)) {
    *error = writeError + strerror(errno);
    return false;
  }
  *entries = count;
  return true;
}
