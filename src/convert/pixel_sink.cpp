#include "convert/pixel_sink.h"

#include <algorithm>

namespace {

// Bytes counted into one 32-bit total before it joins the 64-bit one.
constexpr std::size_t COUNT_BLOCK = std::size_t{1} << 20U;

// Branch-free, so that the compiler vectorises the loops.
std::uint32_t countBlock(const std::uint8_t* data, std::size_t size, int bitsPerPixel,
                         std::uint8_t limit) {
    std::uint32_t count = 0;
    if (bitsPerPixel == 4) {
        for (std::size_t i = 0; i < size; ++i) {
            count += static_cast<std::uint32_t>((data[i] & 0x0FU) >= limit) +
                     static_cast<std::uint32_t>((data[i] >> 4U) >= limit);
        }
    } else {
        for (std::size_t i = 0; i < size; ++i) {
            count += static_cast<std::uint32_t>(data[i] >= limit);
        }
    }
    return count;
}

} // namespace

std::uint64_t countUndefined(const std::uint8_t* data, std::size_t size, int bitsPerPixel,
                             int colorCount) {
    if (colorCount >= (1 << bitsPerPixel)) {
        return 0;
    }
    const auto limit = static_cast<std::uint8_t>(std::max(colorCount, 0));
    std::uint64_t count = 0;
    for (std::size_t at = 0; at < size; at += COUNT_BLOCK) {
        count += countBlock(data + at, std::min(COUNT_BLOCK, size - at), bitsPerPixel, limit);
    }
    return count;
}

void initPixelSink(PixelSink& sink, std::FILE* destination, std::uint16_t key, int bitsPerPixel,
                   int colorCount) {
    static_assert(CHUNK_SIZE <= TABLE_CHUNK);
    sink.destination = destination;
    fillOffsetTable(sink.table, key);
    sink.bitsPerPixel = bitsPerPixel;
    sink.colorCount = colorCount;
    sink.counting = colorCount < (1 << bitsPerPixel);
    sink.undefinedCount = 0;
}

ConvertResult emitChunk(PixelSink& sink, std::uint8_t* chunk, std::size_t size) {
    if (sink.counting) {
        sink.undefinedCount += countUndefined(chunk, size, sink.bitsPerPixel, sink.colorCount);
    }
    encodeWithTable(chunk, size, sink.table);
    return std::fwrite(chunk, 1, size, sink.destination) == size ? 0 : ERR_WRITE;
}
