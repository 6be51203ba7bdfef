// jpeg_orientation.h - a JPEG's EXIF orientation (tag 0x0112 of the first
// IFD of an APP1 "Exif" marker) and where it puts each stored pixel.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvx {

// 1..8 as the marker's data (from "Exif\0\0" on) gives it; 1 (as stored)
// when it has none, or none that reads.
int exifOrientation(const std::uint8_t* data, std::size_t size);

// Where the stored row y (of width x height) goes in the upright image: its
// pixel x lands at index first + x * step (pixels, in the upright image of
// turned(orientation) ? height x width : width x height).
struct RowPlacement {
    std::int64_t first = 0;
    std::int64_t step = 1;
};

// Orientations 5 to 8 swap width and height.
inline bool turned(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

RowPlacement placeRow(int orientation, std::uint32_t width, std::uint32_t height, std::uint32_t y);

} // namespace orvx
