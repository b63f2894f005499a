// The decoder shared by Deflate and Deflate64. The two methods differ only in
// their length table and in the operation numbers of their table entries, so
// every block reader and the symbol loop are templates over a small method
// record; inflate.cpp and inflate64.cpp instantiate them under the named
// operations of each method. Internal to the Deflate decoder.
#ifndef KV_INFLATE_IMPL_H
#define KV_INFLATE_IMPL_H

#include <cstring>

#include "inflate.h"

namespace inflate_detail {

constexpr unsigned LENGTH_SYMBOLS = 31;    // 257..287
constexpr unsigned DISTANCE_SYMBOLS = 32;  // 0..31, codes 30 and 31 included
constexpr unsigned MAX_LITERAL_LENGTHS = 286;
constexpr unsigned FIXED_LITERAL_BITS = 7;
constexpr unsigned FIXED_DISTANCE_BITS = 5;
constexpr unsigned DYNAMIC_LITERAL_BITS = 11;
constexpr unsigned DYNAMIC_DISTANCE_BITS = 8;
constexpr unsigned CODE_LENGTH_BITS = 7;
// The lookup widths of the near loop (FastLoopNear): a dynamic block's roots
// are repeated up to them, so that loop masks with constants. Size-optimised
// builds have no such loop and keep the roots as they are.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__OPTIMIZE_SIZE__)
constexpr unsigned FAST_LITERAL_SPAN = 11;
constexpr unsigned FAST_DISTANCE_SPAN = 8;
#else
constexpr unsigned FAST_LITERAL_SPAN = 0;
constexpr unsigned FAST_DISTANCE_SPAN = 0;
#endif

extern const uint16_t kDistanceBases[DISTANCE_SYMBOLS];
extern const uint8_t kDistanceExtras[DISTANCE_SYMBOLS];
extern const uint8_t kCodeLengthOrder[19];
// The lookup result of a code without any symbol: every lookup is invalid.
extern const HuffEntry kEmptyTable[1];

// A method's process-wide work areas, one per method. They are defined in
// the method's own source file: zero-filled at load time there, where as
// statics of the templates below the Windows build would store them in the file.
struct MethodState {
  HuffArena fixedLiteralArena, fixedDistanceArena;
  const HuffEntry *fixedLiteral, *fixedDistance;  // built at the first fixed block
  unsigned fixedLiteralBits, fixedDistanceBits;
  uint8_t lengths[MAX_LITERAL_LENGTHS + DISTANCE_SYMBOLS + 2];  // a dynamic block's code lengths
};

// Deflate: lengths 3..258, symbol 285 = 258.
struct Method8 {
  static MethodState state;
  static constexpr uint8_t kLiteral = OP_LITERAL;
  static constexpr uint8_t kEnd = OP_END_OF_BLOCK;
  // Codes 30 and 31 (accepted, though no Deflate encoder writes them) are
  // the only distances past 32 KiB.
  static constexpr bool kNearWithoutFarCodes = true;
  static const uint16_t kLengthBases[LENGTH_SYMBOLS];
  static const uint8_t kLengthExtras[LENGTH_SYMBOLS];
  static int Build(const uint8_t *lengths, unsigned n, unsigned s, const uint16_t *bases, const uint8_t *extras,
                   HuffArena *arena, const HuffEntry **table, unsigned *bits, unsigned span) {
    return HuffTableBuild(lengths, n, s, bases, extras, arena, table, bits, span);
  }
  static int DecodeData(InflateDecoder *d, const HuffEntry *lt, const HuffEntry *dt, unsigned lb, unsigned db) {
    return InflateDecodeData(d, lt, dt, lb, db);
  }
  static int FixedBlock(InflateDecoder *d) { return InflateFixedBlock(d); }
  static int DynamicBlock(InflateDecoder *d) { return InflateDynamicBlock(d); }
  static int ReadBlock(InflateDecoder *d, int *last) { return InflateReadBlock(d, last); }
};

// Deflate64: symbol 285 = base 3 with 16 extra bits (3..65,538).
struct Method9 {
  static MethodState state;
  static constexpr uint8_t kLiteral = OP_LITERAL;
  static constexpr uint8_t kEnd = OP64_END_OF_BLOCK;
  static constexpr bool kNearWithoutFarCodes = false;  // 64 KiB distances are ordinary here
  static const uint16_t kLengthBases[LENGTH_SYMBOLS];
  static const uint8_t kLengthExtras[LENGTH_SYMBOLS];
  static int Build(const uint8_t *lengths, unsigned n, unsigned s, const uint16_t *bases, const uint8_t *extras,
                   HuffArena *arena, const HuffEntry **table, unsigned *bits, unsigned span) {
    return HuffTableBuild64(lengths, n, s, bases, extras, arena, table, bits, span);
  }
  static int DecodeData(InflateDecoder *d, const HuffEntry *lt, const HuffEntry *dt, unsigned lb, unsigned db) {
    return Inflate64DecodeData(d, lt, dt, lb, db);
  }
  static int FixedBlock(InflateDecoder *d) { return Inflate64FixedBlock(d); }
  static int DynamicBlock(InflateDecoder *d) { return Inflate64DynamicBlock(d); }
  static int ReadBlock(InflateDecoder *d, int *last) { return Inflate64ReadBlock(d, last); }
};

// The builder behind HuffTableBuild and HuffTableBuild64: literalOp and
// endOp are the operations of simple symbols, links get literalOp + bits.
int BuildTable(const uint8_t *lengths, unsigned n, unsigned s, const uint16_t *bases, const uint8_t *extras,
               HuffArena *arena, const HuffEntry **table, unsigned *lookupBits, unsigned span, uint8_t literalOp,
               uint8_t endOp);

inline uint64_t Mask(unsigned n) { return ((uint64_t)1 << n) - 1; }

// A link to a sub-table, or an invalid code.
inline bool IsLinkOrInvalid(unsigned op) { return (op & 0xC0) == OP_LINK; }

inline bool EntryIsLinkOrInvalid(uint32_t word) { return (word & 0xC000) == (OP_LINK << 8); }

// The masks of 0..16 extra bits: one load instead of a shift, a decrement
// and an and per length and distance.
extern const uint32_t kLowBits[17];

// A table entry as one word: bits in the low byte, the operation above them,
// the value in the top half (the field order of HuffEntry).
inline uint32_t EntryWord(const HuffEntry *table, size_t index) {
  uint32_t w;
  memcpy(&w, table + index, 4);
  return w;
}

inline uint64_t LoadLittle64(const unsigned char *p) {
  uint64_t v;
  memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

// The bit state of a decoder while a block reader works on it, with direct
// access to the unread bytes of the caller's current piece [next, end).
struct BitReader {
  uint64_t buffer;
  uint32_t count;
  uint32_t overread;  // zero bytes added past the end of the input
  const unsigned char *next;
  const unsigned char *end;
  InflateDecoder *decoder;
};

inline void LoadBits(InflateDecoder *d, BitReader &br) {
  br.buffer = d->bitBuffer;
  br.count = d->bitCount;
  br.overread = d->overreadBytes;
  br.decoder = d;
  br.next = d->io->next;
  br.end = br.next ? br.next + d->io->avail : nullptr;
}

inline void SaveBits(InflateDecoder *d, BitReader &br) {
  d->io->next = br.next;
  d->io->avail = (uint32_t)(br.end - br.next);
  d->bitBuffer = br.buffer;
  d->bitCount = br.count;
  d->overreadBytes = br.overread;
}

// The next input byte, asking refill for a new piece when the current one
// is used up; -1 at the end of the input.
int NextPieceByte(BitReader &br);

// Hands count decoded bytes from the window's start to the caller; a refusal
// stops the run.
inline void FlushWindow(InflateDecoder *d, uint32_t count) {
  d->entryFlushed += count;
  if (!d->io->flush(d->io->user, d->window, count)) d->stopped = true;
}

// Eight bytes at once: takes as many whole bytes as fit (count ends at 56..63).
// The bits loaded above count are those of the following bytes, so taking
// those bytes later ORs in the same bits again.
inline void RefillFast(BitReader &br) {
  br.buffer |= LoadLittle64(br.next) << br.count;
  uint32_t n = (63 - br.count) >> 3;
  br.next += n;
  br.count += n << 3;
}

// Tops the buffer up to need bits (need <= 32). False when the input has
// ended and zero bits from beyond its end were already consumed.
bool RefillSlow(BitReader &br, uint32_t need);

inline bool Ensure(BitReader &br, uint32_t need) {
  if (br.count >= need) return true;
  if (br.end - br.next >= 8) {
    RefillFast(br);
    return true;
  }
  return RefillSlow(br, need);
}

inline void Drop(BitReader &br, uint32_t n) {
  br.buffer >>= n;
  br.count -= n;
}

// True while no zero bits from beyond the end of the input were consumed.
inline bool WithinInput(const BitReader &br) { return br.count >= br.overread * 8; }

// Forward copy of n bytes with the result of a byte-by-byte copy, also when
// the ranges overlap (a short distance repeats the recent bytes). Never
// writes outside [dst, dst + n): the rest of the window is history.
inline void CopyForward(unsigned char *dst, const unsigned char *src, uint32_t n) {
  if (src < dst) {
    size_t distance = (size_t)(dst - src);
    if (distance < 8) {
      if (distance == 1) {
        const uint64_t pattern = 0x0101010101010101ull * *src;
        for (; n >= 8; n -= 8, dst += 8) memcpy(dst, &pattern, 8);
        for (; n; n--) *dst++ = (unsigned char)pattern;
        return;
      }
      // Grow the repeated pattern: each pass copies what is already there,
      // so the distance from src doubles while the content stays periodic.
      while (n >= distance && distance < 8) {
        for (size_t k = 0; k < distance; k++) dst[k] = src[k];
        dst += distance;
        n -= (uint32_t)distance;
        distance *= 2;
      }
      if (distance < 8) {
        for (; n; n--) *dst++ = *src++;
        return;
      }
    }
  } else if (src == dst) {
    return;  // distance of a whole window: the bytes stay as they are
  }
  // Here src is at least 8 bytes behind dst, or ahead of it (each word is
  // loaded before anything it covers can be overwritten).
  if (src < dst && n >= 4) {
    // Behind: the tail is copied as one more word (or half word) that ends
    // at the match's end; the bytes it overlaps get the values they hold.
    unsigned char *const dstEnd = dst + n;
    const unsigned char *const srcEnd = src + n;
    if (n >= 8) {
      for (; n >= 8; n -= 8, src += 8, dst += 8) {
        uint64_t w;
        memcpy(&w, src, 8);
        memcpy(dst, &w, 8);
      }
      uint64_t w;
      memcpy(&w, srcEnd - 8, 8);
      memcpy(dstEnd - 8, &w, 8);
    } else {
      uint32_t head, tail;
      memcpy(&head, src, 4);
      memcpy(&tail, srcEnd - 4, 4);
      memcpy(dst, &head, 4);
      memcpy(dstEnd - 4, &tail, 4);
    }
    return;
  }
  for (; n >= 8; n -= 8, src += 8, dst += 8) {
    uint64_t w;
    memcpy(&w, src, 8);
    memcpy(dst, &w, 8);
  }
  if (n >= 4) {
    uint32_t w;
    memcpy(&w, src, 4);
    memcpy(dst, &w, 4);
    src += 4;
    dst += 4;
    n -= 4;
  }
  for (; n; n--) *dst++ = *src++;
}

// Copies a match of length bytes from source to the window position in
// pieces bounded by the window's end, flushing the full window (flushed is
// then set). Returns the new position.
inline uint32_t CopyMatch(InflateDecoder *d, unsigned char *window, uint32_t position, uint32_t source,
                          uint32_t length, bool *flushed) {
  if (d->entryFlushed == 0 && source >= position) {
    // The distance reaches before the entry's first byte: until the entry has
    // filled a window, everything from source to the window's end belongs to
    // an earlier entry (or was never written) and reads as zeros.
    uint32_t zeros = WINDOW_SIZE - source;
    if (zeros > length) zeros = length;
    memset(window + position, 0, zeros);
    position += zeros;
    source = (source + zeros) & 0xFFFF;
    length -= zeros;
    if (position == WINDOW_SIZE) {
      FlushWindow(d, WINDOW_SIZE);
      *flushed = true;
      position = 0;
    }
  }
  while (length) {
    uint32_t top = source > position ? source : position;
    uint32_t chunk = WINDOW_SIZE - top;
    if (chunk > length) chunk = length;
    CopyForward(window + position, window + source, chunk);
    position += chunk;
    source += chunk;
    length -= chunk;
    if (position == WINDOW_SIZE) {
      FlushWindow(d, WINDOW_SIZE);
      *flushed = true;
      position = 0;
    }
    source &= 0xFFFF;
  }
  return position;
}

// The state the fast symbol loop works on, copied in and out around it.
struct FastState {
  uint64_t bb;
  uint32_t bc;
  uint32_t pos;
  const unsigned char *in;
  const unsigned char *inEnd;
  uint32_t source;  // a match left to the caller: it wraps or reaches the window's end
  uint32_t length;
};

enum : int { FAST_MARGIN = 0, FAST_INVALID = 1, FAST_END = 2, FAST_COPY = 3 };
// The most literals one round of the fast loop writes.
constexpr uint32_t FAST_LITERALS = 6;

// Decodes symbols while at least 16 bytes of the current input piece are
// left and the window has room for FAST_LITERALS literals: a top-up ending
// each round (at most one more within it) then holds 56 bits or more, enough for up to three literals (six
// with a root of 9 bits), or two literals and a length code with its extra
// bits; a second top-up (at most 7
// more bytes) before the distance keeps 32 bits for a distance code (at most
// 15 bits) and its extra bits (at most 14). Kept out of line and free of
// calls, so its few live values all stay in registers. historyFull: the entry
// has filled a window, so the whole window is its history. Returns at a
// symbol boundary: FAST_MARGIN when the input runs short or the window is
// (nearly) full, FAST_INVALID for an invalid code, FAST_END after an
// end-of-block code, FAST_COPY with a match (source, length) that the loop's
// word copy cannot take.
//
// The bit count lives in the low byte of bc only: a consumed entry is taken
// off as a whole word (its bits are its low byte, and the low byte never
// borrows), which saves taking the bits out of the entry first.
//
// kNear: the block has no distance code 30 or 31, so no distance reaches
// past 32 KiB, and the bytes a word copy writes past a match's end (up to
// 31 of them, nearly 64 KiB back) are not anybody's history: they need not
// be put back. The near loop also takes the roots through constant masks
// (FAST_LITERAL_SPAN, FAST_DISTANCE_SPAN).
template <class M, bool kBmi2, bool kNear>
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline int FastLoopBody(unsigned char *const window, FastState *s, const HuffEntry *literalTable,
                        const HuffEntry *distanceTable, unsigned literalBits, unsigned distanceBits,
                        bool historyFull) {
  uint64_t bb = s->bb;
  uint32_t bc = s->bc;
  unsigned char *out = window + s->pos;
  unsigned char *const outLimit = window + WINDOW_SIZE - FAST_LITERALS;
  const unsigned char *in = s->in;
  const unsigned char *const inLimit = s->inEnd - 16;
  // The near loop looks up the repeated roots with constant masks: two
  // registers fewer.
  const uint64_t literalMask = kNear ? Mask(FAST_LITERAL_SPAN) : Mask(literalBits);
  const uint64_t literalSkip = ~literalMask;
  const bool fiveLiterals = kNear || literalBits <= 11;
  const bool sixLiterals = literalBits <= 9;
  // bb & literalMask: with BMI1 one instruction that keeps bb (the compiler
  // would copy bb and then mask the copy).
  auto literalIndex = [literalMask, literalSkip](uint64_t bits) -> uint64_t {
#if defined(__GNUC__) && defined(__x86_64__)
    if (kBmi2 && !kNear) {
      uint64_t index;
      __asm__("andn %1, %2, %0" : "=r"(index) : "r"(bits), "r"(literalSkip));
      return index;
    }
#endif
    (void)literalSkip;
    return bits & literalMask;
  };
  // The low n bits of bb (n <= 16): with BMI2 one instruction, else a load.
  auto lowBits = [](uint64_t bits, unsigned n) -> uint32_t {
#if defined(__GNUC__) && defined(__x86_64__)
    if (kBmi2) {
      uint64_t low;
      __asm__("bzhi %2, %1, %0" : "=r"(low) : "r"(bits), "r"((uint64_t)n));
      return (uint32_t)low;
    }
#endif
    return (uint32_t)bits & kLowBits[n];
  };
  const uint32_t distanceMask = (uint32_t)Mask(kNear ? FAST_DISTANCE_SPAN : distanceBits);
  int status = FAST_MARGIN;
  // Tops bb up to 56 bits or more and looks up the next symbol's entry. It
  // ends every path through the loop, the match's ahead of its copy, so the
  // branches of the copy and of the loop's test do not hold the lookup up.
  // A lookup that the bits already held can answer does not wait for the
  // top-up (an OR less on the path from one symbol to the next).
  auto refillAndLook = [&]() {
    const uint64_t held = bb;
    const uint32_t count = bc;
    bb |= LoadLittle64(in) << (bc & 63);
    in += 7 - ((bc >> 3) & 7);
    bc |= 56;
    if (kNear && __builtin_expect((uint8_t)count >= FAST_LITERAL_SPAN, 1)) {
      return EntryWord(literalTable, literalIndex(held));
    }
    return EntryWord(literalTable, literalIndex(bb));
  };
  // Where size counts more than speed, one top-up at the loop's head
  // serves every path instead.
#if defined(__OPTIMIZE_SIZE__)
  constexpr bool kRefillAtEnd = false;
  uint32_t e = 0;
#else
  constexpr bool kRefillAtEnd = true;
  uint32_t e = refillAndLook();
#endif
  while (in <= inLimit && out <= outLimit) {
    if (!kRefillAtEnd) e = refillAndLook();
    // The near loop also looks up the distance that would follow a length
    // entry, before the literal tests: after a mispredicted one the
    // distance lookup is under way too. A length comes at most third in a
    // round, after two literals: 2 * 11 + 11 + 5 bits of the 56 leave the
    // distance's 8 bits in the buffer, also behind a link (2 * 11 + 15 + 5).
    uint32_t distanceAhead = 0;
#if defined(__OPTIMIZE_SIZE__)
    // The same rounds as a loop where size counts more than speed.
    auto takeLiteral = [&]() {
      bb >>= e & 63;
      bc -= e;
      *out++ = (unsigned char)(e >> 16);
      e = EntryWord(literalTable, literalIndex(bb));
    };
    if (e & (OP_LITERAL << 8)) {
      const unsigned most = !fiveLiterals ? 3 : sixLiterals ? 6 : 5;
      unsigned taken = 0;
      do {
        takeLiteral();
      } while (++taken < most && (e & (OP_LITERAL << 8)));
      if (taken >= 3) {
        if (kRefillAtEnd) e = refillAndLook();
        continue;
      }
    }
#else
    // Each literal's successor is looked up before the literal's own test:
    // when that test is mispredicted, the lookup has already been issued.
    uint64_t after = bb >> (e & 63);
    uint32_t next = EntryWord(literalTable, literalIndex(after));
    if (kNear) distanceAhead = EntryWord(distanceTable, (uint32_t)after & distanceMask);
    // ahead: a length may follow and go on to its distance (in the first
    // three entries of a round; later ones start a new round).
    auto takeLiteral = [&](bool ahead) {
      bb = after;
      bc -= e;
      *out++ = (unsigned char)(e >> 16);
      e = next;
      after = bb >> (e & 63);
      next = EntryWord(literalTable, literalIndex(after));
      if (kNear && ahead) distanceAhead = EntryWord(distanceTable, (uint32_t)after & distanceMask);
    };
    if (e & (OP_LITERAL << 8)) {
      // Up to three literals per top-up: a root literal takes at most 15
      // bits, and 56 - 2 * 15 still covers the third.
      takeLiteral(true);
      if (e & (OP_LITERAL << 8)) {
        takeLiteral(true);
        if (e & (OP_LITERAL << 8)) {
          takeLiteral(false);
          // A root of at most 11 bits: five literals fit the 56 bits (six
          // with 9 bits). A length after the third literal might not: the
          // next round looks it up again after its top-up.
          if (fiveLiterals && (e & (OP_LITERAL << 8))) {
            takeLiteral(false);
            if (e & (OP_LITERAL << 8)) {
              takeLiteral(false);
              if (sixLiterals && (e & (OP_LITERAL << 8))) takeLiteral(false);
            }
          }
          if (kRefillAtEnd) e = refillAndLook();
          continue;
        }
      }
    }
#endif
    if (e & (0xE0 << 8)) {  // not a length or the end: a link, or an invalid code
      while (EntryIsLinkOrInvalid(e)) {
        const unsigned link = (e >> 8) & 0xFF;
        if (link == OP_INVALID) {
          status = FAST_INVALID;
          goto out;
        }
        bb >>= e & 63;
        bc -= e;
        e = EntryWord(literalTable, (e >> 16) + (bb & kLowBits[link - OP_LINK]));
      }
      if (e & (OP_LITERAL << 8)) {
        bb >>= e & 63;
        bc -= e;
        *out++ = (unsigned char)(e >> 16);
        if (kRefillAtEnd) e = refillAndLook();
        continue;
      }
      if (kNear) distanceAhead = EntryWord(distanceTable, (uint32_t)(bb >> (e & 63)) & distanceMask);
    }
    unsigned op = (e >> 8) & 0xFF;
    // A length's (and a distance's) entry counts its extra bits in its
    // bits: one shift takes code and extra bits off the buffer, and the
    // extra bits are read beside it, off the path to the next lookup.
    const uint64_t codeAndExtra = bb;
    bb >>= e & 63;
    bc -= e;
    if (op == M::kEnd) {
      status = FAST_END;
      goto out;
    }
    {
      uint32_t length = (e >> 16) + lowBits(codeAndExtra >> ((e - op) & 63), op);
      // After two literals and a long length code (or Deflate64's 16 extra
      // bits) the distance might not fit any more: top up once more.
      if ((uint8_t)bc < 32) {
        bb |= LoadLittle64(in) << (bc & 63);
        in += 7 - ((bc >> 3) & 7);
        bc |= 56;
      }
      e = kNear ? distanceAhead : EntryWord(distanceTable, (uint32_t)bb & distanceMask);
      if (e & (0xE0 << 8)) {  // not a distance (a distance table has no literal or end code)
        while (EntryIsLinkOrInvalid(e)) {
          const unsigned link = (e >> 8) & 0xFF;
          if (link == OP_INVALID) {
            status = FAST_INVALID;
            goto out;
          }
          bb >>= e & 63;
          bc -= e;
          e = EntryWord(distanceTable, (e >> 16) + (bb & kLowBits[link - OP_LINK]));
        }
        if (((e >> 8) & 0xFF) >= M::kEnd) {  // a simple symbol cannot stand in a distance table
          status = FAST_INVALID;
          goto out;
        }
      }
      op = (e >> 8) & 0xFF;
      const uint32_t distance = (e >> 16) + lowBits(bb >> ((e - op) & 63), op);
      bb >>= e & 63;
      bc -= e;
      if (kRefillAtEnd) e = refillAndLook();
      uint32_t pos = (uint32_t)(out - window);
      const uint32_t source = (pos - distance) & 0xFFFF;
      if (kNear && pos + length <= WINDOW_SIZE - 32 &&
          (distance <= pos ? distance >= 16 : historyFull && source + length <= WINDOW_SIZE - 32)) {
        // 16 bytes a step from a source at least 16 behind (or ahead, in
        // the previous window's tail), the first 32 bytes without a test:
        // most matches are that short, and the bytes past the end are no
        // history in such a block.
        unsigned char *dst = out;
        const unsigned char *src = window + source;
        out += length;
        unsigned char w[16];
        memcpy(w, src, 16);
        memcpy(dst, w, 16);
        memcpy(w, src + 16, 16);
        memcpy(dst + 16, w, 16);
        if (length > 32) {
          dst += 32;
          src += 32;
          do {
            memcpy(w, src, 16);
            memcpy(dst, w, 16);
            dst += 16;
            src += 16;
          } while (dst < out);
        }
        continue;
      }
      if (pos + length <= WINDOW_SIZE - 16 &&
          (distance <= pos ? distance >= 8 || distance == 1 : historyFull && source + length <= WINDOW_SIZE - 16)) {
        // Whole words, 16 bytes a step, running up to 15 bytes past the
        // match's end; those bytes may still be history (at a distance of
        // nearly a window), so they are put back afterwards. The source is
        // at least 8 bytes behind, or wholly in the previous window's tail
        // ahead (every word is read before it is written).
        unsigned char *dst = out;
        const unsigned char *src = window + source;
        unsigned char *const end = dst + length;
        unsigned char past[16];
        if (!kNear) memcpy(past, end, 16);
        out = end;
        if (distance == 1) {
          const uint64_t w = 0x0101010101010101ull * *src;
          do {
            memcpy(dst, &w, 8);
            memcpy(dst + 8, &w, 8);
            dst += 16;
          } while (dst < end);
        } else {
          for (;;) {
            uint64_t w;
            memcpy(&w, src, 8);
            memcpy(dst, &w, 8);
            memcpy(&w, src + 8, 8);
            memcpy(dst + 8, &w, 8);
            dst += 16;
            if (dst >= end) break;
            src += 16;
          }
        }
        if (!kNear) memcpy(end, past, 16);
        continue;
      }
      // The rest (a distance under 8, a match that wraps or meets the
      // window's end) is rare: the caller's copy takes it, which keeps the
      // loop small enough for its values to stay in registers.
      s->source = source;
      s->length = length;
      status = FAST_COPY;
      goto out;
    }
  }
out:
  s->bb = bb;
  s->bc = (uint8_t)bc;
  s->pos = (uint32_t)(out - window);
  s->in = in;
  return status;
}

template <class M>
#if defined(__GNUC__)
__attribute__((noinline))
#endif
int FastLoop(unsigned char *const window, FastState *s, const HuffEntry *literalTable,
             const HuffEntry *distanceTable, unsigned literalBits, unsigned distanceBits, bool historyFull) {
  return FastLoopBody<M, false, false>(window, s, literalTable, distanceTable, literalBits, distanceBits,
                                      historyFull);
}

// The same loop with shifts by a register that need no count register and
// leave the flags alone: fewer instructions per symbol. Left out where the
// build optimises for size (the Windows stub).
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__OPTIMIZE_SIZE__)
#define KV_INFLATE_BMI2 1
// Whether the processor has BMI1 and BMI2, unless KVSFX_CPU=portable asks for
// the portable paths; decided once per process.
bool InflateFastShifts();

template <class M>
__attribute__((noinline, target("bmi,bmi2"))) int FastLoopBmi2(unsigned char *const window, FastState *s,
                                                              const HuffEntry *literalTable,
                                                              const HuffEntry *distanceTable, unsigned literalBits,
                                                              unsigned distanceBits, bool historyFull) {
  return FastLoopBody<M, true, false>(window, s, literalTable, distanceTable, literalBits, distanceBits,
                                     historyFull);
}

template <class M>
__attribute__((noinline, target("bmi,bmi2"))) int FastLoopNear(unsigned char *const window, FastState *s,
                                                              const HuffEntry *literalTable,
                                                              const HuffEntry *distanceTable, unsigned literalBits,
                                                              unsigned distanceBits, bool historyFull) {
  return FastLoopBody<M, true, true>(window, s, literalTable, distanceTable, literalBits, distanceBits,
                                     historyFull);
}
#endif

// The symbol loop of both methods: the fast loop while the input piece has
// room, one careful symbol at a time near its end and at the end of input.
// Only a flush can stop the run, so the stop is looked at after each one,
// which ends the loop at the next symbol as a test before every symbol would.
template <class M>
int DecodeData(InflateDecoder *d, const HuffEntry *literalTable, const HuffEntry *distanceTable,
               unsigned literalBits, unsigned distanceBits) {
  if (!literalTable) {
    literalTable = kEmptyTable;
    literalBits = 0;
  }
  if (!distanceTable) {
    distanceTable = kEmptyTable;
    distanceBits = 0;
  }
  BitReader br;
  LoadBits(d, br);
  FastState fs;
  fs.bb = br.buffer;
  fs.bc = br.count;
  fs.pos = d->windowPosition;
  fs.in = br.next;
  fs.inEnd = br.end;
  bool stop = d->stopped;
  int result = 0;
  int (*fast)(unsigned char *, FastState *, const HuffEntry *, const HuffEntry *, unsigned, unsigned, bool) =
      &FastLoop<M>;
#ifdef KV_INFLATE_BMI2
  if (InflateFastShifts()) {
    fast = &FastLoopBmi2<M>;
    // Only a method whose blocks can be near has the near loop in its code.
    if constexpr (M::kNearWithoutFarCodes) {
      if (d->nearDistances) fast = &FastLoopNear<M>;
    }
  }
#endif

  // The careful top-up: through refill at the end of a piece.
  auto ensure = [&](uint32_t need) -> bool {
    if (fs.bc >= need) return true;
    br.buffer = fs.bb;
    br.count = fs.bc;
    br.next = fs.in;
    br.end = fs.inEnd;
    bool ok = RefillSlow(br, need);
    fs.bb = br.buffer;
    fs.bc = br.count;
    fs.in = br.next;
    fs.inEnd = br.end;
    return ok;
  };
  auto drop = [&](uint32_t n) {
    fs.bb >>= n;
    fs.bc -= n;
  };
  // Follows links from a root entry; null for an invalid code or no input.
  auto resolve = [&](const HuffEntry *root, const HuffEntry *e) -> const HuffEntry * {
    while (IsLinkOrInvalid(e->operation)) {
      if (e->operation == OP_INVALID) return nullptr;
      unsigned subBits = e->operation - OP_LINK;
      drop(e->bits);
      if (!ensure(subBits)) return nullptr;
      e = &root[e->value + (fs.bb & Mask(subBits))];
    }
    return e;
  };

  while (!stop) {
    if (fs.inEnd - fs.in >= 16 && fs.pos <= WINDOW_SIZE - FAST_LITERALS) {
      int status = fast(d->window, &fs, literalTable, distanceTable, literalBits, distanceBits, d->entryFlushed != 0);
      if (status == FAST_INVALID) {
        result = 1;
        break;
      }
      if (status == FAST_END) break;
      if (status == FAST_COPY) {
        bool flushed = false;
        fs.pos = CopyMatch(d, d->window, fs.pos, fs.source, fs.length, &flushed);
        if (flushed && d->stopped) stop = true;
      } else if (fs.pos == WINDOW_SIZE) {  // literals filled the window
        FlushWindow(d, WINDOW_SIZE);
        fs.pos = 0;
        stop = d->stopped;
      }
      continue;  // FAST_MARGIN: the input piece runs short or the window is nearly full: careful symbols
    }
    if (!ensure(literalBits)) {
      result = 1;
      break;
    }
    const HuffEntry *e = resolve(literalTable, &literalTable[fs.bb & Mask(literalBits)]);
    if (!e) {
      result = 1;
      break;
    }
    unsigned op = e->operation;
    if (op == M::kLiteral || op == M::kEnd) drop(e->bits);
    if (op == M::kLiteral) {
      d->window[fs.pos++] = (unsigned char)e->value;
      if (fs.pos == WINDOW_SIZE) {
        FlushWindow(d, WINDOW_SIZE);
        fs.pos = 0;
        stop = d->stopped;
      }
      continue;
    }
    if (op == M::kEnd) {
      if (fs.bc < br.overread * 8) result = 1;  // the end code lay beyond the input
      break;
    }
    drop(e->bits - op);  // the code; its extra bits follow
    if (!ensure(op)) {
      result = 1;
      break;
    }
    uint32_t length = e->value + (uint32_t)(fs.bb & Mask(op));
    drop(op);
    if (!ensure(distanceBits)) {
      result = 1;
      break;
    }
    e = resolve(distanceTable, &distanceTable[fs.bb & Mask(distanceBits)]);
    if (!e) {
      result = 1;
      break;
    }
    op = e->operation;
    if (op >= M::kEnd) {
      result = 1;
      break;
    }
    drop(e->bits - op);
    if (!ensure(op)) {
      result = 1;
      break;
    }
    uint32_t source = (fs.pos - e->value - (uint32_t)(fs.bb & Mask(op))) & 0xFFFF;
    drop(op);
    bool flushed = false;
    fs.pos = CopyMatch(d, d->window, fs.pos, source, length, &flushed);
    if (flushed && d->stopped) stop = true;
  }
  br.buffer = fs.bb;
  br.count = fs.bc;
  br.next = fs.in;
  br.end = fs.inEnd;
  SaveBits(d, br);
  d->windowPosition = fs.pos;
  return result;
}

// The fixed tables of each method are built at the first fixed block of the
// process and kept: small entries are often a single fixed block, and
// building the tables for each of them cost more than decoding them.
template <class M>
int FixedBlock(InflateDecoder *d) {
  MethodState &shared = M::state;
  if (!shared.fixedLiteral) {
    uint8_t lengths[288];
    unsigned i = 0;
    for (; i < 144; i++) lengths[i] = 8;
    for (; i < 256; i++) lengths[i] = 9;
    for (; i < 280; i++) lengths[i] = 7;
    for (; i < 288; i++) lengths[i] = 8;
    const HuffEntry *literal = nullptr;
    unsigned literalBits = FIXED_LITERAL_BITS;
    int r = M::Build(lengths, 288, 257, M::kLengthBases, M::kLengthExtras, &shared.fixedLiteralArena, &literal,
                     &literalBits, 0);
    if (r != 0) return r;
    for (i = 0; i < DISTANCE_SYMBOLS; i++) lengths[i] = 5;
    const HuffEntry *distance = nullptr;
    unsigned distanceBits = FIXED_DISTANCE_BITS;
    r = M::Build(lengths, DISTANCE_SYMBOLS, 0, kDistanceBases, kDistanceExtras, &shared.fixedDistanceArena, &distance,
                 &distanceBits, 0);
    if (r > 1) return r;
    shared.fixedLiteral = literal;
    shared.fixedLiteralBits = literalBits;
    shared.fixedDistance = distance;
    shared.fixedDistanceBits = distanceBits;
  }
  d->fixedLiteralTable = shared.fixedLiteral;
  d->fixedLiteralBits = shared.fixedLiteralBits;
  d->fixedDistanceTable = shared.fixedDistance;
  d->fixedDistanceBits = shared.fixedDistanceBits;
  return M::DecodeData(d, d->fixedLiteralTable, d->fixedDistanceTable, d->fixedLiteralBits, d->fixedDistanceBits) ? 1
                                                                                                                 : 0;
}

// What a dynamic block's header reading needs of its method.
typedef int (*TableBuilder)(const uint8_t *lengths, unsigned n, unsigned s, const uint16_t *bases,
                            const uint8_t *extras, HuffArena *arena, const HuffEntry **table, unsigned *bits,
                            unsigned span);
struct DynamicMethod {
  uint8_t *lengths;  // the method's code length buffer
  uint8_t literalOperation;
  TableBuilder build;
  const uint16_t *lengthBases;
  const uint8_t *lengthExtras;
};
struct DynamicTables {
  const HuffEntry *literal, *distance;
  unsigned literalBits, distanceBits;
  unsigned literalCount, distanceCount;  // code lengths read of each code
};
// Reads a dynamic block's code lengths and builds its two tables: one copy
// serves both methods, as it runs once per block. 0, or the block's result.
int ReadDynamicTables(InflateDecoder *d, const DynamicMethod &m, DynamicTables *t);

template <class M>
int DynamicBlock(InflateDecoder *d) {
  static const DynamicMethod method = {M::state.lengths, M::kLiteral, &M::Build, M::kLengthBases, M::kLengthExtras};
  DynamicTables t;
  int r = ReadDynamicTables(d, method, &t);
  if (r != 0) return r;
  // Deflate without codes 30 and 31 reaches 32 KiB back at most.
  const uint8_t *far = M::state.lengths + t.literalCount + 30;
  d->nearDistances = M::kNearWithoutFarCodes && FAST_LITERAL_SPAN && t.literal && t.distance &&
                     (t.distanceCount <= 30 || far[0] == 0) &&
                     (t.distanceCount <= 31 || far[1] == 0);
  r = M::DecodeData(d, t.literal, t.distance, t.literalBits, t.distanceBits) ? 1 : 0;
  d->nearDistances = false;
  return r;
}

int StoredBlock(InflateDecoder *d);

template <class M>
int ReadBlock(InflateDecoder *d, int *last) {
  BitReader br;
  LoadBits(d, br);
  if (!Ensure(br, 3)) {
    SaveBits(d, br);
    return 1;
  }
  *last = (int)(br.buffer & 1);
  Drop(br, 1);
  unsigned type = (unsigned)(br.buffer & 3);
  Drop(br, 2);
  SaveBits(d, br);
  int r;
  switch (type) {
    case 0:
      r = InflateStoredBlock(d);
      break;
    case 1:
      r = M::FixedBlock(d);
      break;
    case 2:
      r = M::DynamicBlock(d);
      break;
    default:
      return 2;
  }
  // A refused flush ends the stream: after a cancel, a failed write or
  // output past the declared size, the data that follows is never decoded.
  if (d->stopped) *last = 1;
  return r;
}

// Hands whole bytes taken ahead into the bit buffer back to the caller's
// piece, so that io says exactly how much of the input was used.
void ReturnUnusedBytes(InflateDecoder *d);

template <class M>
int Run(InflateDecoder *d) {
  d->windowPosition = 0;
  d->bitBuffer = 0;
  d->bitCount = 0;
  d->overreadBytes = 0;
  d->entryFlushed = 0;
  d->stopped = false;
  d->pieceStart = d->io->next;
  int last;
  do {
    last = 0;
    int r = M::ReadBlock(d, &last);
    if (r != 0) return r;
  } while (!last);
  // After a refusal too: a stored block finishes its copy and the final
  // flush still hands over the window's rest (the caller decides its fate).
  FlushWindow(d, d->windowPosition);
  ReturnUnusedBytes(d);
  return 0;
}

}  // namespace inflate_detail

#endif
