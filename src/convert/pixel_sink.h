// pixel_sink.h - where pixel bytes go once read: counted, encoded, written.
#pragma once

#include "convert/result_codes.h"
#include "kernel/pixel_kernel.h"
#include "output/file_ops.h"

#include <cstdint>
#include <cstdio>

namespace orvx {

struct PixelSink {
    PixelCoding coding;
    std::FILE* destination = nullptr;
    PixelKernel kernel = nullptr; // activeKernel() when the sink was set up
    std::size_t phase = 0;        // pixel bytes encoded so far, mod KEYSTREAM_PERIOD
    std::uint64_t undefinedCount = 0;
};

void initPixelSink(PixelSink& sink, std::FILE* destination, std::uint16_t key, int bitsPerPixel,
                   int colorCount);

// Counts the chunk's undefined values (each nibble of a 4-bit bitmap, each
// byte of an 8-bit one, that indexes at or past colorCount) into
// undefinedCount and encodes the chunk in place: the work done on every pixel
// byte. Any size; the keystream runs on from the previous chunk.
void encodeChunk(PixelSink& sink, std::uint8_t* chunk, std::size_t size);

// Counts and encodes size bytes (any number) as the pixel bytes that sit at
// position in the pixel area: the keystream offsets depend on nothing else.
void encodeAt(PixelSink& sink, std::uint64_t position, std::uint8_t* data, std::size_t size);

// Encodes buffer[pixelStart, end) with encodeChunk, then writes buffer[0, end)
// out: bytes before pixelStart (the header and palette) go out as they are.
// 0, or DAZ_ERR_WRITE when the write comes up short.
int emitChunk(PixelSink& sink, std::uint8_t* buffer, std::size_t pixelStart, std::size_t end);

} // namespace orvx
