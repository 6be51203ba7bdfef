// The binary PGM's row of the formats table.
#include "convert/pgm/pgm_format.h"

#include "convert/pgm/pgm_header.h"
#include "convert/pgm_to_daz.h"
#include "convert/rgba_readers.h"

#include <cstring>

namespace orvx {

namespace {

// "P5" and the whitespace (or comment) before the width.
bool isPgm(const std::uint8_t* bytes, std::size_t size) {
    return size > 2 && std::memcmp(bytes, "P5", 2) == 0 &&
           (isPgmSpace(bytes[2]) || bytes[2] == '#');
}

int writePgmIndices(std::FILE* source, const DazOutput& out, const IndexRequest& request,
                    const PlanCheck* check, std::uint64_t* undefined) {
    return asReaderResult(check, PGM_INPUT_ERRORS, undefined, [&](const PlanCheck* recorded) {
        return convertPgmStreamToDaz(source, out.stream, out.seekable, request.colors, request.key,
                                     recorded);
    });
}

} // namespace

// A PGM's raster is known whole before anything is written.
const FormatReader PGM_READER{
    DAZ_FORMAT_PGM, "PGM",   "pgm", "image/x-portable-graymap", isPgm, writePgmIndices, false,
    readPgmRgba,    nullptr, false};

} // namespace orvx
