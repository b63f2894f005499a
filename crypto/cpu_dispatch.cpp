// CPU feature detection for the hardware paths.
#include "cpu_dispatch.h"

#include "fileio/platform.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

// One thread: plain statics are enough.
bool decided = false;
uint32_t available = 0;  // detected, unless forced portable
uint32_t active = 0;     // in use

uint32_t Detect() {
  uint32_t features = 0;
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
  const bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19);
  if (!sse41) return 0;
  if (c & (1u << 1)) features |= CPU_CLMUL;
  if (c & (1u << 25)) features |= CPU_AES;
  const bool osSaves = c & (1u << 27);  // XGETBV tells which registers the system saves
  if (ssse3 && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & (1u << 29))) features |= CPU_SHA;
  // VPCLMULQDQ with AVX-512F and VL, and the system saving the mask and upper
  // vector registers (XCR0 bits 1, 2, 5, 6, 7).
  if (osSaves && (features & CPU_CLMUL) && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & (1u << 16)) &&
      (b & (1u << 31)) && (c & (1u << 10))) {
    uint32_t low, high;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    if ((low & 0xE6) == 0xE6) features |= CPU_WIDE_CLMUL;
  }
#endif
  return features;
}

void Decide() {
  if (decided) return;
  decided = true;
  char value[16];
  SysGetEnv("KVSFX_CPU", value, sizeof value);
  available = TextCompareNoCase(value, "portable") == 0 ? 0 : Detect();
  active = available;
}

}  // namespace

uint32_t CpuFeatures() {
  Decide();
  return active;
}

uint32_t CpuLimitFeatures(uint32_t mask) {
  Decide();
  uint32_t previous = active;
  active = available & mask;
  return previous;
}
