#include "convert/heif/heif_format.h"
#include "fuzz_photo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzPhotoOne(orvx::HEIF_READER, data, size);
    return 0;
}
