#include "convert/bmp/rle_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace orvx {

namespace {

constexpr int RLE_ESCAPE = 0;
constexpr int RLE_END_OF_ROW = 0;
constexpr int RLE_END_OF_BITMAP = 1;
constexpr int RLE_DELTA = 2;

struct RleInput {
    std::FILE* source;
    std::uint8_t* buffer;
    std::size_t length = 0;
    std::size_t position = 0;
};

// The next byte of the data, or -1 at its end (or on a read error, which the
// caller tells apart with ferror).
int nextByte(RleInput& in) {
    if (in.position == in.length) {
        in.length = std::fread(in.buffer, 1, CHUNK_SIZE, in.source);
        in.position = 0;
        if (in.length == 0) {
            return -1;
        }
    }
    return in.buffer[in.position++];
}

// The decoded rows, of which only [start, start + CHUNK_SIZE) is held.
struct RleOutput {
    PixelSink& sink;
    std::uint8_t* window;
    std::uint64_t start = 0;
    std::uint64_t total = 0;
    std::uint64_t rowSize = 0;
    std::uint64_t width = 0;
    bool nibbles = false;
    bool overflow = false; // a run or literal went past a row's end
    int error = 0;
};

// Hands over the window and moves it on to the next CHUNK_SIZE bytes.
bool flushWindow(RleOutput& out) {
    const std::size_t size =
        static_cast<std::size_t>(std::min<std::uint64_t>(CHUNK_SIZE, out.total - out.start));
    out.error = emitChunk(out.sink, out.window, 0, size);
    std::memset(out.window, 0, CHUNK_SIZE);
    out.start += size;
    return out.error == 0;
}

// Sets pixel x of row y (y below the row count); pixels past the width drop.
bool putPixel(RleOutput& out, std::uint64_t x, std::uint64_t y, unsigned index) {
    if (x >= out.width) {
        return true;
    }
    const std::uint64_t at = y * out.rowSize + (out.nibbles ? x / 2 : x);
    while (at >= out.start + CHUNK_SIZE) {
        if (!flushWindow(out)) {
            return false;
        }
    }
    std::uint8_t& byte = out.window[at - out.start];
    if (!out.nibbles) {
        byte = static_cast<std::uint8_t>(index);
    } else if (x % 2 == 0) {
        byte = static_cast<std::uint8_t>((byte & 0x0FU) | (index << 4U));
    } else {
        byte = static_cast<std::uint8_t>((byte & 0xF0U) | index);
    }
    return true;
}

// The decoded rows as indices in memory, one byte a pixel, width bytes a row
// in stored order (bottom row first).
struct RleIndices {
    std::uint8_t* indices;
    std::uint64_t width = 0;
    bool nibbles = false;
    bool overflow = false;
};

bool putPixel(RleIndices& out, std::uint64_t x, std::uint64_t y, unsigned index) {
    if (x < out.width) {
        out.indices[y * out.width + x] = static_cast<std::uint8_t>(index);
    } else {
        out.overflow = true;
    }
    return true;
}

// How the commands ended.
enum class RleEnd {
    WHOLE,   // end of bitmap, or every row ended
    CUT,     // the data ended first
    OUTSIDE, // a delta would leave the image
};

// Pixel i of a run or literal byte v: all of v for RLE8, alternating nibbles
// for RLE4.
template <typename Out> unsigned pixelOf(const Out& out, unsigned value, unsigned i) {
    if (!out.nibbles) {
        return value;
    }
    return i % 2 == 0 ? value >> 4U : value & 0x0FU;
}

// Runs the commands until the data, the image or the bitmap ends.
template <typename Out> RleEnd decodeCommands(RleInput& in, Out& out, std::uint64_t rows) {
    std::uint64_t x = 0;
    std::uint64_t y = 0;
    while (y < rows) {
        const int count = nextByte(in);
        const int value = nextByte(in);
        if (count < 0 || value < 0) {
            return RleEnd::CUT;
        }
        if (count != RLE_ESCAPE) {
            const std::uint64_t end = x + static_cast<unsigned>(count);
            out.overflow = out.overflow || end > out.width;
            for (unsigned i = 0; x < end && x < out.width; ++i, ++x) {
                if (!putPixel(out, x, y, pixelOf(out, static_cast<unsigned>(value), i))) {
                    return RleEnd::WHOLE; // the sink's error, which the caller holds
                }
            }
            x = end;
            continue;
        }
        if (value == RLE_END_OF_ROW) {
            x = 0;
            ++y;
        } else if (value == RLE_END_OF_BITMAP) {
            return RleEnd::WHOLE;
        } else if (value == RLE_DELTA) {
            const int dx = nextByte(in);
            const int dy = nextByte(in);
            if (dx < 0 || dy < 0) {
                return RleEnd::CUT;
            }
            if (x + static_cast<unsigned>(dx) > out.width ||
                y + static_cast<unsigned>(dy) >= rows) {
                return RleEnd::OUTSIDE;
            }
            x += static_cast<unsigned>(dx);
            y += static_cast<unsigned>(dy);
        } else {
            const auto pixels = static_cast<unsigned>(value);
            const unsigned perByte = out.nibbles ? 2 : 1;
            const unsigned bytes = (pixels + perByte - 1) / perByte;
            unsigned done = 0;
            for (unsigned b = 0; b < bytes; ++b) {
                const int literal = nextByte(in);
                if (literal < 0) {
                    return RleEnd::CUT;
                }
                for (unsigned half = 0; half < perByte && done < pixels; ++half, ++done, ++x) {
                    if (!putPixel(out, x, y, pixelOf(out, static_cast<unsigned>(literal), half))) {
                        return RleEnd::WHOLE; // the sink's error, which the caller holds
                    }
                }
            }
            if (bytes % 2 != 0 && nextByte(in) < 0) { // literals end on an even byte
                return RleEnd::CUT;
            }
        }
    }
    return RleEnd::WHOLE;
}

} // namespace

int decodeRle(std::FILE* source, const BmpLayout& layout, PixelSink& sink, std::uint8_t* window,
              std::uint8_t* input) {
    const auto rows = static_cast<std::uint64_t>(layout.height);
    RleInput in{source, input};
    RleOutput out{sink, window};
    out.total = rows * layout.rowSize;
    out.rowSize = layout.rowSize;
    out.width = static_cast<std::uint64_t>(layout.width);
    out.nibbles = layout.bitsPerPixel == 4;
    std::memset(window, 0, CHUNK_SIZE);
    static_cast<void>(decodeCommands(in, out, rows)); // whatever the end, the rest is zeros
    if (out.error != 0) {
        return out.error;
    }
    if (std::ferror(source) != 0) {
        return DAZ_ERR_READ;
    }
    while (out.start < out.total) {
        if (!flushWindow(out)) {
            return out.error;
        }
    }
    return 0;
}

int decodeRleToIndices(std::FILE* source, const BmpLayout& layout, std::uint8_t* indices) {
    const auto rows = static_cast<std::uint64_t>(layout.height);
    std::array<std::uint8_t, CHUNK_SIZE> buffer{};
    RleInput in{source, buffer.data()};
    RleIndices out{indices};
    out.width = static_cast<std::uint64_t>(layout.width);
    out.nibbles = layout.bitsPerPixel == 4;
    std::memset(indices, 0, static_cast<std::size_t>(rows * out.width));
    const RleEnd end = decodeCommands(in, out, rows);
    if (std::ferror(source) != 0) {
        return DAZ_ERR_READ;
    }
    return end == RleEnd::WHOLE && !out.overflow ? 0 : DAZ_ERR_NOT_BMP;
}

} // namespace orvx
