#include "fuzz_api.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzApiRgbaOne(data, size);
    return 0;
}
