// pixel_sink.h - where pixel bytes go once read: counted, encoded, written.
#pragma once

#include "convert/bmp_to_daz.h"
#include "format/daz_format.h"

#include <cstdint>
#include <cstdio>

struct PixelSink {
    std::FILE* destination = nullptr;
    PixelKeystream stream;
    int bitsPerPixel = 8;
    int colorCount = 0;
    std::uint64_t undefinedCount = 0;
};

PixelSink makePixelSink(std::FILE* destination, std::uint16_t key, int bitsPerPixel,
                        int colorCount);

// Counts the chunk's undefined values, encodes it in place and writes it out.
// 0, or ERR_WRITE when the write comes up short.
ConvertResult emitChunk(PixelSink& sink, std::uint8_t* chunk, std::size_t size);
