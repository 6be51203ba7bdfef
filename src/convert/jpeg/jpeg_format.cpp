// The JPEG's row of the formats table.
#include "convert/jpeg/jpeg_format.h"

namespace orvx {

namespace {

// SOI and the first marker's FF.
bool isJpeg(const std::uint8_t* bytes, std::size_t size) {
    return size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

} // namespace

const FormatReader JPEG_READER{.format = DAZ_FORMAT_JPEG,
                               .name = "JPEG",
                               .extensions = "jpg jpeg jpe jfif",
                               .mimeType = "image/jpeg",
                               .recognises = isJpeg,
                               .openIndices = nullptr,
                               .writeIndices = nullptr,
                               .faultsLate = false,
                               .readRgba = readJpegRgba,
                               .openExport = nullptr,
                               .writeExport = nullptr,
                               .exportSizeKnown = false};

} // namespace orvx
