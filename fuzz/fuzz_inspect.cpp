#include "fuzz_entry.h"

using namespace orvx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzInspectOne(data, size);
    return 0;
}
