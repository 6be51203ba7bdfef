// The PNG's row of the formats table.
#include "convert/png/png_format.h"

#include "convert/png/png_export.h"
#include "convert/png/png_indices.h"

#include <cstring>

namespace orvx {

namespace {

bool isPng(const std::uint8_t* bytes, std::size_t size) {
    return size >= 8 && std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) == 0;
}

} // namespace

// The image data may prove bad after rows are out: faults late.
const FormatReader PNG_READER{DAZ_FORMAT_PNG, "PNG",          "png",           "image/png",
                              isPng,          openPngIndices, writePngIndices, true,
                              readPngRgba,    openPngExport,  writePngExport,  false};

} // namespace orvx
