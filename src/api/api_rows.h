// api_rows.h - what the library's in-memory and streaming calls share: the
// checks of their arguments and limits, and a row of pixels decoded from or
// encoded to its stored form.
#pragma once

#include "daz/daz.h"
#include "format/daz_image.h"
#include "kernel/pixel_kernel.h"

#include <cstddef>
#include <cstdint>

namespace orvx {

// The largest stored row: 65535 pixels of 8 bits, padded to 4 bytes.
inline constexpr std::size_t MAX_ROW_SIZE = dazRowSize(DAZ_MAX_WIDTH, 8);

// DAZ_OK, or DAZ_ERR_LIMITS when an image of width x rows, taking bytes of
// memory or output, is past limits (null: the defaults).
int checkLimits(const daz_limits* limits, std::uint64_t width, std::uint64_t rows,
                std::uint64_t bytes);

// info as daz_inspect gives it; the palette past the stored entries is zero.
void fillInfo(const DazImage& image, daz_info& info);

// Checks what an encode is given: bits 4 or 8, width 1..65535, a height the
// header can hold (1..32767 when positive, down to -32768 when top-down
// rows are allowed), entries 1..1 << bits, and kept 0..entries (else
// DAZ_ERR_COLORS). The header and kept palette are written to prefix (room
// for DAZ_MAX_PREFIX_SIZE) and its length to prefixSize.
int prepareEncode(std::uint32_t width, std::int64_t height, int bits, const std::uint8_t* palette,
                  int entries, int keptColors, std::uint16_t key, std::uint8_t* prefix,
                  std::size_t& prefixSize, int& kept);

// Whether every one of count indices fits in 4 bits, on the variant this
// run uses.
bool fitNibbles(const std::uint8_t* indices, std::size_t count);

// The stored row at stored (keystream phase phase) into width indices at
// out, 4-bit pixels unpacked, on the variant this run uses.
void decodeRow(const PixelCoding& coding, const std::uint8_t* stored, std::uint32_t width,
               std::size_t phase, std::uint8_t* out);

// width indices into the stored row at row (rowSize bytes: packed, padded
// with zeros, the keystream added at phase) on kernel's variant; returns the
// values counted past the kept palette.
std::uint64_t encodeRow(const PixelCoding& coding, const KernelVariant& kernel,
                        const std::uint8_t* indices, std::uint32_t width, std::uint8_t* row,
                        std::size_t rowSize, std::size_t phase);

} // namespace orvx
