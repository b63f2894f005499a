// Test support for the decoders: a bit writer for hand-built streams and a
// runner that decodes a byte array handed out in the entry stream's pieces,
// through the archive's window flush and result mapping.
#ifndef KV_INFLATE_TEST_HARNESS_H
#define KV_INFLATE_TEST_HARNESS_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/entry_stream.h"
#include "archive/job_types.h"
#include "archive/zip_format.h"
#include "crypto/crc32.h"
#include "decoders/inflate.h"
#include "fileio/file_io.h"
#include "temp_folder.h"

namespace inflate_test {

typedef std::vector<unsigned char> Bytes;

// Writes fields least significant bit first, Huffman codes most significant
// bit first, as Deflate stores them.
class BitWriter {
 public:
  void Bits(uint32_t value, int count) {
    for (int i = 0; i < count; i++) Bit((value >> i) & 1);
  }
  void Code(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; i--) Bit((code >> i) & 1);
  }
  void Align() {
    while (fill_) Bit(0);
  }
  void Byte(unsigned char b) {
    Align();
    out_.push_back(b);
  }
  // Block header: final flag and type.
  void Header(int last, int type) {
    Bits((uint32_t)last, 1);
    Bits((uint32_t)type, 2);
  }
  // Fixed-code literal/length symbol 0..287 and distance code 0..31.
  void FixedSymbol(unsigned sym) {
    if (sym < 144)
      Code(0x30 + sym, 8);
    else if (sym < 256)
      Code(0x190 + sym - 144, 9);
    else if (sym < 280)
      Code(sym - 256, 7);
    else
      Code(0xC0 + sym - 280, 8);
  }
  void FixedDistance(unsigned code) { Code(code, 5); }
  void Stored(int last, const Bytes &data, uint16_t nlenXor = 0) {
    Header(last, 0);
    Align();
    uint16_t len = (uint16_t)data.size();
    uint16_t nlen = (uint16_t)(~len ^ nlenXor);
    out_.push_back((unsigned char)len);
    out_.push_back((unsigned char)(len >> 8));
    out_.push_back((unsigned char)nlen);
    out_.push_back((unsigned char)(nlen >> 8));
    out_.insert(out_.end(), data.begin(), data.end());
  }
  Bytes Finish() {
    Align();
    return out_;
  }

 private:
  void Bit(uint32_t b) {
    if (fill_ == 0) out_.push_back(0);
    out_.back() |= (unsigned char)(b << fill_);
    fill_ = (fill_ + 1) & 7;
  }
  Bytes out_;
  int fill_ = 0;
};

// Canonical codes of a set of code lengths (0 = unused).
inline std::vector<uint32_t> CanonicalCodes(const std::vector<int> &lengths) {
  int count[17] = {0};
  for (int l : lengths) count[l]++;
  count[0] = 0;
  uint32_t next[17] = {0};
  uint32_t code = 0;
  for (int len = 1; len <= 16; len++) {
    code = (code + (uint32_t)count[len - 1]) << 1;
    next[len] = code;
  }
  std::vector<uint32_t> codes(lengths.size(), 0);
  for (size_t i = 0; i < lengths.size(); i++)
    if (lengths[i]) codes[i] = next[lengths[i]]++;
  return codes;
}

// A dynamic block header that sends every literal/length and distance code
// length as such through a code-length code of 16 symbols (0..15) of 4 bits.
// Returns the canonical codes for the data.
struct DynamicCodes {
  std::vector<int> literalLengths, distanceLengths;
  std::vector<uint32_t> literal, distance;
};
inline DynamicCodes DynamicHeader(BitWriter &w, int last, const std::vector<int> &literalLengths,
                                  const std::vector<int> &distanceLengths, int hlitField = -1) {
  w.Header(last, 2);
  int hlit = hlitField >= 0 ? hlitField : (int)literalLengths.size() - 257;
  w.Bits((uint32_t)hlit, 5);
  w.Bits((uint32_t)distanceLengths.size() - 1, 5);
  w.Bits(15, 4);  // all 19 code-length code lengths follow
  static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  for (int i = 0; i < 19; i++) w.Bits(order[i] < 16 ? 4 : 0, 3);
  for (int l : literalLengths) w.Code((uint32_t)l, 4);  // symbol v has code v
  for (int l : distanceLengths) w.Code((uint32_t)l, 4);
  return {literalLengths, distanceLengths, CanonicalCodes(literalLengths), CanonicalCodes(distanceLengths)};
}

// What one decoded entry came to.
struct Decoded {
  int32_t error = -1;
  Bytes output;            // what the flush wrote
  uint32_t crc = 0;        // one's complement of runningCrc
  uint64_t produced = 0;   // bytesProduced
  int64_t leftToDeliver = 0;
  std::vector<uint32_t> chunks;  // lastChunkSize of every progress report
};

struct DecodeOptions {
  int method = 8;
  size_t trailing = 0;      // bytes of junk after the stream, counted as the entry's data
  int refuseAt = -1;        // progress report (0-based) that cancels
  int testOnly = 0;
  int windowFill = -1;      // byte the window holds before InflateBind (-1: untouched)
  uint64_t declared = UINT64_MAX;  // the entry's uncompressed size
  int64_t missing = 0;      // bytes the compressed size claims beyond the input's end (which just ends)
};

// A fresh folder under the temporary folder for the files of one test.
class TempFolder {
 public:
  TempFolder() : base_(MakeTempFolder(".kvi")) {}
  ~TempFolder() { RemoveTempFolder(base_); }
  bool Ok() const { return !base_.empty(); }
  std::string Path(const char *name) const { return base_ + name; }

 private:
  std::string base_;
};

inline bool WriteWholeFile(const std::string &path, const Bytes &data) {
  FileHandle h = FileOpen(path.c_str(), "w");
  if (h == INVALID_FILE) return false;
  bool ok = data.empty() || FileWrite(h, data.data(), (uint32_t)data.size()) == (int32_t)data.size();
  return FileClose(h) && ok;
}

inline Bytes ReadWholeFile(const std::string &path) {
  Bytes out;
  FileHandle h = FileOpen(path.c_str(), "r");
  if (h == INVALID_FILE) return out;
  unsigned char buf[1 << 14];
  int32_t n;
  while ((n = FileRead(h, buf, sizeof buf)) > 0) out.insert(out.end(), buf, buf + n);
  FileClose(h);
  return out;
}

struct ProgressLog {
  std::vector<uint32_t> *chunks;
  int refuseAt;
};

inline int RecordProgress(uintptr_t user, uint32_t, uint32_t chunk) {
  ProgressLog *log = (ProgressLog *)user;
  int index = (int)log->chunks->size();
  log->chunks->push_back(chunk);
  return index == log->refuseAt ? 0 : 1;
}

// The input of one decoded entry: the array in pieces; the output: the archive's window flush, in test mode, with the bytes
// it passed kept here.
struct ArrayIo {
  const Bytes *input;
  size_t handedOut;
  EntrySink sink;
  bool keep;
  Bytes *output;
};

// Pieces smaller than the entry stream's, so that streams of tens of
// kilobytes already cross several piece ends.
constexpr uint32_t TEST_PIECE_SIZE = 16384;

inline int ArrayRefill(void *user, const unsigned char **next, uint32_t *avail) {
  ArrayIo *a = (ArrayIo *)user;
  size_t left = a->input->size() - a->handedOut;
  if (left == 0) return 0;
  *avail = left < TEST_PIECE_SIZE ? (uint32_t)left : TEST_PIECE_SIZE;
  *next = a->input->data() + a->handedOut;
  a->handedOut += *avail;
  return 1;
}

inline int ArrayFlush(void *user, const unsigned char *data, uint32_t count) {
  ArrayIo *a = (ArrayIo *)user;
  uint64_t before = a->sink.flushed;
  int goOn = WindowFlush(&a->sink, data, count);
  if (a->keep && a->sink.flushed != before) a->output->insert(a->output->end(), data, data + count);
  return goOn;
}

// Decodes packed as one entry of the given method.
inline Decoded DecodeEntry(const Bytes &packed, const DecodeOptions &opt = DecodeOptions()) {
  Decoded r;
  Bytes file = packed;
  for (size_t i = 0; i < opt.trailing; i++) file.push_back((unsigned char)(0xA5 ^ i));
  static ArchiveContext archive;
  static EntryProgress progress;
  static ExtractCallbacks callbacks;
  static InflateDecoder decoder;
  static unsigned char window[WINDOW_SIZE];
  memset(&archive, 0, sizeof archive);
  memset(&progress, 0, sizeof progress);
  memset(&callbacks, 0, sizeof callbacks);
  ProgressLog log = {&r.chunks, opt.refuseAt};
  callbacks.onProgress.fn = RecordProgress;
  callbacks.onProgress.user = (uintptr_t)&log;
  archive.testOnly = 1;  // the flush keeps what it would write
  archive.outputHandle = INVALID_FILE;
  if (opt.windowFill >= 0) memset(window, opt.windowFill, sizeof window);
  InflateBind(&decoder, window);
  progress.runningCrc = 0xFFFFFFFF;
  progress.uncompressedSize = opt.declared;
  ArrayIo array = {&file, 0, {&archive, &progress, &callbacks, 0}, !opt.testOnly, &r.output};
  DecodeIo io = {nullptr, 0, ArrayRefill, ArrayFlush, &array};
  DecodeResult result = InflateDecode(&decoder, &io, opt.method);
  DecodeOutcome(&archive, opt.method == 9 ? METHOD_DEFLATE64 : METHOD_DEFLATE, result);
  EXPECT_EQ(nullptr, decoder.fixedLiteralTable) << "fixed tables outlive the entry";
  r.error = archive.errorCode;
  r.crc = ~progress.runningCrc;
  r.produced = progress.bytesProduced;
  r.leftToDeliver = (int64_t)(file.size() - array.handedOut) + io.avail;
  return r;
}

inline uint32_t Crc(const Bytes &b) { return ~Crc32Update(0xFFFFFFFF, b.empty() ? (const void *)"" : b.data(), b.size()); }

}  // namespace inflate_test

#endif
