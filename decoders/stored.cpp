#include "stored.h"

DecodeResult StoredDecode(DecodeIo *io, uint64_t size) {
  while (size > 0) {
    if (io->avail == 0 && (!io->refill(io->user, &io->next, &io->avail) || io->avail == 0)) {
      io->avail = 0;
      return DECODE_BAD_DATA;
    }
    uint32_t count = (uint64_t)io->avail < size ? io->avail : (uint32_t)size;
    const unsigned char *data = io->next;
    io->next += count;
    io->avail -= count;
    size -= count;
    if (!io->flush(io->user, data, count)) return DECODE_STOPPED;
  }
  return DECODE_END;
}
