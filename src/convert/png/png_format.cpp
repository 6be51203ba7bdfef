// The PNG's row of the formats table.
#include "convert/png/png_format.h"

#include "convert/daz_to_png.h"
#include "convert/png_to_daz.h"
#include "convert/rgba_readers.h"

#include <cstring>

namespace orvx {

namespace {

bool isPng(const std::uint8_t* bytes, std::size_t size) {
    return size >= 8 && std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) == 0;
}

int writePngIndices(std::FILE* source, const DazOutput& out, const IndexRequest& request,
                    const PlanCheck* check, std::uint64_t* undefined) {
    return asReaderResult(check, PNG_INPUT_ERRORS, undefined, [&](const PlanCheck* recorded) {
        return convertPngStreamToDaz(source, out.stream, out.seekable, request.colors, request.key,
                                     recorded);
    });
}

int writePngFromDaz(std::FILE* daz, std::FILE* out, const PlanCheck* check) {
    return convertDazStreamToPng(daz, out, check);
}

} // namespace

const FormatReader PNG_READER{DAZ_FORMAT_PNG,  "PNG", "png",       "image/png",     isPng,
                              writePngIndices, true,  readPngRgba, writePngFromDaz, false};

} // namespace orvx
