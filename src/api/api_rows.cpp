#include "api/api_rows.h"

#include "format/daz_format.h"

#include <algorithm>

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvx {

namespace {

// 16 bytes as one vector: every target has vectors of 16 bytes, and the
// shuffles below are one or two instructions on each (SSE2, NEON, VX). The
// lanes are in memory order on either byte order.
using Bytes16 = std::uint8_t __attribute__((vector_size(16)));

// bytes packed bytes, lowered by the keystream from phase on, to 2 * bytes
// indices: high nibble first. One pass: each vector is taken off its
// offsets and unpacked while in a register.
void unpackNibbles(const PixelCoding& coding, const std::uint8_t* in, std::size_t bytes,
                   std::size_t phase, std::uint8_t* out) {
    const std::uint8_t* offsets = coding.offsets + phase;
    for (std::size_t done = 0; done < bytes;) {
        // A period at a time, so that offsets never runs past the table.
        const std::size_t piece = std::min(bytes - done, KEYSTREAM_PERIOD);
        std::size_t i = 0;
        for (; i + 16 <= piece; i += 16) {
            Bytes16 packed;
            Bytes16 keystream;
            std::memcpy(&packed, in + done + i, sizeof packed);
            std::memcpy(&keystream, offsets + i, sizeof keystream);
            packed -= keystream;
            const Bytes16 high = packed >> 4U;
            const Bytes16 low = packed & 0x0FU;
            const Bytes16 first = __builtin_shufflevector(high, low, 0, 16, 1, 17, 2, 18, 3, 19, 4,
                                                          20, 5, 21, 6, 22, 7, 23);
            const Bytes16 second = __builtin_shufflevector(high, low, 8, 24, 9, 25, 10, 26, 11, 27,
                                                           12, 28, 13, 29, 14, 30, 15, 31);
            std::memcpy(out + 2 * (done + i), &first, sizeof first);
            std::memcpy(out + 2 * (done + i) + 16, &second, sizeof second);
        }
        for (; i < piece; ++i) {
            const auto byte = static_cast<std::uint8_t>(in[done + i] - offsets[i]);
            out[2 * (done + i)] = static_cast<std::uint8_t>(byte >> 4U);
            out[2 * (done + i) + 1] = static_cast<std::uint8_t>(byte & 0x0FU);
        }
        done += piece;
    }
}

// 2 * bytes indices (each below 16) to bytes packed bytes.
void packNibbles(const std::uint8_t* in, std::size_t bytes, std::uint8_t* out) {
    std::size_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        Bytes16 first;
        Bytes16 second;
        std::memcpy(&first, in + 2 * i, sizeof first);
        std::memcpy(&second, in + 2 * i + 16, sizeof second);
        const Bytes16 even = __builtin_shufflevector(first, second, 0, 2, 4, 6, 8, 10, 12, 14, 16,
                                                     18, 20, 22, 24, 26, 28, 30);
        const Bytes16 odd = __builtin_shufflevector(first, second, 1, 3, 5, 7, 9, 11, 13, 15, 17,
                                                    19, 21, 23, 25, 27, 29, 31);
        const Bytes16 packed = static_cast<Bytes16>(even << 4U) | odd;
        std::memcpy(out + i, &packed, sizeof packed);
    }
    for (; i < bytes; ++i) {
        out[i] = static_cast<std::uint8_t>((in[2 * i] << 4U) | in[2 * i + 1]);
    }
}

} // namespace

void streamOut(const std::uint8_t* row, std::size_t size, std::uint8_t* out) {
#if defined(__SSE2__)
    // Bytes up to out's first 16-byte boundary and after its last are
    // copied; the whole vectors between them are streamed.
    const std::size_t head = std::min(size, (16 - reinterpret_cast<std::uintptr_t>(out) % 16) % 16);
    std::memcpy(out, row, head);
    std::size_t i = head;
    for (; i + 16 <= size; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        _mm_stream_si128(reinterpret_cast<__m128i*>(out + i), bytes);
    }
    std::memcpy(out + i, row + i, size - i);
#else
    std::memcpy(out, row, size);
#endif
}

void finishStreaming() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

int checkLimits(const daz_limits* limits, std::uint64_t width, std::uint64_t rows,
                std::uint64_t bytes) {
    daz_limits defaults{};
    if (limits == nullptr) {
        daz_default_limits(&defaults);
        limits = &defaults;
    }
    if (width > limits->max_width || rows > limits->max_height ||
        width * rows > limits->max_pixels || bytes > limits->max_bytes) {
        return DAZ_ERR_LIMITS;
    }
    return DAZ_OK;
}

void fillInfo(const DazImage& image, daz_info& info) {
    info.width = image.header.width;
    info.height = static_cast<std::int16_t>(image.header.height);
    info.rows = static_cast<std::uint32_t>(image.rows);
    info.bits = image.header.bitsPerPixel;
    info.colors = image.header.colorCount;
    info.key = image.header.key;
    info.row_size = static_cast<std::uint32_t>(image.rowSize);
    info.pixel_offset = image.pixelStart;
    info.trailing = image.trailing;
    std::memset(info.palette, 0, sizeof info.palette);
    std::memcpy(info.palette, image.palette, image.paletteBytes);
}

int prepareEncode(std::uint32_t width, std::int64_t height, int bits, const std::uint8_t* palette,
                  int entries, int keptColors, std::uint16_t key, std::uint8_t* prefix,
                  std::size_t& prefixSize, int& kept) {
    if (palette == nullptr || (bits != 4 && bits != 8) || width == 0 || width > DAZ_MAX_WIDTH ||
        height == 0 || height < DAZ_MIN_HEIGHT || height > DAZ_MAX_HEIGHT || entries < 1 ||
        entries > (1 << bits)) {
        return DAZ_ERR_ARGUMENT;
    }
    if (keptColors < 0 || keptColors > entries) {
        return DAZ_ERR_COLORS;
    }
    kept = keptColors == 0 ? entries : keptColors;
    DazHeader header;
    header.width = static_cast<std::uint16_t>(width);
    header.height = static_cast<std::uint16_t>(height & 0xFFFF);
    header.bitsPerPixel = static_cast<std::uint16_t>(bits);
    header.colorCount = static_cast<std::int16_t>(kept);
    header.key = key;
    writeDazHeader(header, prefix);
    const std::size_t paletteBytes = PALETTE_ENTRY_SIZE * static_cast<std::size_t>(kept);
    std::memcpy(prefix + DAZ_HEADER_SIZE, palette, paletteBytes);
    prefixSize = DAZ_HEADER_SIZE + paletteBytes;
    return DAZ_OK;
}

bool fitNibbles(const std::uint8_t* indices, std::size_t count) {
    // Four vectors a turn: the loop waits on memory, and four loads in
    // flight keep it busier than one.
    Bytes16 seen[4] = {};
    std::size_t i = 0;
    for (; i + 64 <= count; i += 64) {
        for (std::size_t v = 0; v < 4; ++v) {
            Bytes16 bytes;
            std::memcpy(&bytes, indices + i + 16 * v, sizeof bytes);
            seen[v] |= bytes;
        }
    }
    const Bytes16 all = seen[0] | seen[1] | seen[2] | seen[3];
    std::uint8_t any = 0;
    for (std::size_t lane = 0; lane < 16; ++lane) {
        any = static_cast<std::uint8_t>(any | all[lane]);
    }
    for (; i < count; ++i) {
        any = static_cast<std::uint8_t>(any | indices[i]);
    }
    return any < 16;
}

void decodeRow(const PixelCoding& coding, const std::uint8_t* stored, std::uint32_t width, int bits,
               std::size_t phase, std::uint8_t* out) {
    if (bits == 8) {
        copyRemovingKeystream(coding, stored, out, width, phase);
        return;
    }
    const std::size_t pairs = width / 2;
    unpackNibbles(coding, stored, pairs, phase, out);
    if (width % 2 != 0) {
        const std::uint8_t offset = coding.offsets[phase + pairs % KEYSTREAM_PERIOD];
        const auto last = static_cast<std::uint8_t>(stored[pairs] - offset);
        out[width - 1] = static_cast<std::uint8_t>(last >> 4U);
    }
}

std::uint64_t encodeRow(const PixelCoding& coding, PixelKernel kernel, const std::uint8_t* indices,
                        std::uint32_t width, int bits, std::uint8_t* row, std::size_t rowSize,
                        std::size_t phase) {
    std::size_t filled = width;
    if (bits == 8) {
        std::memcpy(row, indices, width);
    } else {
        const std::size_t pairs = width / 2;
        packNibbles(indices, pairs, row);
        filled = pairs;
        if (width % 2 != 0) {
            row[filled++] = static_cast<std::uint8_t>(indices[width - 1] << 4U);
        }
    }
    std::memset(row + filled, 0, rowSize - filled);
    return kernel(coding, row, rowSize, phase);
}

} // namespace orvx
