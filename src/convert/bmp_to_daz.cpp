#include "convert/bmp_to_daz.h"

#include "convert/bmp_source.h"
#include "convert/destination.h"
#include "convert/pixel_sink.h"
#include "convert/platform.h"
#include "convert/rle_decoder.h"
#include "format/daz_format.h"

#include <array>
#include <cstring>

namespace {

// The page of the page cache that reads and writes line up with. (Not
// PAGE_SIZE: some C libraries define that as a macro.)
constexpr std::size_t CACHE_PAGE_BYTES = 4096;

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

// Streams the stored pixel area from the source's position, pixelOffset, to
// its end. As in a plain copy, every read after the first starts on a page of
// the bitmap and every write after the first on a page of the daz file; a
// read or write across a page boundary costs the page cache a page more. The
// two files are out of step by less than a page (the header and palette
// against the bitmap's headers), so the bytes past the last whole page of a
// write wait at the front of the buffer for the next one. So do the header
// and palette, prefixSize bytes, for the first.
ConvertResult copyPixels(FILE* source, std::uint64_t pixelOffset, PixelSink& sink,
                         std::uint8_t* buffer, std::size_t prefixSize) {
    std::size_t held = prefixSize; // buffer[0, held) is not written yet
    std::uint64_t readAt = pixelOffset;
    for (;;) {
        const std::size_t want = CHUNK_SIZE - static_cast<std::size_t>(readAt % CACHE_PAGE_BYTES);
        const std::size_t got = std::fread(buffer + held, 1, want, source);
        if (std::ferror(source) != 0) {
            return ERR_READ;
        }
        encodeChunk(sink, buffer + held, got);
        held += got;
        readAt += got;
        const bool end = got < want;
        const std::size_t out = end ? held : held - held % CACHE_PAGE_BYTES;
        if (std::fwrite(buffer, 1, out, sink.destination) != out) {
            return ERR_WRITE;
        }
        if (end) {
            return 0;
        }
        std::memmove(buffer, buffer + out, held - out);
        held -= out;
    }
}

ConvertResult writeDaz(FILE* source, Destination& destination, const SourceInfo& info,
                       std::uint8_t* buffer) {
    const std::size_t prefixSize =
        DAZ_HEADER_SIZE + PALETTE_ENTRY_SIZE * static_cast<std::size_t>(info.header.colorCount);
    if (seekFile(source, info.layout.pixelOffset) != 0) {
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
        result = copyPixels(source, static_cast<std::uint64_t>(info.layout.pixelOffset), sink,
                            buffer, prefixSize);
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
    // A chunk, and the part of a page that waits for the next write.
    alignas(CACHE_PAGE_BYTES) std::array<std::uint8_t, CHUNK_SIZE + CACHE_PAGE_BYTES> buffer{};
    SourceInfo info;
    const ConvertResult checked = readSource(source, requestedColors, key, info, buffer.data());
    if (checked < 0) {
        return checked;
    }
    return writeDestination(ops, sourcePath, destinationPath, ERR_CREATE,
                            [&](Destination& destination) {
                                return writeDaz(source, destination, info, buffer.data());
                            });
}

} // namespace

ConvertResult convertBmpToDaz(const char* source, const char* destination, int requestedColors,
                              std::uint16_t key) {
    return convertBmpToDazWith(stdioFileOps(), source, destination, requestedColors, key);
}

ConvertResult convertBmpToDazWith(const FileOps& ops, const char* source, const char* destination,
                                  int requestedColors, std::uint16_t key) {
    return withSource(ops, source, ERR_OPEN, [&](FILE* stream) {
        return convertOpenSource(ops, stream, source, destination, requestedColors, key);
    });
}
