// Builds without an LZMA encoder (kvsfx.exe): Deflate only.
#include "lzma_compressor.h"

bool LzmaCompressorAvailable() { return false; }
std::unique_ptr<Deflater> MakeLzmaCompressor(const LzmaCompressorOptions &) { return nullptr; }
bool LzmaEncode(const LzmaCompressorOptions &, const unsigned char *, size_t, std::string *) { return false; }

LzmaStream::LzmaStream(int) {}
LzmaStream::~LzmaStream() {}
bool LzmaStream::Add(const unsigned char *, size_t, bool, std::string *) { return false; }
