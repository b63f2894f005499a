// LZMA decoding of one ZIP entry of method 14.
//
// The entry's data starts with a 4-byte header (the encoder's version in two
// bytes, then the size of the properties in two bytes, which must be 5) and
// the 5 properties bytes: lc/lp/pb packed as (pb * 5 + lp) * 9 + lc, then the
// dictionary size, little-endian. The range-coded stream follows.
//
// The entry ends at its declared uncompressed size. With endMarker (flag bit
// 1 of the entry) the stream must also carry the end marker right there;
// without it a marker at that point is accepted as well. A marker anywhere
// else, output beyond the declared size, a distance reaching before the first
// byte, a properties byte of 225 or more and input that ends too soon are all
// DECODE_BAD_DATA.
//
// Memory: the dictionary is min(declared dictionary, uncompressed size) but
// at least 4 KiB, so a small entry costs little whatever it declares; the
// probability tables add 3.7 KiB plus 1.5 KiB << (lc + lp). An allocation
// that fails is DECODE_NO_MEMORY. Output reaches flush in pieces of at most
// LZMA_FLUSH_STEP bytes, so progress and cancel keep their pace with a
// large dictionary.
#ifndef KV_LZMA_H
#define KV_LZMA_H

#include <cstdint>

#include "decode_io.h"

constexpr uint32_t LZMA_MIN_DICTIONARY = 4096;
constexpr uint32_t LZMA_FLUSH_STEP = 1u << 18;

// Decodes the whole entry: DECODE_END, DECODE_BAD_DATA, DECODE_NO_MEMORY or
// DECODE_STOPPED (flush refused). io->next/avail are left at the first byte
// not used.
DecodeResult LzmaDecode(DecodeIo *io, uint64_t uncompressedSize, int endMarker);

#endif
