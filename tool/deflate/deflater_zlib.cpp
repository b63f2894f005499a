// Deflate through zlib: levels 1-9, raw streams (no zlib header).
#include <zlib.h>

#include <climits>

#include "deflater.h"

namespace {

class ZlibDeflater : public Deflater {
 public:
  explicit ZlibDeflater(int level) : level_(level) {}
  bool Compress(const unsigned char *data, size_t size, std::string *out) override {
    if (size == 0) return false;
    z_stream z = {};
    if (deflateInit2(&z, level_, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    out->resize(size - 1);
    z.next_in = const_cast<Bytef *>(data);
    z.next_out = (Bytef *)&(*out)[0];
    size_t inLeft = size, outLeft = out->size();
    int rc = Z_OK;
    // avail_in and avail_out are 32-bit: feed large buffers in slices.
    while (rc == Z_OK) {
      uInt inStep = inLeft > UINT_MAX ? UINT_MAX : (uInt)inLeft;
      uInt outStep = outLeft > UINT_MAX ? UINT_MAX : (uInt)outLeft;
      z.avail_in = inStep;
      z.avail_out = outStep;
      rc = deflate(&z, inStep == inLeft ? Z_FINISH : Z_NO_FLUSH);
      inLeft -= inStep - z.avail_in;
      outLeft -= outStep - z.avail_out;
      if (rc == Z_OK && outLeft == 0) break;  // no room: store instead
    }
    deflateEnd(&z);
    if (rc != Z_STREAM_END) return false;
    out->resize(out->size() - outLeft);
    return true;
  }

 private:
  int level_;
};

}  // namespace

int DeflaterMaxLevel() { return 9; }
const char *DeflaterName() { return "zlib"; }

std::unique_ptr<Deflater> MakeDeflater(int level) {
  return std::unique_ptr<Deflater>(new ZlibDeflater(level < 1 ? 1 : level > 9 ? 9 : level));
}
