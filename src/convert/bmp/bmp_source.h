// bmp_source.h - where a palette bitmap keeps its fields, palette and pixels.
//
// The layout comes from bfOffBits (u32 at 10) and the info header's size
// (u32 at 14):
//
//   headerSize        kind   width/height     bpp     palette entries
//   ----------------  -----  ---------------  ------  ---------------------------
//   12 (OS/2 core)    CORE   u16 18 / u16 20  u16 24  3 bytes (b, g, r) from 26
//   16..64, 108, 124  INFO   i32 18 / i32 22  u16 28  4 bytes (b, g, r, x) from
//                                                     14 + headerSize
//   anything else     FIXED  u16 18 / u16 22  u16 28  4 bytes from 54, always a
//                                                     full palette, pixels after
//
// CORE and INFO also need bfOffBits >= 14 + headerSize, else FIXED. INFO reads
// compression (u32 at 30, when headerSize >= 20) and biClrUsed (u32 at 46, when
// headerSize >= 36); fields past the end of a short file read as 0. Their
// pixels start at bfOffBits.
#pragma once

#include "convert/result_codes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace orvx {

inline constexpr std::uint32_t BMP_FILE_HEADER_SIZE = 14;
inline constexpr std::uint32_t BMP_CORE_HEADER_SIZE = 12;
inline constexpr std::uint32_t BMP_INFO_HEADER_SIZE = 40;
inline constexpr std::uint32_t BMP_COMPRESSION_NONE = 0;
inline constexpr std::uint32_t BMP_COMPRESSION_RLE8 = 1;
inline constexpr std::uint32_t BMP_COMPRESSION_RLE4 = 2;
inline constexpr std::uint32_t BMP_COMPRESSION_BITFIELDS = 3;
inline constexpr std::uint32_t BMP_COMPRESSION_ALPHABITFIELDS = 6;

// The depths a reader takes: the conversions into daz only those a daz image
// holds as they are; the RGBA reader every depth of 1 to 32 bits.
enum class BmpDepths { PALETTE_4_8, ANY };

enum class BmpLayoutKind { FIXED, CORE, INFO };

struct BmpLayout {
    BmpLayoutKind kind = BmpLayoutKind::FIXED;
    std::uint16_t bitsPerPixel = 0;
    int paletteSize = 0;    // 16 or 256: what the depth can index
    int paletteEntries = 0; // entries the file holds, at most paletteSize
    std::int64_t paletteOffset = 0;
    std::size_t entrySize = 4; // 3 for OS/2 core headers
    std::int64_t pixelOffset = 0;
    std::uint32_t compression = BMP_COMPRESSION_NONE;
    std::uint16_t widthField = 0; // low 16 bits, as the daz header keeps them
    std::uint16_t heightField = 0;
    std::int64_t width = 0; // as the header states it (CORE and INFO)
    std::int64_t height = 0;
    std::uint64_t rowSize = 0;    // bytes of one stored row
    std::uint32_t colorsUsed = 0; // biClrUsed as stored (INFO), 0 when absent
    // Direct colour (16, 24 and 32 bits, BmpDepths::ANY only): red, green,
    // blue and alpha masks; an alpha mask of 0 means opaque.
    std::uint32_t masks[4] = {0, 0, 0, 0};
};

// The most of a bitmap's start that its headers and palette take: the file
// header, the largest info header (version 5) and 256 entries of 4 bytes.
inline constexpr std::uint32_t BMP_V5_HEADER_SIZE = 124;
inline constexpr std::size_t BMP_MAX_START_SIZE =
    BMP_FILE_HEADER_SIZE + BMP_V5_HEADER_SIZE + 4 * 256;

// Parses and checks the bitmap's headers from the file's first bytes,
// bytes[0, size) (size below BMP_MAX_START_SIZE: the file ends there), in the
// conversion's order: "BM" (-5), the depth (-6), the layout (-5: an unknown
// compression, RLE that does not match the depth, RLE with top-down rows, a
// width outside 1..65535 or a height outside -32768..32767, which the daz
// header can't hold). A file that ends where a field must be is -1. Returns 0
// on success. No I/O, no allocation.
//
// With BmpDepths::ANY, depths 1, 2, 4 and 8 (a palette of 1 << depth
// entries) and 16, 24 and 32 (no palette) are read, and for 16 and 32 bits
// BI_BITFIELDS and BI_ALPHABITFIELDS: the masks from a header of 52 bytes or
// more (alpha from 56), else after a 40-byte header; BI_RGB gives 5-5-5 for
// 16 bits and 8-8-8 for 32, no alpha.
int parseBmpLayout(const std::uint8_t* bytes, std::size_t size, BmpLayout& layout,
                   BmpDepths depths = BmpDepths::PALETTE_4_8);

// Takes the first colorCount palette entries from the same bytes and stores
// them as daz entries (red, green, blue, fourth byte) at out. -1 if the file
// ends before they do.
int parseDazPalette(const std::uint8_t* bytes, std::size_t size, const BmpLayout& layout,
                    int colorCount, std::uint8_t* out);

// A bitmap's start, as read once from its file.
struct BmpStart {
    std::array<std::uint8_t, BMP_MAX_START_SIZE> bytes{};
    std::size_t size = 0;
};

// Reads up to BMP_MAX_START_SIZE bytes from the source's position (its
// start). -1 when the read fails; a short file is not a failure here.
int readBmpStart(std::FILE* source, BmpStart& start);

bool isRle(const BmpLayout& layout);

} // namespace orvx
