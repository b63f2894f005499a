// Deflate through libdeflate: whole buffers only, levels 1-12.
#include <libdeflate.h>

#include "deflater.h"

namespace {

class LibdeflateDeflater : public Deflater {
 public:
  explicit LibdeflateDeflater(libdeflate_compressor *c) : compressor_(c) {}
  ~LibdeflateDeflater() override { libdeflate_free_compressor(compressor_); }
  bool Compress(const unsigned char *data, size_t size, std::string *out) override {
    if (size == 0) return false;
    // One byte less than the input: anything longer is stored instead.
    out->resize(size - 1);
    size_t n = libdeflate_deflate_compress(compressor_, data, size, &(*out)[0], out->size());
    if (n == 0) return false;
    out->resize(n);
    return true;
  }

 private:
  libdeflate_compressor *compressor_;
};

}  // namespace

int DeflaterMaxLevel() { return 12; }
const char *DeflaterName() { return "libdeflate"; }

std::unique_ptr<Deflater> MakeDeflater(int level) {
  libdeflate_compressor *c = libdeflate_alloc_compressor(level < 1 ? 1 : level > 12 ? 12 : level);
  if (!c) return nullptr;
  return std::unique_ptr<Deflater>(new LibdeflateDeflater(c));
}
