// Entries whose data overlap: every such entry would decode the same bytes
// again, so a small archive could declare terabytes. Each entry holds at
// least its 30-byte local header and its compressed bytes from its local
// header's offset on; two such ranges on one volume never meet in a sound
// archive. Sorted once, the check costs O(n log n) for n entries.
#include <cstdlib>

#include "zip_job.h"

namespace {

struct Range {
  uint32_t disk;
  uint64_t start;
  uint64_t end;
};

int CompareRanges(const void *a, const void *b) {
  const Range *x = (const Range *)a, *y = (const Range *)b;
  if (x->disk != y->disk) return x->disk < y->disk ? -1 : 1;
  if (x->start != y->start) return x->start < y->start ? -1 : 1;
  return 0;
}

uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

}  // namespace

int EntriesOverlap(const EntryList *entries) {
  size_t count = 0;
  for (const ListNode *n = entries ? entries->first : nullptr; n; n = n->next) count++;
  if (count < 2) return 0;
  Range *ranges = (Range *)malloc(count * sizeof(Range));
  if (!ranges) return -1;
  size_t i = 0;
  for (const ListNode *n = entries->first; n; n = n->next, i++) {
    const EntryRecord *e = (const EntryRecord *)n->item;
    ranges[i].disk = e->diskStart;
    ranges[i].start = e->localHeaderOffset;
    ranges[i].end = SaturatingAdd(SaturatingAdd(e->localHeaderOffset, LOCAL_HEADER_SIZE), e->compressedSize);
  }
  // Writers list the entries in the order of their data, so the ranges
  // usually arrive sorted already.
  bool sorted = true;
  for (i = 1; i < count && sorted; i++) sorted = CompareRanges(&ranges[i - 1], &ranges[i]) <= 0;
  if (!sorted) qsort(ranges, count, sizeof(Range), CompareRanges);
  int overlap = 0;
  for (i = 1; i < count && !overlap; i++)
    overlap = ranges[i].disk == ranges[i - 1].disk && ranges[i].start < ranges[i - 1].end;
  free(ranges);
  return overlap;
}
