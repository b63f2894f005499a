#include "deflate_stream.h"

#include <zlib.h>

DeflateStream::DeflateStream(int level) {
  z_stream *z = new z_stream();
  if (deflateInit2(z, level < 1 ? 1 : level > 9 ? 9 : level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
    delete z;
    return;
  }
  state_ = z;
}

DeflateStream::~DeflateStream() {
  if (!state_) return;
  deflateEnd((z_stream *)state_);
  delete (z_stream *)state_;
}

bool DeflateStream::Add(const unsigned char *data, size_t size, bool finish, std::string *out) {
  z_stream *z = (z_stream *)state_;
  if (!z) return false;
  unsigned char buffer[1 << 16];
  // Callers hand in bounded pieces; avail_in is 32 bits.
  z->next_in = const_cast<Bytef *>(data);
  z->avail_in = (uInt)size;
  for (;;) {
    z->next_out = buffer;
    z->avail_out = sizeof buffer;
    int rc = deflate(z, finish ? Z_FINISH : Z_NO_FLUSH);
    if (rc == Z_STREAM_ERROR) return false;
    out->append((const char *)buffer, sizeof buffer - z->avail_out);
    if (finish ? rc == Z_STREAM_END : z->avail_in == 0 && z->avail_out != 0) return true;
    if (rc == Z_BUF_ERROR && z->avail_in == 0 && !finish) return true;
  }
}
