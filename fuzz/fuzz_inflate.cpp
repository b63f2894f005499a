// libFuzzer target: arbitrary bytes as Deflate (method 8) data.
#include "fuzz_inflate_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) { return FuzzInflate(data, size, 8); }
