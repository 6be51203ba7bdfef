// EXIF orientation: the value of tag 0x0112 (a SHORT) in IFD0 of the TIFF
// structure after "Exif\0\0", in either byte order; anything unreadable or
// out of 1..8 means as stored.
#include "convert/jpeg/jpeg_orientation.h"

#include <cstring>

namespace orvx {

namespace {

struct TiffBytes {
    const std::uint8_t* data;
    std::size_t size;
    bool little;

    std::uint32_t at16(std::size_t offset) const {
        const std::uint32_t a = data[offset];
        const std::uint32_t b = data[offset + 1];
        return little ? a | b << 8 : a << 8 | b;
    }
    std::uint32_t at32(std::size_t offset) const {
        const std::uint32_t low = at16(offset + (little ? 0 : 2));
        const std::uint32_t high = at16(offset + (little ? 2 : 0));
        return low | high << 16;
    }
};

constexpr std::size_t EXIF_PREFIX = 6; // "Exif\0\0"
constexpr std::size_t ENTRY_SIZE = 12;
constexpr std::uint32_t ORIENTATION_TAG = 0x0112;
constexpr std::uint32_t SHORT_TYPE = 3;

} // namespace

int exifOrientation(const std::uint8_t* data, std::size_t size) {
    if (size < EXIF_PREFIX + 8 || std::memcmp(data, "Exif\0\0", EXIF_PREFIX) != 0) {
        return 1;
    }
    TiffBytes tiff{data + EXIF_PREFIX, size - EXIF_PREFIX, false};
    if (std::memcmp(tiff.data, "II", 2) == 0) {
        tiff.little = true;
    } else if (std::memcmp(tiff.data, "MM", 2) != 0) {
        return 1;
    }
    if (tiff.at16(2) != 42) {
        return 1;
    }
    const std::size_t ifd = tiff.at32(4);
    if (ifd > tiff.size - 2) {
        return 1;
    }
    const std::size_t entries = tiff.at16(ifd);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = ifd + 2 + i * ENTRY_SIZE;
        if (entry > tiff.size - ENTRY_SIZE) {
            return 1;
        }
        if (tiff.at16(entry) == ORIENTATION_TAG) {
            const std::uint32_t value = tiff.at16(entry + 8);
            const bool usable = tiff.at16(entry + 2) == SHORT_TYPE && tiff.at32(entry + 4) >= 1 &&
                                value >= 1 && value <= 8;
            return usable ? static_cast<int>(value) : 1;
        }
    }
    return 1;
}

RowPlacement placeRow(int orientation, std::uint32_t width, std::uint32_t height, std::uint32_t y) {
    const std::int64_t w = width;
    const std::int64_t h = height;
    const std::int64_t row = y;
    // Upright width when turned: the stored height.
    switch (orientation) {
    case 2: // mirrored left to right
        return {row * w + w - 1, -1};
    case 3: // turned half round
        return {(h - 1 - row) * w + w - 1, -1};
    case 4: // mirrored top to bottom
        return {(h - 1 - row) * w, 1};
    case 5: // mirrored along the main diagonal: (x, y) to (y, x)
        return {row, h};
    case 6: // to be turned a quarter clockwise: (x, y) to (h - 1 - y, x)
        return {h - 1 - row, h};
    case 7: // along the other diagonal: (x, y) to (h - 1 - y, w - 1 - x)
        return {(w - 1) * h + h - 1 - row, -h};
    case 8: // to be turned a quarter anticlockwise: (x, y) to (y, w - 1 - x)
        return {(w - 1) * h + row, -h};
    default:
        return {row * w, 1};
    }
}

} // namespace orvx
