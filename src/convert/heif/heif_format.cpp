// The rows of HEIF and AVIF in the formats table, told apart by the ftyp
// box's major brand (bytes 8 to 11: the box is the file's first, at byte
// 4 its type). A file whose major brand is a general one (mif1, msf1) is
// HEIF here even if it holds AV1: libheif reads both alike.
#include "convert/heif/heif_format.h"

#include <cstring>

namespace orvx {

namespace {

bool hasMajorBrand(const std::uint8_t* bytes, std::size_t size, const char* const* brands) {
    if (size < 12 || std::memcmp(bytes + 4, "ftyp", 4) != 0) {
        return false;
    }
    for (const char* const* brand = brands; *brand != nullptr; ++brand) {
        if (std::memcmp(bytes + 8, *brand, 4) == 0) {
            return true;
        }
    }
    return false;
}

bool isHeif(const std::uint8_t* bytes, std::size_t size) {
    static const char* const BRANDS[] = {"heic", "heix", "hevc", "hevx", "mif1",
                                         "msf1", "heim", "heis", nullptr};
    return hasMajorBrand(bytes, size, BRANDS);
}

bool isAvif(const std::uint8_t* bytes, std::size_t size) {
    static const char* const BRANDS[] = {"avif", "avis", nullptr};
    return hasMajorBrand(bytes, size, BRANDS);
}

} // namespace

const FormatReader HEIF_READER{.format = DAZ_FORMAT_HEIF,
                               .name = "HEIF",
                               .extensions = "heic heif hif",
                               .mimeType = "image/heif",
                               .recognises = isHeif,
                               .openIndices = nullptr,
                               .writeIndices = nullptr,
                               .faultsLate = false,
                               .readRgba = readHeifRgba,
                               .openExport = nullptr,
                               .writeExport = nullptr,
                               .exportSizeKnown = false};

const FormatReader AVIF_READER{.format = DAZ_FORMAT_AVIF,
                               .name = "AVIF",
                               .extensions = "avif",
                               .mimeType = "image/avif",
                               .recognises = isAvif,
                               .openIndices = nullptr,
                               .writeIndices = nullptr,
                               .faultsLate = false,
                               .readRgba = readHeifRgba,
                               .openExport = nullptr,
                               .writeExport = nullptr,
                               .exportSizeKnown = false};

} // namespace orvx
