// The PNG side of the C API: daz_from_png and daz_to_png in memory, and the
// file calls of pngdaz and dazpng. The only part of the library on libpng.
#include "api/api_convert.h"
#include "convert/daz_to_png.h"
#include "convert/png_to_daz.h"
#include "daz/daz.h"

using namespace orvx;

extern "C" {

int daz_from_png(const void* data, size_t size, int colors, uint16_t key, void* out,
                 size_t capacity, size_t* written, uint64_t* undefined) {
    return convertInMemory(convertPngStreamToDaz, CodeSource::PNG_TO_DAZ, data, size, colors, key,
                           out, capacity, written, undefined);
}

int daz_to_png(const void* data, size_t size, void* out, size_t capacity, size_t* written) {
    return decodeInMemory(convertDazStreamToPng, data, size, out, capacity, written);
}

int daz_convert_png_file(const char* source, const char* destination, int colors, uint16_t key,
                         uint64_t* undefined) {
    if (source == nullptr || destination == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    return guarded([&]() -> int {
        return finishFileConversion(convertPngToDaz(source, destination, colors, key),
                                    CodeSource::PNG_TO_DAZ, undefined);
    });
}

int daz_write_png_file(const char* source, const char* destination) {
    if (source == nullptr || destination == nullptr) {
        return DAZ_ERR_ARGUMENT;
    }
    return guarded([&]() -> int {
        return dazErrorOf(convertDazToPng(source, destination), CodeSource::DAZ_TO_IMAGE);
    });
}

} // extern "C"
