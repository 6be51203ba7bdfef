// The GIF's row of the formats table.
#include "convert/gif/gif_format.h"

#include <cstring>

namespace orvx {

namespace {

bool isGif(const std::uint8_t* bytes, std::size_t size) {
    return size >= 6 &&
           (std::memcmp(bytes, "GIF87a", 6) == 0 || std::memcmp(bytes, "GIF89a", 6) == 0);
}

} // namespace

// The image data are decoded as the rows are written: a damaged frame shows
// only once some are out.
const FormatReader GIF_READER{DAZ_FORMAT_GIF, "GIF",          "gif",           "image/gif",
                              isGif,          openGifIndices, writeGifIndices, true,
                              readGifRgba,    openGifExport,  writeGifExport,  false};

} // namespace orvx
