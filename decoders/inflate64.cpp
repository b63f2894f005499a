// Deflate64 (method 9): the named operations over the shared decoder, with
// the longer length code (symbol 285: base 3, 16 extra bits) and the
// end-of-block operation 31 (past its longest extra bits).
#include "inflate.h"
#include "inflate_impl.h"

namespace inflate_detail {

MethodState Method9::state;
const uint16_t Method9::kLengthBases[LENGTH_SYMBOLS] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,  15,  17,  19, 23, 27, 31,
                                                        35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3,  0,  0};
const uint8_t Method9::kLengthExtras[LENGTH_SYMBOLS] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,  2,
                                                        3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16, 99, 99};

}  // namespace inflate_detail

using namespace inflate_detail;

int HuffTableBuild64(const uint8_t *lengths, unsigned n, unsigned s, const uint16_t *bases, const uint8_t *extras,
                     HuffArena *arena, const HuffEntry **table, unsigned *lookupBits, unsigned span) {
  return BuildTable(lengths, n, s, bases, extras, arena, table, lookupBits, span, OP_LITERAL, OP64_END_OF_BLOCK);
}

int Inflate64Run(InflateDecoder *decoder) { return Run<Method9>(decoder); }
int Inflate64ReadBlock(InflateDecoder *decoder, int *last) { return ReadBlock<Method9>(decoder, last); }
int Inflate64FixedBlock(InflateDecoder *decoder) { return FixedBlock<Method9>(decoder); }
int Inflate64DynamicBlock(InflateDecoder *decoder) { return DynamicBlock<Method9>(decoder); }
int Inflate64DecodeData(InflateDecoder *decoder, const HuffEntry *literalTable, const HuffEntry *distanceTable,
                        unsigned literalBits, unsigned distanceBits) {
  return DecodeData<Method9>(decoder, literalTable, distanceTable, literalBits, distanceBits);
}
