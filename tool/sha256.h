// SHA-256 of a file, for kvsfx build --json (a release pipeline records it).
#ifndef KV_TOOL_SHA256_H
#define KV_TOOL_SHA256_H

#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
 public:
  Sha256();
  void Add(const void *data, size_t size);
  // The digest in lower-case hex; the object is spent afterwards.
  std::string Hex();

 private:
  void Block(const unsigned char *p);
  uint32_t h_[8];
  unsigned char buffer_[64];
  size_t used_ = 0;
  uint64_t total_ = 0;
};

// The digest of a whole file, or "" when it cannot be read.
std::string Sha256OfFile(const std::string &path);

#endif
