// Raw Deflate compression of one whole buffer for the ZIP writer. Two
// implementations sit behind this interface and the build links one:
// libdeflate where it is available (the native tool), zlib elsewhere.
#ifndef KV_DEFLATER_H
#define KV_DEFLATER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class Deflater {
 public:
  virtual ~Deflater() = default;
  // Compresses size bytes into *out (replaced). Returns false when the
  // result would not be smaller than the input; *out is then unspecified
  // and the caller stores the data instead.
  virtual bool Compress(const unsigned char *data, size_t size, std::string *out) = 0;
  // The ZIP method the output is, and the general-purpose flag bits it needs.
  virtual int Method() const { return 8; }
  virtual uint32_t Flags() const { return 0; }
};

// The highest level the linked compressor knows (12 or 9); asking for more
// gives its highest.
int DeflaterMaxLevel();
// Which library compresses, for the tool's messages.
const char *DeflaterName();
// A compressor for level 1..DeflaterMaxLevel(); null when out of memory.
std::unique_ptr<Deflater> MakeDeflater(int level);

#endif
