// Clearing key material in a way the optimiser may not drop as a dead store.
#ifndef KV_WIPE_H
#define KV_WIPE_H

#include <cstddef>

inline void CryptoWipe(void *data, size_t length) {
  volatile unsigned char *p = (volatile unsigned char *)data;
  while (length-- > 0) *p++ = 0;
}

#endif
