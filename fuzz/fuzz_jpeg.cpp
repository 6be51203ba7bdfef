#include "convert/jpeg/jpeg_format.h"
#include "fuzz_photo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzPhotoOne(orvx::JPEG_READER, data, size);
    return 0;
}
