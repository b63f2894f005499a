// Stored data: the input is the output, passed on piece by piece.
#ifndef KV_STORED_H
#define KV_STORED_H

#include <cstdint>

#include "decode_io.h"

// Hands size bytes of input to flush unchanged, each piece as refill gave it
// (never more than size in all). DECODE_END after size bytes, DECODE_BAD_DATA
// when the input ends first, DECODE_STOPPED when flush refuses.
DecodeResult StoredDecode(DecodeIo *io, uint64_t size);

#endif
