// Deflate and Deflate64 decoding into a 65,536-byte sliding window that is
// handed to the caller's flush whenever it fills, and once more at the end.
// The decoder knows nothing of files, volumes or the job: input and output
// pass through a DecodeIo (decode_io.h).
//
// Bit input: bits arrive least significant first. "Ensure n bits" tops up
// the bit buffer until it holds at least n bits; "drop n bits" shifts them
// out. The buffer is 64 bits wide: while at least eight bytes of the current
// input piece are left it is topped up eight bytes at a time straight from
// the caller's piece, otherwise byte by byte, asking refill for the next
// piece only when this one is used up, so no byte beyond what the data needs
// is ever asked for. Bytes taken ahead into the bit buffer but not used are
// handed back (io->next/avail) when the stream ends.
//
// End of input: past the end of the input the bit buffer is topped up with
// zero bits that are only allowed to be looked at (a table lookup may peek
// beyond the last code), never consumed. Consuming one fails the block:
// DECODE_BAD_DATA.
#ifndef KV_INFLATE_H
#define KV_INFLATE_H

#include <cstdint>

#include "decode_io.h"

constexpr uint32_t WINDOW_SIZE = 65536;  // the Deflate64 window; Deflate uses 32 KiB of it
constexpr unsigned MAX_CODE_BITS = 16;

// Operation numbers of table entries, the same for both methods except the
// end of block: 0..16 a length or distance with that many extra bits, 15
// (Deflate) or 31 (Deflate64) end of block, 64 + n a link to a sub-table of n
// bits, 99 an invalid code, 128 a literal (or code-length symbol). Only
// literals have the top bit, so the symbol loop tests one bit for them.
enum : uint8_t {
  OP_END_OF_BLOCK = 15,
  OP64_END_OF_BLOCK = 31,
  OP_LINK = 64,
  OP_INVALID = 99,
  OP_LITERAL = 128,
};

// One lookup-table entry. The tables of one code lie in one block of
// entries, the root first; a link's value is the index of its sub-table
// from the root, so the block can move while it grows. The fields are laid
// out so that the entry read as one 32-bit word holds bits in its low byte,
// the operation in the next and the value in the top half.
struct HuffEntry {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  uint16_t value;
  uint8_t operation;
  uint8_t bits;
#else
  uint8_t bits;    // stream bits this entry consumes at its level, a length's or distance's extra bits included
  uint8_t operation;
  uint16_t value;  // literal, symbol, base of a length or distance, or sub-table index
#endif
};

// The growable block a code's tables are built in, kept from one build to
// the next so that a block of a small entry costs no allocation.
struct HuffArena {
  HuffEntry *entries;
  uint32_t capacity;  // in entries
};

class InflateDecoder {
 public:
  ~InflateDecoder();
  DecodeIo *io = nullptr;  // the current run's input and output
  const HuffEntry *fixedLiteralTable = nullptr;  // the shared fixed tables, from an entry's first fixed block to its end
  const HuffEntry *fixedDistanceTable = nullptr;
  unsigned fixedLiteralBits = 0;
  unsigned fixedDistanceBits = 0;
  unsigned char *window = nullptr;  // WINDOW_SIZE bytes lent by the caller
  int method = 0;                   // 8 or 9
  uint32_t windowPosition = 0;      // decoded bytes not yet flushed, 0..65,535 between symbols
  uint64_t bitBuffer = 0;           // pending input bits, least significant first
  uint32_t bitCount = 0;            // valid bits in bitBuffer
  uint32_t overreadBytes = 0;       // zero bytes added past the end of the input (top of bitBuffer)
  // Bytes of the current stream handed to flush. While it is 0 the window
  // above the position holds another stream's bytes, which read as zeros.
  uint64_t entryFlushed = 0;
  const unsigned char *pieceStart = nullptr;  // start of the piece io->next lies in
  bool stopped = false;                       // flush refused: the run ends
  bool nearDistances = false;                 // the current block reaches at most 32 KiB back
  // The dynamic blocks' tables (the code-length code's share the literal
  // block); released by InflateFreeTables.
  HuffArena literalArena = {nullptr, 0};
  HuffArena distanceArena = {nullptr, 0};
};

// Lends the decoder its window and marks the fixed tables absent. A
// distance reaching before the stream's first byte copies zeros, never an
// earlier stream's bytes or stale memory.
void InflateBind(InflateDecoder *decoder, unsigned char *window);
// Decodes one stream of method 8 or 9 (any other value decodes as 8) from
// io: DECODE_END, DECODE_BAD_DATA, DECODE_NO_MEMORY or DECODE_STOPPED. On
// return io->next/avail stand at the first input byte not used. After a
// refused flush the stored block or match under way still completes and the
// window's rest is flushed once more before DECODE_STOPPED; what becomes of
// those bytes is the caller's choice. Always releases the cached fixed tables.
DecodeResult InflateDecode(InflateDecoder *decoder, DecodeIo *io, int method);

// Method 8. Results: 0 success; non-zero the failing block's result (1 bad
// data, 2 block type 3 or over-subscribed code, 3 out of memory).
int InflateRun(InflateDecoder *decoder);
int InflateReadBlock(InflateDecoder *decoder, int *last);
int InflateStoredBlock(InflateDecoder *decoder);
int InflateFixedBlock(InflateDecoder *decoder);
int InflateDynamicBlock(InflateDecoder *decoder);
// 0 at the end of the block or when a flush was refused; 1 invalid data.
int InflateDecodeData(InflateDecoder *decoder, const HuffEntry *literalTable, const HuffEntry *distanceTable,
                      unsigned literalBits, unsigned distanceBits);

// Method 9, the same contracts.
int Inflate64Run(InflateDecoder *decoder);
int Inflate64ReadBlock(InflateDecoder *decoder, int *last);
int Inflate64FixedBlock(InflateDecoder *decoder);
int Inflate64DynamicBlock(InflateDecoder *decoder);
int Inflate64DecodeData(InflateDecoder *decoder, const HuffEntry *literalTable, const HuffEntry *distanceTable,
                        unsigned literalBits, unsigned distanceBits);

// Builds the lookup tables of a code from lengths[0..n-1] (n <= 288, 0 unused)
// into arena; table receives the root (null when there is no table).
// Symbols below s are simple (literal, or end of block for 256); the others
// take base and extra bits from bases/extras[symbol - s]. lookupBits: in, the
// largest root wanted; out, the root's bits. span: when above the root's
// bits, the root is repeated to answer lookups of span bits too (a lookup
// with a fixed mask). Results: 0 complete (also a
// single code of length 1, or no code at all: table null, bits 0), 1
// incomplete (table built), 2 over-subscribed (no table), 3 out of memory.
int HuffTableBuild(const uint8_t *lengths, unsigned n, unsigned s, const uint16_t *bases, const uint8_t *extras,
                   HuffArena *arena, const HuffEntry **table, unsigned *lookupBits, unsigned span = 0);
int HuffTableBuild64(const uint8_t *lengths, unsigned n, unsigned s, const uint16_t *bases, const uint8_t *extras,
                     HuffArena *arena, const HuffEntry **table, unsigned *lookupBits, unsigned span = 0);
// Frees the decoder's table blocks (at the end of a run).
void InflateFreeTables(InflateDecoder *decoder);
void InflateReleaseFixed(InflateDecoder *decoder);

#endif
