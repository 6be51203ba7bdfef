// The bitmap's row of the formats table.
#include "convert/bmp/bmp_format.h"

#include "convert/bmp_to_daz.h"
#include "convert/daz_to_bmp.h"
#include "convert/rgba_readers.h"

#include <cstring>

namespace orvx {

namespace {

bool isBmp(const std::uint8_t* bytes, std::size_t size) {
    return size >= 2 && std::memcmp(bytes, "BM", 2) == 0;
}

int writeBmpIndices(std::FILE* source, const DazOutput& out, const IndexRequest& request,
                    const PlanCheck* check, std::uint64_t* undefined) {
    return asReaderResult(check, BMP_INPUT_ERRORS, undefined, [&](const PlanCheck* recorded) {
        return convertBmpStreamToDaz(source, out.stream, out.seekable, request.colors, request.key,
                                     recorded);
    });
}

int writeBmpFromDaz(std::FILE* daz, std::FILE* out, const PlanCheck* check) {
    return convertDazStreamToBmp(daz, out, check);
}

} // namespace

const FormatReader BMP_READER{DAZ_FORMAT_BMP,  "BMP", "bmp dib",   "image/bmp",     isBmp,
                              writeBmpIndices, false, readBmpRgba, writeBmpFromDaz, true};

} // namespace orvx
