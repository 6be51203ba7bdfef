// The WebP's row of the formats table.
#include "convert/webp/webp_format.h"

#include <cstring>

namespace orvx {

namespace {

// "RIFF", the RIFF size, "WEBP".
bool isWebp(const std::uint8_t* bytes, std::size_t size) {
    return size >= 12 && std::memcmp(bytes, "RIFF", 4) == 0 &&
           std::memcmp(bytes + 8, "WEBP", 4) == 0;
}

} // namespace

const FormatReader WEBP_READER{.format = DAZ_FORMAT_WEBP,
                               .name = "WebP",
                               .extensions = "webp",
                               .mimeType = "image/webp",
                               .recognises = isWebp,
                               .openIndices = nullptr,
                               .writeIndices = nullptr,
                               .faultsLate = false,
                               .readRgba = readWebpRgba,
                               .openExport = nullptr,
                               .writeExport = nullptr,
                               .exportSizeKnown = false};

} // namespace orvx
