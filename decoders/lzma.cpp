// LZMA decoder: a binary range decoder driving adaptive bit models for the
// literal, match and repeat-match symbols of an LZ77 stream.
//
// Range decoding: `range` and `code` are 32 bits; a bit with probability p
// (of a 0, in 1/2048ths) splits the range at bound = (range >> 11) * p. The
// model moves 1/32 of the way towards the bit seen. Before each bit, a range
// below 2^24 takes one more input byte into code. Direct bits (the high
// distance bits) halve the range without a model.
//
// Speed: the whole decoder state lives in locals of one function, the bit
// steps are forced inline, and symbols are decoded straight into the
// dictionary, which is flushed when it wraps, every LZMA_FLUSH_STEP bytes and
// at the end. Input is read byte by byte from the caller's piece; only when a
// piece is used up does the out-of-line refill run. Past the end of the input
// the decoder reads zeros from a small static block and marks the input
// truncated, so nothing is read outside a buffer; the mark is looked at
// before any output is flushed, and the output between two flushes is
// bounded, so decoding zeros ends soon.
#include "lzma.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

// The bit steps are forced inline where speed is asked for; a build for size
// (the Windows stub) keeps them as calls, at half the code.
#if defined(__OPTIMIZE_SIZE__)
#define KV_LZMA_INLINE inline
#else
#define KV_LZMA_INLINE __attribute__((always_inline)) inline
#endif

namespace {

constexpr unsigned PROB_BITS = 11;
constexpr unsigned PROB_INIT = 1u << (PROB_BITS - 1);
constexpr unsigned MOVE_BITS = 5;
constexpr uint32_t RANGE_TOP = 1u << 24;
constexpr unsigned STATES = 12;
constexpr unsigned POS_STATES_MAX = 16;
constexpr unsigned LITERAL_STATES = 7;  // states below this follow a literal
constexpr uint32_t END_MARKER = 0xFFFFFFFFu;
constexpr uint32_t LITERAL_CODER_SIZE = 0x300;  // 256 plain + 2 * 256 matched
// The state after a literal: states 0..6 follow literals, 7..11 matches.
const unsigned char kAfterLiteral[STATES] = {0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 4, 5};

// The models of a match length: a choice between 8 short lengths per
// position state (2..9), 8 more (10..17) and 256 long ones (18..273).
struct LengthModels {
  uint16_t choice;
  uint16_t choice2;
  uint16_t low[POS_STATES_MAX][8];
  uint16_t mid[POS_STATES_MAX][8];
  uint16_t high[256];
};

// Every model but the literal coders, which follow this block in memory.
struct Models {
  uint16_t isMatch[STATES][POS_STATES_MAX];
  uint16_t isRep[STATES];
  uint16_t isRepG0[STATES];
  uint16_t isRepG1[STATES];
  uint16_t isRepG2[STATES];
  uint16_t isRep0Long[STATES][POS_STATES_MAX];
  uint16_t slot[4][64];     // distance slot per length state (lengths 2, 3, 4, 5+)
  uint16_t special[1 + 114];  // reverse trees of the low bits of slots 4..13
  uint16_t align[16];       // reverse tree of the four lowest bits of slots 14+
  LengthModels length;
  LengthModels repLength;
};

// Zeros read once the input has ended (more than one symbol can take).
const unsigned char kZeros[64] = {};

// The next piece of input: 1, or 0 when there is none (pieces of 0 bytes are
// skipped).
__attribute__((noinline)) int NextPiece(DecodeIo *io, const unsigned char **next, uint32_t *avail) {
  while (io->refill(io->user, next, avail))
    if (*avail) return 1;
  return 0;
}

// The range decoder over the caller's input. Kept as a local of the decoding
// function; its members stay in registers because its address is never taken.
struct RangeDecoder {
  uint32_t range;
  uint32_t code;
  const unsigned char *in;
  const unsigned char *end;
  DecodeIo *io;
  int truncated;

  KV_LZMA_INLINE unsigned char Byte() {
    if (in == end) {
      const unsigned char *next;
      uint32_t avail;
      if (NextPiece(io, &next, &avail)) {
        in = next;
        end = next + avail;
      } else {
        truncated = 1;
        in = kZeros;
        end = kZeros + sizeof kZeros;
      }
    }
    return *in++;
  }

  KV_LZMA_INLINE void Normalize() {
    if (range < RANGE_TOP) {
      range <<= 8;
      code = (code << 8) | Byte();
    }
  }

  KV_LZMA_INLINE unsigned Bit(uint16_t *prob) {
    Normalize();
    uint32_t p = *prob;
    uint32_t bound = (range >> PROB_BITS) * p;
    unsigned bit;
    if (code < bound) {
      range = bound;
      *prob = (uint16_t)(p + (((1u << PROB_BITS) - p) >> MOVE_BITS));
      bit = 0;
    } else {
      range -= bound;
      code -= bound;
      *prob = (uint16_t)(p - (p >> MOVE_BITS));
      bit = 1;
    }
    return bit;
  }

  // A tree of `bits` levels, most significant bit first; models at 1..2^bits-1.
  KV_LZMA_INLINE unsigned Tree(uint16_t *probs, unsigned bits) {
    unsigned m = 1;
    for (unsigned i = 0; i < bits; i++) m = (m << 1) | Bit(probs + m);
    return m - (1u << bits);
  }

  // The same tree read least significant bit first.
  KV_LZMA_INLINE unsigned ReverseTree(uint16_t *probs, unsigned bits) {
    unsigned m = 1, value = 0;
    for (unsigned i = 0; i < bits; i++) {
      unsigned bit = Bit(probs + m);
      m = (m << 1) | bit;
      value |= bit << i;
    }
    return value;
  }

  KV_LZMA_INLINE uint32_t Direct(unsigned bits) {
    uint32_t value = 0;
    do {
      Normalize();
      range >>= 1;
      uint32_t bit = code >= range;
      code -= range & (0u - bit);
      value = (value << 1) | bit;
    } while (--bits);
    return value;
  }

  // A match length less 2 (0..271).
  KV_LZMA_INLINE unsigned Length(LengthModels *m, unsigned posState) {
    if (!Bit(&m->choice)) return Tree(&m->low[posState][0], 3);
    if (!Bit(&m->choice2)) return 8 + Tree(&m->mid[posState][0], 3);
    return 16 + Tree(m->high, 8);
  }
};

}  // namespace

DecodeResult LzmaDecode(DecodeIo *io, uint64_t uncompressedSize, int endMarker) {
  RangeDecoder rc;
  rc.io = io;
  rc.in = io->next;
  rc.end = io->next + io->avail;
  rc.truncated = 0;

  unsigned char header[9];
  for (unsigned i = 0; i < sizeof header; i++) header[i] = rc.Byte();
  unsigned propsByte = header[4];
  if (rc.truncated || header[2] != 5 || header[3] != 0 || propsByte >= 9 * 5 * 5) {
    io->next = rc.truncated ? rc.end : rc.in;
    io->avail = rc.truncated ? 0 : (uint32_t)(rc.end - rc.in);
    return DECODE_BAD_DATA;
  }
  const unsigned lc = propsByte % 9;
  const unsigned lp = propsByte / 9 % 5;
  const unsigned pb = propsByte / 45;
  uint32_t declaredDictionary =
      (uint32_t)header[5] | (uint32_t)header[6] << 8 | (uint32_t)header[7] << 16 | (uint32_t)header[8] << 24;
  uint32_t dictSize = declaredDictionary;
  if (uncompressedSize < dictSize) dictSize = (uint32_t)uncompressedSize;
  if (dictSize < LZMA_MIN_DICTIONARY) dictSize = LZMA_MIN_DICTIONARY;

  size_t literalModels = (size_t)LITERAL_CODER_SIZE << (lc + lp);
  Models *models = (Models *)malloc(sizeof(Models) + literalModels * sizeof(uint16_t));
  unsigned char *dict = models ? (unsigned char *)malloc(dictSize) : nullptr;
  if (!dict) {
    free(models);
    io->next = rc.in;
    io->avail = (uint32_t)(rc.end - rc.in);
    return DECODE_NO_MEMORY;
  }
  uint16_t *const literals = (uint16_t *)(models + 1);
  {
    uint16_t *all = &models->isMatch[0][0];
    size_t count = sizeof(Models) / sizeof(uint16_t) + literalModels;
    for (size_t i = 0; i < count; i++) all[i] = PROB_INIT;
  }
  static_assert(sizeof(Models) % sizeof(uint16_t) == 0, "models are an array of 16-bit probabilities");

  DecodeResult result = DECODE_BAD_DATA;
  // An empty entry without the marker may end right after the header.
  if (uncompressedSize == 0 && !endMarker && rc.in == rc.end) {
    const unsigned char *next;
    uint32_t avail;
    if (!NextPiece(io, &next, &avail)) {
      result = DECODE_END;
      goto done;
    }
    rc.in = next;
    rc.end = next + avail;
  }
  rc.range = 0xFFFFFFFFu;
  rc.code = 0;
  // The encoder's first byte is always 0; the next four start the code.
  if (rc.Byte() != 0) goto done;
  for (int i = 0; i < 4; i++) rc.code = (rc.code << 8) | rc.Byte();
  if (rc.truncated || rc.code == rc.range) goto done;

  {
    const uint32_t pbMask = (1u << pb) - 1;
    const uint32_t lpMask = (1u << lp) - 1;
    unsigned state = 0;
    uint32_t rep0 = 0, rep1 = 0, rep2 = 0, rep3 = 0;
    uint32_t pos = 0;          // next byte of the dictionary to write
    uint32_t flushed = 0;      // first byte of the dictionary not flushed
    int full = 0;              // the dictionary has wrapped: all of it is history
    uint64_t total = 0;        // bytes flushed
    uint32_t pending = 0;      // bytes of a match still to copy after a flush
    int sawMarker = 0;

    for (;;) {
      // The encoder's final flush leaves the code at 0; without the flag a
      // marker may still follow, which this round decodes.
      // Each bit step normalizes before it decodes, so the stream's last
      // byte comes in here.
      if (total == uncompressedSize) rc.Normalize();
      if (total == uncompressedSize && !pending && !endMarker && rc.code == 0 && !rc.truncated) {
        result = DECODE_END;
        break;
      }
      // Positions for lp and pb count from the entry's start; base + pos is
      // that count modulo 2^32, which is all the masks look at.
      const uint32_t base = (uint32_t)total - pos;
      // A distance less one must stay below pos, or below dictSize once the
      // dictionary has wrapped.
      const uint32_t reach = full ? dictSize : 0;
      uint64_t left = uncompressedSize - total;  // bytes still allowed, counting from pos
      uint32_t limit = dictSize - pos < LZMA_FLUSH_STEP ? dictSize : pos + LZMA_FLUSH_STEP;
      // At the declared size one more symbol is decoded, which must be the
      // end marker; any byte it produces is one too many.
      if (left == 0)
        limit = pos + 1;
      else if (left < limit - pos)
        limit = pos + (uint32_t)left;

      // Copies n bytes from rep0 back; the destination never wraps (limit <=
      // dictSize), the source may.
      auto copyMatch = [&](uint32_t n) {
        unsigned char *d = dict + pos;
        pos += n;
        if (pos - n > rep0) {
          // The source lies wholly behind: forward, 8 bytes at a time when
          // the two are at least 8 apart, which never reads a byte this copy
          // has yet to write; a distance of 1 repeats one byte.
          const unsigned char *s = d - rep0 - 1;
          if (rep0 >= 7 && !full && dictSize - pos >= 8) {
            // Before the first wrap nothing past pos is history yet: the
            // last step may write up to 7 bytes beyond the match.
            do {
              memcpy(d, s, 8);
              d += 8;
              s += 8;
            } while (d < dict + pos);
          } else if (rep0 == 0) {
            memset(d, *s, n);
          } else {
            if (rep0 >= 7) {
              while (n >= 8) {
                memcpy(d, s, 8);
                d += 8;
                s += 8;
                n -= 8;
              }
            }
            while (n--) *d++ = *s++;
          }
        } else {
          uint32_t src = pos - n + dictSize - rep0 - 1;  // wrapped: rep0 < dictSize
          do {
            *d++ = dict[src++];
            if (src == dictSize) src = 0;
          } while (--n);
        }
      };

      if (pending) {
        uint32_t n = pending < limit - pos ? pending : limit - pos;
        pending -= n;
        copyMatch(n);
      }

      // The hot loop writes through a pointer; pos is brought up to date
      // where a match needs it.
      unsigned char *out = dict + pos;
      unsigned char *const outLimit = dict + limit;
      const uint32_t origin = (uint32_t)(uintptr_t)dict - base;  // position = address - origin
      // The byte before o, which the literal models look at: read back from
      // the dictionary (its last byte after a wrap, 0 at the very start).
      auto PrevByte = [&](const unsigned char *o) -> unsigned {
        return o != dict ? o[-1] : (full ? dict[dictSize - 1] : 0);
      };
      while (out < outLimit) {
        const uint32_t position = (uint32_t)(uintptr_t)out - origin;
        const unsigned posState = position & pbMask;
        if (!rc.Bit(&models->isMatch[state][posState])) {
          uint16_t *probs =
              literals + LITERAL_CODER_SIZE * (((position & lpMask) << lc) + (PrevByte(out) >> (8 - lc)));
          unsigned symbol = 1;
          if (state < LITERAL_STATES) {
            for (int i = 0; i < 8; i++) symbol = (symbol << 1) | rc.Bit(probs + symbol);
          } else {
            // After a match the byte at rep0 predicts this one bit by bit:
            // its models sit at 0x100 + (match bit << 8) while the bits
            // agree; offset turns 0 at the first that differs, and the
            // plain models at 1..0xFF serve the rest.
            uint32_t at = (uint32_t)(out - dict);
            unsigned matchByte = dict[at > rep0 ? at - rep0 - 1 : at + dictSize - rep0 - 1];
            unsigned offset = 0x100;
            do {
              matchByte <<= 1;
              unsigned matchBit = matchByte & offset;
              unsigned bit = rc.Bit(probs + offset + matchBit + symbol);
              symbol = (symbol << 1) | bit;
              offset &= bit ? matchBit : ~matchBit;
            } while (symbol < 0x100);
          }
          *out++ = (unsigned char)symbol;
          state = kAfterLiteral[state];
          continue;
        }
        uint32_t length;
        if (!rc.Bit(&models->isRep[state])) {
          length = rc.Length(&models->length, posState);
          state = state < LITERAL_STATES ? 7 : 10;
          unsigned lengthState = length < 3 ? length : 3;
          unsigned slot = rc.Tree(models->slot[lengthState], 6);
          uint32_t distance;
          if (slot < 4) {
            distance = slot;
          } else {
            unsigned bits = (slot >> 1) - 1;
            distance = (2 | (slot & 1)) << bits;
            if (slot < 14) {
              distance += rc.ReverseTree(models->special + distance - slot, bits);
            } else {
              distance += rc.Direct(bits - 4) << 4;
              distance += rc.ReverseTree(models->align, 4);
            }
          }
          if (distance == END_MARKER) {
            if (rc.truncated) goto done;
            sawMarker = 1;
            pos = (uint32_t)(out - dict);
            break;
          }
          rep3 = rep2;
          rep2 = rep1;
          rep1 = rep0;
          rep0 = distance;
        } else {
          if (!rc.Bit(&models->isRepG0[state])) {
            if (!rc.Bit(&models->isRep0Long[state][posState])) {
              // One byte from rep0 back.
              uint32_t at = (uint32_t)(out - dict);
              if (rep0 >= at && rep0 >= reach) goto done;
              *out++ = dict[at > rep0 ? at - rep0 - 1 : at + dictSize - rep0 - 1];
              state = state < LITERAL_STATES ? 9 : 11;
              continue;
            }
          } else {
            uint32_t distance;
            if (!rc.Bit(&models->isRepG1[state])) {
              distance = rep1;
            } else {
              if (!rc.Bit(&models->isRepG2[state])) {
                distance = rep2;
              } else {
                distance = rep3;
                rep3 = rep2;
              }
              rep2 = rep1;
            }
            rep1 = rep0;
            rep0 = distance;
          }
          length = rc.Length(&models->repLength, posState);
          state = state < LITERAL_STATES ? 8 : 11;
        }
        // rep0 is the distance less one: it must reach a byte decoded before.
        pos = (uint32_t)(out - dict);
        if (rep0 >= pos && rep0 >= reach) goto done;
        length += 2;
        uint32_t n = length < limit - pos ? length : limit - pos;
        pending = length - n;
        copyMatch(n);
        out = dict + pos;
      }
      pos = (uint32_t)(out - dict);
      if (rc.truncated) goto done;

      uint32_t produced = pos - flushed;
      if (produced > uncompressedSize - total) goto done;  // past the declared size
      if (produced && !io->flush(io->user, dict + flushed, produced)) {
        result = DECODE_STOPPED;
        goto done;
      }
      total += produced;
      flushed = pos;
      if (pos == dictSize) {
        pos = flushed = 0;
        full = 1;
      }
      if (sawMarker) {
        // The marker ends the data only at the declared size.
        rc.Normalize();
        if (total == uncompressedSize && rc.code == 0 && !rc.truncated) result = DECODE_END;
        goto done;
      }
    }
  }

done:
  if (rc.truncated) {
    io->next = rc.end;
    io->avail = 0;
  } else {
    io->next = rc.in;
    io->avail = (uint32_t)(rc.end - rc.in);
  }
  free(dict);
  free(models);
  return result;
}
