// Deflate: the named operations, the table builder shared with Deflate64,
// stored blocks, and the input side of the bit buffer.
#include "inflate.h"

#include <cstdlib>
#include <cstring>

#include "fileio/platform.h"
#include "inflate_impl.h"

namespace inflate_detail {

MethodState Method8::state;
const uint16_t Method8::kLengthBases[LENGTH_SYMBOLS] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,  15,  17,  19,  23, 27, 31,
                                                        35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
const uint8_t Method8::kLengthExtras[LENGTH_SYMBOLS] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,  2,
                                                        3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
const uint16_t kDistanceBases[DISTANCE_SYMBOLS] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                                   49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                                   2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
const uint8_t kDistanceExtras[DISTANCE_SYMBOLS] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                                   7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
const uint32_t kLowBits[17] = {0,     1,     3,     7,      15,     31,     63,     127,   255,
                               0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF};
const uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
// Field by field: their order depends on the byte order.
static constexpr HuffEntry InvalidEntry() {
  HuffEntry e{};
  e.bits = 0;
  e.operation = OP_INVALID;
  e.value = 0;
  return e;
}
const HuffEntry kEmptyTable[1] = {InvalidEntry()};

#ifdef KV_INFLATE_BMI2
bool InflateFastShifts() {
  static int decided = -1;  // one thread: a plain static is enough
  if (decided < 0) {
    char value[16];
    SysGetEnv("KVSFX_CPU", value, sizeof value);
    decided = TextCompareNoCase(value, "portable") != 0 && __builtin_cpu_supports("bmi") &&
              __builtin_cpu_supports("bmi2");
  }
  return decided != 0;
}
#endif

int NextPieceByte(BitReader &br) {
  DecodeIo *io = br.decoder->io;
  const unsigned char *next = nullptr;
  uint32_t avail = 0;
  if (!io->refill(io->user, &next, &avail) || avail == 0 || !next) return -1;
  br.decoder->pieceStart = next;
  br.next = next + 1;
  br.end = next + avail;
  return *next;
}

bool RefillSlow(BitReader &br, uint32_t need) {
  while (br.count < need) {
    if (br.end - br.next >= 8) {
      RefillFast(br);
      continue;
    }
    if (br.next < br.end) {
      br.buffer |= (uint64_t)*br.next++ << br.count;
      br.count += 8;
      continue;
    }
    // The piece is used up: refill hands out the next one (or the input ends).
    int byte = NextPieceByte(br);
    if (byte >= 0) {
      br.buffer |= (uint64_t)byte << br.count;
      br.count += 8;
      continue;
    }
    // Past the end: zero bits that may be looked at but never consumed.
    if (!WithinInput(br)) return false;
    br.overread++;
    br.count += 8;
  }
  return true;
}

void ReturnUnusedBytes(InflateDecoder *d) {
  DecodeIo *io = d->io;
  uint32_t whole = d->bitCount / 8;
  if (whole <= d->overreadBytes) return;
  uint32_t unused = whole - d->overreadBytes;
  // Taken across a piece boundary: the bytes are no longer the caller's to count.
  if (!io->next || !d->pieceStart || (size_t)(io->next - d->pieceStart) < unused) return;
  io->next -= unused;
  io->avail += unused;
  d->bitCount -= unused * 8;
}

int StoredBlock(InflateDecoder *d) {
  BitReader br;
  LoadBits(d, br);
  Drop(br, br.count & 7);
  int failed = 0;
  uint32_t length = 0;
  if (!Ensure(br, 32)) {
    failed = 1;
  } else {
    length = (uint32_t)(br.buffer & 0xFFFF);
    uint32_t check = (uint32_t)(br.buffer >> 16) & 0xFFFF;
    Drop(br, 32);
    if (check != (~length & 0xFFFF) || !WithinInput(br)) failed = 1;
  }
  unsigned char *window = d->window;
  uint32_t pos = d->windowPosition;
  // Whole bytes still in the bit buffer come first.
  while (!failed && length && br.count >= 8) {
    if (br.count - 8 < br.overread * 8) {
      failed = 1;  // the block goes on past the end of the input
      break;
    }
    window[pos++] = (unsigned char)br.buffer;
    Drop(br, 8);
    length--;
    if (pos == WINDOW_SIZE) {
      FlushWindow(d, WINDOW_SIZE);
      pos = 0;
    }
  }
  if (!failed && length) {
    br.buffer = 0;  // empty now; the bytes below are taken directly
    while (length) {
      uint32_t avail = (uint32_t)(br.end - br.next);
      if (avail == 0) {
        int byte = NextPieceByte(br);
        if (byte < 0) {
          failed = 1;
          break;
        }
        window[pos++] = (unsigned char)byte;
        length--;
      } else {
        uint32_t chunk = length < avail ? length : avail;
        if (chunk > WINDOW_SIZE - pos) chunk = WINDOW_SIZE - pos;
        memcpy(window + pos, br.next, chunk);
        br.next += chunk;
        pos += chunk;
        length -= chunk;
      }
      if (pos == WINDOW_SIZE) {
        FlushWindow(d, WINDOW_SIZE);
        pos = 0;
      }
    }
  }
  d->windowPosition = pos;
  SaveBits(d, br);
  return failed;
}

// Makes room for size more entries behind the used ones; the block keeps
// its contents when it moves.
static bool Reserve(HuffArena *arena, uint32_t used, uint32_t size) {
  if (used + size <= arena->capacity) return true;
  uint32_t capacity = arena->capacity ? arena->capacity : 1024;
  while (capacity < used + size) capacity *= 2;
  HuffEntry *grown = (HuffEntry *)realloc(arena->entries, capacity * sizeof(HuffEntry));
  if (!grown) return false;
  arena->entries = grown;
  arena->capacity = capacity;
  return true;
}

// Canonical codes become one root table of up to lookupBits bits plus
// sub-tables for longer codes. Tables are sized to leave few unused entries
// (a table grows while the codes still to place fill it well enough), and no
// table reaches past the end-of-block code's length, so the final lookup of
// a block never needs bits beyond its end-of-block code.
//
// Each code is written once, at the index of its first occurrence; the
// copies of shorter codes are made by doubling the filled part of a table
// (entries [0, 2^filled) hold every code of up to filled bits placed so far)
// before a longer code, a link or the table's end needs the wider part.
int BuildTable(const uint8_t *lengths, unsigned n, unsigned s, const uint16_t *bases, const uint8_t *extras,
               HuffArena *arena, const HuffEntry **table, unsigned *lookupBits, unsigned span, uint8_t literalOp,
               uint8_t endOp) {
  constexpr unsigned MAX_SYMBOLS = 288;
  *table = nullptr;
  if (n > MAX_SYMBOLS) return 2;
  unsigned tooLong = 0;
  for (unsigned i = 0; i < n; i++) tooLong |= lengths[i] > MAX_CODE_BITS;
  if (tooLong) return 2;
  const unsigned eobLength = n > 256 ? lengths[256] : MAX_CODE_BITS;
  unsigned count[MAX_CODE_BITS + 1] = {0};
  for (unsigned i = 0; i < n; i++) count[lengths[i]]++;
  if (count[0] == n) {
    *lookupBits = 0;
    return 0;
  }
  unsigned minLen = 1, maxLen = MAX_CODE_BITS;
  while (count[minLen] == 0) minLen++;
  while (count[maxLen] == 0) maxLen--;
  unsigned m = *lookupBits;
  if (m < minLen) m = minLen;
  if (m > maxLen) m = maxLen;

  // Kraft sum: over-subscribed codes are refused; unused code space becomes
  // dummy codes of the longest length, which make invalid entries.
  int free = 1 << minLen;
  for (unsigned len = minLen; len < maxLen; len++) {
    free -= (int)count[len];
    if (free < 0) return 2;
    free <<= 1;
  }
  free -= (int)count[maxLen];
  if (free < 0) return 2;

  // Symbols by increasing length, then increasing symbol (canonical order).
  uint16_t sorted[MAX_SYMBOLS];
  unsigned offset[MAX_CODE_BITS + 2];
  offset[1] = 0;
  for (unsigned len = 1; len <= MAX_CODE_BITS; len++) offset[len + 1] = offset[len] + count[len];
  const unsigned used = offset[MAX_CODE_BITS + 1];
  for (unsigned v = 0; v < n; v++)
    if (lengths[v]) sorted[offset[lengths[v]]++] = (uint16_t)v;
  count[maxLen] += (unsigned)free;

  uint32_t levelStart[MAX_CODE_BITS + 1];  // index of each open table in the arena
  unsigned levelBits[MAX_CODE_BITS + 1];
  unsigned levelFilled[MAX_CODE_BITS + 1];
  unsigned levelOpening[MAX_CODE_BITS + 1];
  uint32_t entries = 0;  // arena entries in use
  int h = -1;            // current table level; none yet
  unsigned w = 0;        // bits resolved by the tables above the current one
  unsigned code = 0;     // bit-reversed
  unsigned next = 0;     // index into sorted

  // Doubles the filled part of table k until it spans bits.
  auto widen = [&](int k, unsigned bits) {
    if (levelFilled[k] >= bits) return;
    HuffEntry *t = arena->entries + levelStart[k];
    for (unsigned f = levelFilled[k]; f < bits; f++) memcpy(t + (1u << f), t, sizeof(HuffEntry) << f);
    levelFilled[k] = bits;
  };
  // The entry of the next code in canonical order, bits long at its level.
  auto nextEntry = [&](unsigned bits) {
    HuffEntry entry;
    entry.bits = (uint8_t)bits;
    entry.value = 0;
    if (next >= used) {
      entry.operation = OP_INVALID;  // a dummy code filling unused space
    } else {
      unsigned v = sorted[next++];
      if (v < s) {
        entry.operation = v < 256 ? literalOp : endOp;
        entry.value = (uint16_t)v;
      } else {
        // A length or distance: its bits count its extra bits too (the
        // symbol loop takes both at once); an unused symbol's stay as they are.
        entry.operation = extras[v - s];
        entry.value = bases[v - s];
        if (entry.operation <= MAX_CODE_BITS) entry.bits = (uint8_t)(bits + entry.operation);
      }
    }
    return entry;
  };
  // Bit-reversed increment of a len-bit code.
  auto step = [](unsigned c, unsigned len) {
    unsigned bit = 1u << (len - 1);
    while (c & bit) {
      c ^= bit;
      bit >>= 1;
    }
    return c ^ bit;
  };

  for (unsigned len = minLen; len <= maxLen; len++) {
    if (h == 0 && len <= levelBits[0]) {
      // Codes that fit the root table: no table opens or closes among them.
      widen(0, len);
      for (unsigned left = count[len]; left > 0; left--) {
        arena->entries[code] = nextEntry(len);
        code = step(code, len);
      }
      continue;
    }
    for (unsigned left = count[len]; left > 0; left--) {
      // Open tables down to the one that holds this code.
      while (len > w + (h >= 0 ? levelBits[h] : 0)) {
        unsigned parentBits = h >= 0 ? levelBits[h] : 0;
        w += parentBits;
        unsigned limit = maxLen - w < m ? maxLen - w : m;
        unsigned j = len - w;
        if ((1u << j) > left) {
          unsigned spare = (1u << j) - left;
          for (;;) {
            j++;
            if (j >= limit) break;
            spare <<= 1;
            if (spare <= count[w + j]) break;
            spare -= count[w + j];
          }
        }
        if (w + j > eobLength && w < eobLength) j = eobLength - w;
        // The root takes the room of span bits when that is more.
        const unsigned size = 1u << (h < 0 && span > j ? span : j);
        // A link holds its sub-table's index in 16 bits; codes of up to 15
        // bits never need more entries.
        if (entries > 0xFFFF || !Reserve(arena, entries, size)) return 3;
        h++;
        levelStart[h] = entries;
        levelBits[h] = j;
        levelFilled[h] = len - w;
        entries += size;
        if (h > 0) {
          levelOpening[h] = code;
          widen(h - 1, parentBits);
          HuffEntry &link = arena->entries[levelStart[h - 1] + ((code & ((1u << w) - 1)) >> (w - parentBits))];
          link.operation = (uint8_t)(OP_LINK + j);
          link.bits = (uint8_t)parentBits;
          link.value = (uint16_t)levelStart[h];
        } else {
          levelOpening[0] = 0;
        }
      }

      widen(h, len - w);
      arena->entries[levelStart[h] + (code >> w)] = nextEntry(len - w);
      code = step(code, len);

      // Close the tables whose codes are all placed.
      while ((code & ((1u << w) - 1)) != levelOpening[h]) {
        widen(h, levelBits[h]);
        h--;
        w -= levelBits[h];
      }
    }
  }
  for (; h >= 0; h--) widen(h, levelBits[h]);
  if (span > levelBits[0]) widen(0, span);
  *table = arena->entries;
  *lookupBits = levelBits[0];
  return (free != 0 && maxLen != 1) ? 1 : 0;
}

int ReadDynamicTables(InflateDecoder *d, const DynamicMethod &m, DynamicTables *t) {
  uint8_t *lengths = m.lengths;
  BitReader br;
  LoadBits(d, br);
  if (!Ensure(br, 14)) {
    SaveBits(d, br);
    return 1;
  }
  unsigned literalCount = 257 + (unsigned)(br.buffer & 31);
  Drop(br, 5);
  unsigned distanceCount = 1 + (unsigned)(br.buffer & 31);
  Drop(br, 5);
  unsigned codeLengthCount = 4 + (unsigned)(br.buffer & 15);
  Drop(br, 4);
  if (literalCount > MAX_LITERAL_LENGTHS || distanceCount > DISTANCE_SYMBOLS) {
    SaveBits(d, br);
    return 1;
  }
  uint8_t codeLengths[19] = {0};
  for (unsigned i = 0; i < codeLengthCount; i++) {
    if (!Ensure(br, 3)) {
      SaveBits(d, br);
      return 1;
    }
    codeLengths[kCodeLengthOrder[i]] = (uint8_t)(br.buffer & 7);
    Drop(br, 3);
  }
  // The code-length code's table shares the literal block: it is done with
  // before the literal table is built.
  const HuffEntry *codeTable = nullptr;
  unsigned codeBits = CODE_LENGTH_BITS;
  int r = m.build(codeLengths, 19, 19, nullptr, nullptr, &d->literalArena, &codeTable, &codeBits, 0);
  if (r != 0) {
    SaveBits(d, br);
    return r;
  }
  const HuffEntry *codes = codeTable ? codeTable : kEmptyTable;
  if (!codeTable) codeBits = 0;
  const unsigned total = literalCount + distanceCount;
  unsigned filled = 0;
  unsigned previous = 0;
  int bad = 0;
  while (filled < total) {
    if (!Ensure(br, codeBits)) {
      bad = 1;
      break;
    }
    const HuffEntry *e = &codes[br.buffer & Mask(codeBits)];
    if (e->operation != m.literalOperation) {  // an unused code (or no code at all)
      bad = 1;
      break;
    }
    Drop(br, e->bits);
    unsigned v = e->value;
    if (v < 16) {
      lengths[filled++] = (uint8_t)v;
      previous = v;
      continue;
    }
    unsigned repeat, value;
    unsigned extraBits = v == 16 ? 2 : v == 17 ? 3 : 7;
    if (!Ensure(br, extraBits)) {
      bad = 1;
      break;
    }
    repeat = (v == 18 || v > 17 ? 11 : 3) + (unsigned)(br.buffer & Mask(extraBits));
    Drop(br, extraBits);
    value = v == 16 ? previous : 0;
    if (filled + repeat > total) {
      bad = 1;
      break;
    }
    memset(lengths + filled, (int)value, repeat);
    filled += repeat;
    previous = value;
  }
  if (!bad && !WithinInput(br)) bad = 1;
  SaveBits(d, br);
  if (bad) return 1;

  t->literalCount = literalCount;
  t->distanceCount = distanceCount;
  t->literal = nullptr;
  t->literalBits = DYNAMIC_LITERAL_BITS;
  r = m.build(lengths, literalCount, 257, m.lengthBases, m.lengthExtras, &d->literalArena, &t->literal,
              &t->literalBits, FAST_LITERAL_SPAN);
  if (r != 0) return r;
  t->distance = nullptr;
  t->distanceBits = DYNAMIC_DISTANCE_BITS;
  return m.build(lengths + literalCount, distanceCount, 0, kDistanceBases, kDistanceExtras, &d->distanceArena,
                 &t->distance, &t->distanceBits, FAST_DISTANCE_SPAN);
}

}  // namespace inflate_detail

using namespace inflate_detail;

int HuffTableBuild(const uint8_t *lengths, unsigned n, unsigned s, const uint16_t *bases, const uint8_t *extras,
                   HuffArena *arena, const HuffEntry **table, unsigned *lookupBits, unsigned span) {
  return BuildTable(lengths, n, s, bases, extras, arena, table, lookupBits, span, OP_LITERAL, OP_END_OF_BLOCK);
}

InflateDecoder::~InflateDecoder() { InflateFreeTables(this); }

void InflateFreeTables(InflateDecoder *decoder) {
  free(decoder->literalArena.entries);
  free(decoder->distanceArena.entries);
  decoder->literalArena = {nullptr, 0};
  decoder->distanceArena = {nullptr, 0};
}

// The fixed tables are shared by every entry of the process (FixedBlock):
// an entry only lets go of them.
void InflateReleaseFixed(InflateDecoder *decoder) {
  decoder->fixedLiteralTable = nullptr;
  decoder->fixedDistanceTable = nullptr;
}

void InflateBind(InflateDecoder *decoder, unsigned char *window) {
  decoder->window = window;
  decoder->fixedLiteralTable = nullptr;
  decoder->fixedDistanceTable = nullptr;
}

DecodeResult InflateDecode(InflateDecoder *decoder, DecodeIo *io, int method) {
  decoder->io = io;
  decoder->method = method;
  int r = method == 9 ? Inflate64Run(decoder) : InflateRun(decoder);
  InflateReleaseFixed(decoder);
  decoder->io = nullptr;
  if (r == 3) return DECODE_NO_MEMORY;
  if (r != 0) return DECODE_BAD_DATA;
  return decoder->stopped ? DECODE_STOPPED : DECODE_END;
}

int InflateRun(InflateDecoder *decoder) { return Run<Method8>(decoder); }
int InflateReadBlock(InflateDecoder *decoder, int *last) { return ReadBlock<Method8>(decoder, last); }
int InflateStoredBlock(InflateDecoder *decoder) { return StoredBlock(decoder); }
int InflateFixedBlock(InflateDecoder *decoder) { return FixedBlock<Method8>(decoder); }
int InflateDynamicBlock(InflateDecoder *decoder) { return DynamicBlock<Method8>(decoder); }
int InflateDecodeData(InflateDecoder *decoder, const HuffEntry *literalTable, const HuffEntry *distanceTable,
                      unsigned literalBits, unsigned distanceBits) {
  return DecodeData<Method8>(decoder, literalTable, distanceTable, literalBits, distanceBits);
}
