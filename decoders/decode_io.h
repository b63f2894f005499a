// The one narrow interface between a pure decoder and its caller.
//
// A decoder knows nothing of files, volumes, passwords, progress or the job:
// it pulls its input through refill and pushes its output through flush, both
// handed in by the caller, and returns one DecodeResult. The pull shape keeps
// a decoder's fast loop reading straight from the caller's buffer, as before.
//
// Input: next/avail are the bytes not yet taken. The decoder takes from next,
// calls refill when they are used up, and on return leaves next/avail at the
// first byte it did not use, so that bytes read ahead are handed back where
// the piece still holds them.
//
// Output: flush receives decoded bytes in order. Its refusal (0) stops the
// decoder with DECODE_STOPPED; the caller recorded why (a write error, the
// declared-size bound, cancel).
#ifndef KV_DECODE_IO_H
#define KV_DECODE_IO_H

#include <cstdint>

enum DecodeResult : int {
  DECODE_OK = 0,        // more may follow (between calls of a resumable step)
  DECODE_END = 1,       // the stream ended where its format says it ends
  DECODE_BAD_DATA = 2,  // damaged or truncated input
  DECODE_NO_MEMORY = 3,
  DECODE_STOPPED = 4,   // the caller's flush or refill refused to go on
};

struct DecodeIo {
  const unsigned char *next;  // input not yet taken
  uint32_t avail;             // bytes at next
  // Sets *next/*avail to the next piece of input and returns 1; 0 at the end
  // of the input (a read error is recorded by the caller).
  int (*refill)(void *user, const unsigned char **next, uint32_t *avail);
  // Takes count decoded bytes at data; 1 to go on, 0 to stop.
  int (*flush)(void *user, const unsigned char *data, uint32_t count);
  void *user;
};

#endif
