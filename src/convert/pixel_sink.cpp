#include "convert/pixel_sink.h"

namespace orvx {

void initPixelSink(PixelSink& sink, std::FILE* destination, std::uint16_t key, int bitsPerPixel,
                   int colorCount) {
    sink.destination = destination;
    initPixelCoding(sink.coding, key, bitsPerPixel, colorCount);
    sink.kernel = activeKernel().run;
    sink.phase = 0;
    sink.undefinedCount = 0;
}

void encodeChunk(PixelSink& sink, std::uint8_t* chunk, std::size_t size) {
    sink.undefinedCount += sink.kernel(sink.coding, chunk, size, sink.phase);
    sink.phase = (sink.phase + size) % KEYSTREAM_PERIOD;
}

void encodeAt(PixelSink& sink, std::uint64_t position, std::uint8_t* data, std::size_t size) {
    sink.phase = static_cast<std::size_t>(position % KEYSTREAM_PERIOD);
    encodeChunk(sink, data, size);
}

int emitChunk(PixelSink& sink, std::uint8_t* buffer, std::size_t pixelStart, std::size_t end) {
    encodeChunk(sink, buffer + pixelStart, end - pixelStart);
    return std::fwrite(buffer, 1, end, sink.destination) == end ? 0 : DAZ_ERR_WRITE;
}

} // namespace orvx
