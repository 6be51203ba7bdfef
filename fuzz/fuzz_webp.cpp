#include "convert/webp/webp_format.h"
#include "fuzz_photo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzPhotoOne(orvx::WEBP_READER, data, size);
    return 0;
}
