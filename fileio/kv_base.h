// Basic types and bounded string operations shared by every subsystem.
#ifndef KV_BASE_H
#define KV_BASE_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// Every path, name and folder fits in 271 bytes plus the terminator.
constexpr size_t PATH_BUF_SIZE = 272;

// An open file: the platform's handle (Windows) or descriptor (POSIX), widened.
typedef intptr_t FileHandle;
constexpr FileHandle INVALID_FILE = -1;

// Bounded copy, append and formatted print: the result is always terminated
// (for size > 0) and whatever does not fit is cut. Null sources count as "".
void StrCopy(char *dest, const char *src, size_t size);
void StrAppend(char *dest, const char *src, size_t size);
void StrPrintf(char *dest, size_t size, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
void StrPrintfV(char *dest, size_t size, const char *format, va_list args);
// Copies at most count bytes of src (stopping at a terminator), bounded by size.
void StrCopyN(char *dest, const char *src, size_t count, size_t size);

// Little-endian readers for on-disk records.
inline uint16_t GetU16(const unsigned char *p) { return (uint16_t)(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const unsigned char *p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
inline uint64_t GetU64(const unsigned char *p) { return (uint64_t)GetU32(p) | ((uint64_t)GetU32(p + 4) << 32); }
inline void PutU16(unsigned char *p, uint16_t v) { p[0] = (unsigned char)v; p[1] = (unsigned char)(v >> 8); }
inline void PutU32(unsigned char *p, uint32_t v) {
  p[0] = (unsigned char)v; p[1] = (unsigned char)(v >> 8); p[2] = (unsigned char)(v >> 16); p[3] = (unsigned char)(v >> 24);
}

#endif
