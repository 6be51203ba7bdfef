#include "convert/bmp_to_daz.h"

#include "convert/bmp_source.h"
#include "convert/destination.h"
#include "convert/pixel_sink.h"
#include "convert/rle_decoder.h"
#include "format/daz_format.h"

#include <array>

namespace {

// Everything known about the source once its headers and palette are read.
struct SourceInfo {
    BmpLayout layout;
    DazHeader header;
};

// Checks the source and builds the daz header and kept palette in prefix.
// Reads the source only; nothing is written.
ConvertResult readSource(FILE* source, int requestedColors, std::uint16_t key, SourceInfo& info,
                         std::uint8_t* prefix) {
    const ConvertResult layout = readBmpLayout(source, info.layout);
    if (layout < 0) {
        return layout;
    }
    const int available = info.layout.paletteEntries;
    if (requestedColors < 0 || requestedColors > available || available == 0) {
        return ERR_BAD_COLORS;
    }
    const int colorCount = requestedColors == 0 ? available : requestedColors;
    info.header.width = info.layout.widthField;
    info.header.height = info.layout.heightField;
    info.header.bitsPerPixel = info.layout.bitsPerPixel;
    info.header.colorCount = static_cast<std::int16_t>(colorCount);
    info.header.key = key;
    writeDazHeader(info.header, prefix);
    return readDazPalette(source, info.layout, colorCount, prefix + DAZ_HEADER_SIZE);
}

// Streams the stored pixel area from the source's current position to its
// end. The header and palette, prefixSize bytes, wait at the start of the
// buffer and go out with the first pixels: every later write then starts and
// ends on a CHUNK_SIZE boundary of the daz file, the way a plain copy writes.
ConvertResult copyPixels(FILE* source, PixelSink& sink, std::uint8_t* buffer,
                         std::size_t prefixSize) {
    std::size_t lead = prefixSize;
    for (;; lead = 0) {
        const std::size_t got = std::fread(buffer + lead, 1, CHUNK_SIZE - lead, source);
        if (got == 0 && std::ferror(source) != 0) {
            return ERR_READ;
        }
        if (lead + got == 0) {
            return 0;
        }
        const ConvertResult written = emitChunk(sink, buffer, lead, lead + got);
        if (written < 0 || got == 0) {
            return written;
        }
    }
}

ConvertResult writeDaz(FILE* source, Destination& destination, const SourceInfo& info,
                       std::uint8_t* buffer) {
    const std::size_t prefixSize =
        DAZ_HEADER_SIZE + PALETTE_ENTRY_SIZE * static_cast<std::size_t>(info.header.colorCount);
    if (std::fseek(source, info.layout.pixelOffset, SEEK_SET) != 0) {
        return ERR_READ;
    }
    PixelSink sink;
    initPixelSink(sink, destination.stream, info.header.key, info.header.bitsPerPixel,
                  info.header.colorCount);
    ConvertResult result = 0;
    if (isRle(info.layout)) {
        if (std::fwrite(buffer, 1, prefixSize, destination.stream) != prefixSize) {
            return ERR_WRITE;
        }
        std::array<std::uint8_t, CHUNK_SIZE> input{};
        result = decodeRle(source, info.layout, sink, buffer, input.data());
    } else {
        result = copyPixels(source, sink, buffer, prefixSize);
    }
    if (result < 0) {
        return result;
    }
    if (!closeDestination(destination)) {
        return ERR_WRITE;
    }
    return static_cast<ConvertResult>(sink.undefinedCount);
}

ConvertResult convertOpenSource(const FileOps& ops, FILE* source, const char* sourcePath,
                                const char* destinationPath, int requestedColors,
                                std::uint16_t key) {
    alignas(4096) std::array<std::uint8_t, CHUNK_SIZE> buffer{};
    SourceInfo info;
    const ConvertResult checked = readSource(source, requestedColors, key, info, buffer.data());
    if (checked < 0) {
        return checked;
    }
    Destination destination;
    if (!openDestination(destination, ops, sourcePath, destinationPath)) {
        return ERR_CREATE;
    }
    const ConvertResult result = writeDaz(source, destination, info, buffer.data());
    if (result < 0) {
        discardDestination(destination);
    }
    return result;
}

} // namespace

ConvertResult convertBmpToDaz(const char* source, const char* destination, int requestedColors,
                              std::uint16_t key) {
    return convertBmpToDazWith(stdioFileOps(), source, destination, requestedColors, key);
}

ConvertResult convertBmpToDazWith(const FileOps& ops, const char* source, const char* destination,
                                  int requestedColors, std::uint16_t key) {
    FILE* stream = ops.openSource(source);
    if (stream == nullptr) {
        return ERR_OPEN;
    }
    const ConvertResult result =
        convertOpenSource(ops, stream, source, destination, requestedColors, key);
    static_cast<void>(std::fclose(stream));
    return result;
}
