#include "convert/pixel_sink.h"

#include <algorithm>
#include <cstring>

namespace {

// Pixel values in data[0, size) that index at or past limit: every nibble of a
// 4-bit bitmap, every byte of an 8-bit one. The plain loop, for what is left
// after the vector kernel's whole vectors.
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

std::uint8_t countLimit(int colorCount) {
    return static_cast<std::uint8_t>(std::max(colorCount, 0));
}

// The kernel works on VECTOR_BYTES at a time with the compiler's generic
// vectors. Under GCC on x86-64 it is built for AVX-512, AVX2 and the baseline,
// and the loader picks the best one the processor has; elsewhere the compiler
// maps the vectors onto what the target has. Per lane it keeps an 8-bit tally
// of values at or past the limit (a compare gives -1 or 0), emptied every
// TALLY_VECTORS vectors, before a 4-bit lane (up to 2 a vector) reaches 256.
using ByteVector = std::uint8_t __attribute__((vector_size(64)));
constexpr std::size_t VECTOR_BYTES = sizeof(ByteVector);
constexpr std::size_t TALLY_VECTORS = 127;

std::uint64_t sumLanes(const ByteVector& tally) {
    std::uint64_t sum = 0;
    for (std::size_t lane = 0; lane < VECTOR_BYTES; ++lane) {
        sum += tally[lane];
    }
    return sum;
}

// Adds offsets[i] to data[i] for the whole vectors of data[0, size) and counts
// their undefined values when counting. Returns the bytes done, a multiple of
// VECTOR_BYTES; the caller finishes the rest.
template <int BitsPerPixel, bool Counting>
__attribute__((always_inline)) inline std::size_t
encodeVectors(std::uint8_t* data, const std::uint8_t* offsets, std::size_t size, std::uint8_t limit,
              std::uint64_t& count) {
    const std::size_t whole = size - size % VECTOR_BYTES;
    // A high nibble is at or past the limit exactly when its byte is at or
    // past limit * 16; the limit is below 16 whenever a 4-bit bitmap counts.
    const auto byteLimit = static_cast<std::uint8_t>(BitsPerPixel == 4 ? limit << 4U : limit);
    std::size_t at = 0;
    while (at < whole) {
        const std::size_t end = std::min(whole, at + TALLY_VECTORS * VECTOR_BYTES);
        ByteVector tally{};
        for (; at < end; at += VECTOR_BYTES) {
            ByteVector pixels;
            std::memcpy(&pixels, data + at, sizeof pixels);
            ByteVector keystream;
            std::memcpy(&keystream, offsets + at, sizeof keystream);
            if constexpr (Counting) {
                tally -= reinterpret_cast<ByteVector>(pixels >= byteLimit);
                if constexpr (BitsPerPixel == 4) {
                    tally -= reinterpret_cast<ByteVector>((pixels & 0x0FU) >= limit);
                }
            }
            pixels += keystream;
            std::memcpy(data + at, &pixels, sizeof pixels);
        }
        if constexpr (Counting) {
            count += sumLanes(tally);
        }
    }
    return whole;
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define ORVX_KERNEL_CLONES                                                                         \
    __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define ORVX_KERNEL_CLONES
#endif

ORVX_KERNEL_CLONES
std::size_t encodeAndCount(std::uint8_t* data, const std::uint8_t* offsets, std::size_t size,
                           int bitsPerPixel, bool counting, std::uint8_t limit,
                           std::uint64_t& count) {
    if (!counting) {
        return encodeVectors<8, false>(data, offsets, size, limit, count);
    }
    if (bitsPerPixel == 4) {
        return encodeVectors<4, true>(data, offsets, size, limit, count);
    }
    return encodeVectors<8, true>(data, offsets, size, limit, count);
}

} // namespace

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

void encodeChunk(PixelSink& sink, std::uint8_t* chunk, std::size_t size) {
    const std::uint8_t limit = countLimit(sink.colorCount);
    const std::size_t done =
        encodeAndCount(chunk, sink.table.offsets + sink.table.phase, size, sink.bitsPerPixel,
                       sink.counting, limit, sink.undefinedCount);
    sink.table.phase = (sink.table.phase + done) % KEYSTREAM_PERIOD;
    if (sink.counting) {
        sink.undefinedCount += countBlock(chunk + done, size - done, sink.bitsPerPixel, limit);
    }
    encodeWithTable(chunk + done, size - done, sink.table);
}

void encodeAt(PixelSink& sink, std::uint64_t position, std::uint8_t* data, std::size_t size) {
    sink.table.phase = static_cast<std::size_t>(position % KEYSTREAM_PERIOD);
    for (std::size_t done = 0; done < size;) {
        const std::size_t piece = std::min(size - done, CHUNK_SIZE);
        encodeChunk(sink, data + done, piece);
        done += piece;
    }
}

ConvertResult emitChunk(PixelSink& sink, std::uint8_t* buffer, std::size_t pixelStart,
                        std::size_t end) {
    encodeChunk(sink, buffer + pixelStart, end - pixelStart);
    return std::fwrite(buffer, 1, end, sink.destination) == end ? 0 : ERR_WRITE;
}
