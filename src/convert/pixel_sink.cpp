#include "convert/pixel_sink.h"

PixelSink makePixelSink(std::FILE* destination, std::uint16_t key, int bitsPerPixel,
                        int colorCount) {
    PixelSink sink;
    sink.destination = destination;
    sink.stream = makeKeystream(key);
    sink.bitsPerPixel = bitsPerPixel;
    sink.colorCount = colorCount;
    return sink;
}

ConvertResult emitChunk(PixelSink& sink, std::uint8_t* chunk, std::size_t size) {
    sink.undefinedCount += countUndefined(chunk, size, sink.bitsPerPixel, sink.colorCount);
    encodePixels(chunk, size, sink.stream);
    return std::fwrite(chunk, 1, size, sink.destination) == size ? 0 : ERR_WRITE;
}
