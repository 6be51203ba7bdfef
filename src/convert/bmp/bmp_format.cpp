// The bitmap's row of the formats table.
#include "convert/bmp/bmp_format.h"

#include "convert/bmp/bmp_export.h"
#include "convert/bmp/bmp_indices.h"

#include <cstring>

namespace orvx {

namespace {

bool isBmp(const std::uint8_t* bytes, std::size_t size) {
    return size >= 2 && std::memcmp(bytes, "BM", 2) == 0;
}

} // namespace

const FormatReader BMP_READER{DAZ_FORMAT_BMP, "BMP",          "bmp dib",       "image/bmp",
                              isBmp,          openBmpIndices, writeBmpIndices, false,
                              readBmpRgba,    openBmpExport,  writeBmpExport,  true};

} // namespace orvx
