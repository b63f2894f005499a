// LZMA (ZIP method 14) compression of one whole buffer for the ZIP writer,
// behind the same interface as Deflate. Only the native tool links an LZMA
// encoder; elsewhere LzmaCompressorAvailable() is false and the factory
// gives null.
#ifndef KV_LZMA_COMPRESSOR_H
#define KV_LZMA_COMPRESSOR_H

#include <cstdint>
#include <memory>
#include <string>

#include "deflater.h"

struct LzmaCompressorOptions {
  int level = 6;  // 1..9 the encoder's presets; 10..12 the 9th, searching harder
  // Overrides of the preset, -1 / 0 for the preset's own.
  int lc = -1, lp = -1, pb = -1;
  uint32_t dictionary = 0;
  // Write the end marker and flag bit 1; without it the entry ends at its
  // size alone, 5 bytes shorter.
  bool endMarker = false;
};

bool LzmaCompressorAvailable();
// Null when out of memory, the options are out of range or no encoder is linked.
std::unique_ptr<Deflater> MakeLzmaCompressor(const LzmaCompressorOptions &options);
// The entry data of size bytes whatever its length (for tests); false
// without an encoder or on its failure.
bool LzmaEncode(const LzmaCompressorOptions &options, const unsigned char *data, size_t size, std::string *out);

// LZMA in a stream, for files too large to hold whole in memory: the same
// entry data (header included, no end marker) in pieces.
class LzmaStream {
 public:
  explicit LzmaStream(int level);
  ~LzmaStream();
  LzmaStream(const LzmaStream &) = delete;
  LzmaStream &operator=(const LzmaStream &) = delete;
  // False when the encoder could not be set up (out of memory, or none linked).
  bool ready() const { return state_ != nullptr; }
  // Compresses size bytes and appends what comes out to *out; finish ends
  // the stream. False on an encoder error.
  bool Add(const unsigned char *data, size_t size, bool finish, std::string *out);

 private:
  void *state_ = nullptr;
};

#endif
