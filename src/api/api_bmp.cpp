// The bitmap side of the C API: daz_from_bmp and daz_to_bmp in memory, and
// the file calls of orvx -c and dazbmp. Nothing here reaches libpng.
#include "api/api_convert.h"
#include "convert/bmp_to_daz.h"
#include "convert/daz_to_bmp.h"
#include "daz/daz.h"

using namespace orvx;

namespace {

ConvertResult convertBmpStream(std::FILE* in, std::FILE* out, bool /*seekable*/, int colors,
                               std::uint16_t key) {
    return convertBmpStreamToDaz(in, out, colors, key);
}

} // namespace

extern "C" {

int daz_from_bmp(const void* data, size_t size, int colors, uint16_t key, void* out,
                 size_t capacity, size_t* written, uint64_t* undefined) {
    return convertInMemory(convertBmpStream, CodeSource::BMP_TO_DAZ, data, size, colors, key, out,
                           capacity, written, undefined);
}

int daz_to_bmp(const void* data, size_t size, void* out, size_t capacity, size_t* written) {
    return decodeInMemory(convertDazStreamToBmp, data, size, out, capacity, written);
}

int daz_convert_bmp_file(const char* source, const char* destination, int colors, uint16_t key,
                         uint64_t* undefined) {
    if (source == nullptr || destination == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    return guarded([&]() -> int {
        return finishFileConversion(convertBmpToDaz(source, destination, colors, key),
                                    CodeSource::BMP_TO_DAZ, undefined);
    });
}

int daz_write_bmp_file(const char* source, const char* destination) {
    if (source == nullptr || destination == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    return guarded([&]() -> int {
        return dazErrorOf(convertDazToBmp(source, destination), CodeSource::DAZ_TO_IMAGE);
    });
}

} // extern "C"
