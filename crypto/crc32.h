// ZIP's CRC-32 (reflected polynomial 0xEDB88320). No inversion is done here:
// callers start from 0xFFFFFFFF and complement the end result.
#ifndef KV_CRC32_H
#define KV_CRC32_H

#include <cstddef>
#include <cstdint>

extern const uint32_t kCrc32Table[256];  // also drives the traditional cipher

uint32_t Crc32Update(uint32_t crc, const void *data, size_t length);

// One table step, as the cipher uses it.
inline uint32_t Crc32Step(uint32_t crc, uint8_t b) { return kCrc32Table[(crc ^ b) & 0xFF] ^ (crc >> 8); }

#endif
