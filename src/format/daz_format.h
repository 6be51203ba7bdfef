// daz_format.h - the daz image layout and its pixel keystream.
//
// A daz file, all integers little-endian:
//
//   offset  size            field         content
//   ------  --------------  ------------  -------------------------------------------
//        0  2               magic         "EW" (0x5745 read as a 16-bit value)
//        2  2               formatWord    1; written always, read by nobody
//        4  2               width         low 16 bits of the bitmap's width
//        6  2               height        low 16 bits of the bitmap's height, bit for bit
//                                         (negative means top-down rows)
//        8  2               bitsPerPixel  4 or 8
//       10  2               colorCount    palette entries that follow, signed:
//                                         1..16 for 4 bpp, 1..256 for 8 bpp
//       12  2               key           seeds the keystream
//       14  10              reserved      zero
//       24  4 * colorCount  palette       PaletteEntry records: red, green, blue, extra
//        .  to end of file  pixel area    the bitmap's pixel rows, byte i stored as
//                                         (source byte i + keystream byte i) mod 256
//
// Keystream: a = low byte of key, b = high byte of key. For every pixel byte,
// (a, b) becomes (b, a + b mod 256) and the new b is the offset. It is a
// Fibonacci sequence mod 256, so it repeats every KEYSTREAM_PERIOD bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvx {

inline constexpr std::uint16_t DAZ_MAGIC = 0x5745; // "EW"
inline constexpr std::uint16_t DAZ_FORMAT_WORD = 1;
inline constexpr std::size_t DAZ_HEADER_SIZE = 24;
inline constexpr std::size_t DAZ_HEADER_INFO_SIZE = 14; // magic .. key, what -r reads
inline constexpr std::size_t PALETTE_ENTRY_SIZE = 4;
inline constexpr int MAX_COLORS_4BPP = 16;
inline constexpr int MAX_COLORS_8BPP = 256;
inline constexpr std::size_t DAZ_MAX_PREFIX_SIZE =
    DAZ_HEADER_SIZE + PALETTE_ENTRY_SIZE * MAX_COLORS_8BPP; // 1048
// The header holds the width as 16 bits and the height as signed 16 bits:
// images past these can't be described.
inline constexpr std::int64_t DAZ_MAX_WIDTH = 65535;
inline constexpr std::int64_t DAZ_MIN_HEIGHT = -32768;
inline constexpr std::int64_t DAZ_MAX_HEIGHT = 32767;
// Fibonacci mod 256 repeats with a period dividing 384, whatever the seed.
inline constexpr std::size_t KEYSTREAM_PERIOD = 384;

// Bytes of a stored row of width pixels of bits each: rows are padded to
// whole 4-byte words, in a daz file as in a bitmap.
constexpr std::uint64_t dazRowSize(std::uint64_t width, unsigned bits) {
    return (width * bits + 31) / 32 * 4;
}

struct DazHeader {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint16_t bitsPerPixel = 0;
    std::int16_t colorCount = 0;
    std::uint16_t key = 0;
};

struct PaletteEntry {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    std::uint8_t extra = 0;
};

struct PixelKeystream {
    std::uint8_t a = 0;
    std::uint8_t b = 0;
};

// Serialises the header into its DAZ_HEADER_SIZE bytes: magic, formatWord 1,
// the fields, and zeroed reserved bytes.
void writeDazHeader(const DazHeader& header, std::uint8_t* out);

// Reads the header fields back from DAZ_HEADER_INFO_SIZE bytes. Returns the
// magic as stored, so the caller decides what a wrong one means.
std::uint16_t readDazHeader(const std::uint8_t* in, DazHeader& header);

// A bitmap palette entry is blue, green, red, extra.
PaletteEntry paletteEntryFromBgr(const std::uint8_t* bgrx);
void storePaletteEntry(const PaletteEntry& entry, std::uint8_t* out);

// Exchanges bytes 0 and 2 of each 4-byte entry, in place: blue-green-red to
// red-green-blue and back.
void swapPaletteEntries(std::uint8_t* entries, std::size_t count);

PixelKeystream makeKeystream(std::uint16_t key);
std::uint8_t nextOffset(PixelKeystream& stream);

// Raises each byte of data[0, size) by the next offset of the stream.
void encodePixels(std::uint8_t* data, std::size_t size, PixelKeystream& stream);

} // namespace orvx
