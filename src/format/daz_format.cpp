#include "format/daz_format.h"

#include "format/byte_order.h"

#include <cstring>

namespace orvx {

void writeDazHeader(const DazHeader& header, std::uint8_t* out) {
    storeU16(out + 0, DAZ_MAGIC);
    storeU16(out + 2, DAZ_FORMAT_WORD);
    storeU16(out + 4, header.width);
    storeU16(out + 6, header.height);
    storeU16(out + 8, header.bitsPerPixel);
    storeU16(out + 10, static_cast<std::uint16_t>(header.colorCount));
    storeU16(out + 12, header.key);
    std::memset(out + DAZ_HEADER_INFO_SIZE, 0, DAZ_HEADER_SIZE - DAZ_HEADER_INFO_SIZE);
}

std::uint16_t readDazHeader(const std::uint8_t* in, DazHeader& header) {
    header.width = loadU16(in + 4);
    header.height = loadU16(in + 6);
    header.bitsPerPixel = loadU16(in + 8);
    header.colorCount = static_cast<std::int16_t>(loadU16(in + 10));
    header.key = loadU16(in + 12);
    return loadU16(in);
}

PaletteEntry paletteEntryFromBgr(const std::uint8_t* bgrx) {
    return PaletteEntry{bgrx[2], bgrx[1], bgrx[0], bgrx[3]};
}

void storePaletteEntry(const PaletteEntry& entry, std::uint8_t* out) {
    out[0] = entry.red;
    out[1] = entry.green;
    out[2] = entry.blue;
    out[3] = entry.extra;
}

void swapPaletteEntries(std::uint8_t* entries, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* entry = entries + i * PALETTE_ENTRY_SIZE;
        storePaletteEntry(paletteEntryFromBgr(entry), entry);
    }
}

PixelKeystream makeKeystream(std::uint16_t key) {
    return PixelKeystream{static_cast<std::uint8_t>(key & 0xFFU),
                          static_cast<std::uint8_t>(key >> 8U)};
}

std::uint8_t nextOffset(PixelKeystream& stream) {
    const auto sum = static_cast<std::uint8_t>(stream.a + stream.b);
    stream.a = stream.b;
    stream.b = sum;
    return sum;
}

void encodePixels(std::uint8_t* data, std::size_t size, PixelKeystream& stream) {
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<std::uint8_t>(data[i] + nextOffset(stream));
    }
}

} // namespace orvx
