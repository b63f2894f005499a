// Which hardware paths the checksum and cipher code may take. Decided once per
// process from CPUID; KVSFX_CPU=portable in the environment forces the
// portable paths everywhere, so both can be run and compared on one machine.
#ifndef KV_CPU_DISPATCH_H
#define KV_CPU_DISPATCH_H

#include <cstdint>

constexpr uint32_t CPU_CLMUL = 1u;  // carry-less multiply with SSE4.1 (CRC-32 folding)
constexpr uint32_t CPU_AES = 2u;    // AES round instructions with SSE4.1
constexpr uint32_t CPU_SHA = 4u;    // SHA-1 instructions with SSSE3 and SSE4.1
constexpr uint32_t CPU_WIDE_CLMUL = 8u;  // carry-less multiply on 512-bit registers (AVX-512, saved by the system)

// The paths in use: the detected features, none when forced portable.
uint32_t CpuFeatures();
// Narrows the paths in use to those in mask (never beyond what was detected,
// nor past a forced portable choice); returns the previous set. For tests
// that run both paths in one process.
uint32_t CpuLimitFeatures(uint32_t mask);

#endif
