// The binary PGM's row of the formats table.
#include "convert/pgm/pgm_format.h"

#include "convert/pgm/pgm_header.h"
#include "convert/pgm/pgm_indices.h"

#include <cstring>

namespace orvx {

namespace {

// "P5" and the whitespace (or comment) before the width.
bool isPgm(const std::uint8_t* bytes, std::size_t size) {
    return size > 2 && std::memcmp(bytes, "P5", 2) == 0 &&
           (isPgmSpace(bytes[2]) || bytes[2] == '#');
}

} // namespace

// A PGM's raster is known whole before anything is written.
const FormatReader PGM_READER{
    DAZ_FORMAT_PGM, "PGM",          "pgm",           "image/x-portable-graymap",
    isPgm,          openPgmIndices, writePgmIndices, false,
    readPgmRgba,    nullptr,        nullptr,         false};

} // namespace orvx
