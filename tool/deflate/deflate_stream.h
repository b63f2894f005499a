// Raw Deflate in a stream, for files too large to hold whole in memory:
// zlib's streaming compressor in every build (levels above 9 act as 9).
#ifndef KV_DEFLATE_STREAM_H
#define KV_DEFLATE_STREAM_H

#include <cstddef>
#include <string>

class DeflateStream {
 public:
  explicit DeflateStream(int level);
  ~DeflateStream();
  DeflateStream(const DeflateStream &) = delete;
  DeflateStream &operator=(const DeflateStream &) = delete;
  // False when the compressor could not be set up (out of memory).
  bool ready() const { return state_ != nullptr; }
  // Compresses size bytes and appends what comes out to *out; finish ends
  // the stream. False on a compressor error.
  bool Add(const unsigned char *data, size_t size, bool finish, std::string *out);

 private:
  void *state_ = nullptr;
};

#endif
