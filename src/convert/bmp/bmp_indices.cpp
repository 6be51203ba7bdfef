#include "convert/bmp/bmp_indices.h"

#include "convert/bmp_to_daz.h"

#include "convert/bmp/bmp_format.h"
#include "convert/bmp/bmp_source.h"
#include "convert/bmp/rle_decoder.h"
#include "convert/driver.h"
#include "convert/pixel_sink.h"
#include "format/daz_format.h"
#include "format/daz_image.h"
#include "output/destination.h"
#include "platform/platform.h"

#include <array>
#include <cstring>

namespace orvx {

namespace {

// The page of the page cache that reads and writes line up with. (Not
// PAGE_SIZE: some C libraries define that as a macro.)
constexpr std::size_t CACHE_PAGE_BYTES = 4096;
// The processor's cache line, which the pixel bytes line up with in memory.
constexpr std::size_t CACHE_LINE_BYTES = 64;

// Everything known about the source once its headers and palette are read.
struct SourceInfo {
    BmpLayout layout;
    DazHeader header;
};

// Checks the source and builds the daz header and kept palette in prefix.
// Reads the source only; nothing is written.
ConvertResult readSource(FILE* source, int requestedColors, std::uint16_t key, SourceInfo& info,
                         std::uint8_t* prefix) {
    BmpStart start;
    const ConvertResult read = readBmpStart(source, start);
    if (read < 0) {
        return read;
    }
    const ConvertResult layout = parseBmpLayout(start.bytes.data(), start.size, info.layout);
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
    return parseDazPalette(start.bytes.data(), start.size, info.layout, colorCount,
                           prefix + DAZ_HEADER_SIZE);
}

// What the daz file will be: |height| rows of the bitmap's width, and the
// header, the kept palette and, run-length decoded, every row, or, stored
// plain, the bitmap's bytes from its pixels to its end. The source is left
// wherever the measure took it.
OutputPlan planOf(FILE* source, const SourceInfo& info) {
    OutputPlan plan;
    plan.width = info.header.width;
    plan.rows = dazHeightRows(info.header);
    const std::uint64_t prefixSize =
        DAZ_HEADER_SIZE + PALETTE_ENTRY_SIZE * static_cast<std::uint64_t>(info.header.colorCount);
    if (isRle(info.layout)) {
        plan.bytes = prefixSize + plan.rows * info.layout.rowSize;
    } else {
        const std::int64_t end = fileSize(source);
        const auto pixelOffset = static_cast<std::uint64_t>(info.layout.pixelOffset);
        const std::uint64_t size = end < 0 ? 0 : static_cast<std::uint64_t>(end);
        plan.bytes =
            end < 0 ? UNKNOWN_SIZE : prefixSize + (size > pixelOffset ? size - pixelOffset : 0);
    }
    return plan;
}

// Streams the stored pixel area from the source's position, pixelOffset, to
// its end. As in a plain copy, every read after the first starts on a page of
// the bitmap and every write after the first on a page of the daz file; a
// read or write across a page boundary costs the page cache a page more. The
// two files are out of step by less than a page (the header and palette
// against the bitmap's headers), so the bytes past the last whole page of a
// write wait at the front of the buffer for the next one. So do the header
// and palette, prefixSize bytes, for the first.
//
// buffer is where the daz file's page starts in memory. The caller places it
// so that each pixel byte sits where it sat in the bitmap's page, within a
// cache line: see pixelSkew.
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

// How far past a cache line the daz file's pages start in the buffer, so
// that every read after the first fills whole cache lines and the kernel's
// vectors don't straddle two. On an AMD EPYC (family 26), with the pixel
// bytes 48 bytes into their lines (8-bit, 200 colours), the kernel took 8
// to 15% longer within a conversion; on a chunk already in L1, the avx512
// variant took half as long again.
std::size_t pixelSkew(std::uint64_t pixelOffset, std::size_t prefixSize) {
    return static_cast<std::size_t>(
        (pixelOffset + CACHE_LINE_BYTES - prefixSize % CACHE_LINE_BYTES) % CACHE_LINE_BYTES);
}

ConvertResult writeDaz(FILE* source, FILE* out, const SourceInfo& info, std::uint8_t* buffer) {
    const std::size_t prefixSize =
        DAZ_HEADER_SIZE + PALETTE_ENTRY_SIZE * static_cast<std::size_t>(info.header.colorCount);
    if (seekFile(source, info.layout.pixelOffset) != 0) {
        return ERR_READ;
    }
    PixelSink sink;
    initPixelSink(sink, out, info.header.key, info.header.bitsPerPixel, info.header.colorCount);
    ConvertResult result = 0;
    if (isRle(info.layout)) {
        if (std::fwrite(buffer, 1, prefixSize, out) != prefixSize) {
            return ERR_WRITE;
        }
        std::array<std::uint8_t, CHUNK_SIZE> input{};
        result = decodeRle(source, info.layout, sink, buffer, input.data());
    } else {
        const auto pixelOffset = static_cast<std::uint64_t>(info.layout.pixelOffset);
        const std::size_t skew = pixelSkew(pixelOffset, prefixSize);
        std::memmove(buffer + skew, buffer, prefixSize);
        result = copyPixels(source, pixelOffset, sink, buffer + skew, prefixSize);
    }
    if (result < 0) {
        return result;
    }
    return static_cast<ConvertResult>(sink.undefinedCount);
}

// A chunk, the part of a page that waits for the next write, and the skew
// that lines the pixels up.
struct alignas(CACHE_PAGE_BYTES) ConvertBuffer {
    std::array<std::uint8_t, CHUNK_SIZE + CACHE_PAGE_BYTES + CACHE_LINE_BYTES> bytes{};
};

// What the write needs once the headers are read.
struct BmpIndices {
    ConvertBuffer buffer; // first: its alignment
    std::FILE* source = nullptr;
    SourceInfo info;
};

} // namespace

int openBmpIndices(std::FILE* source, const IndexRequest& request, const PlanCheck* check,
                   ReaderState& state) {
    auto* bmp = holdState<BmpIndices>(state);
    if (bmp == nullptr) {
        return DAZ_ERR_MEMORY;
    }
    bmp->source = source;
    const ConvertResult checked =
        readSource(source, request.colors, request.key, bmp->info, bmp->buffer.bytes.data());
    if (checked < 0) {
        return dazErrorOf(checked, BMP_INPUT_ERRORS);
    }
    return checkPlan(check, planOf(source, bmp->info));
}

int writeBmpIndices(ReaderState& state, const DazOutput& out, std::uint64_t* undefined) {
    auto& bmp = *static_cast<BmpIndices*>(state.data);
    const ConvertResult result =
        writeDaz(bmp.source, out.stream, bmp.info, bmp.buffer.bytes.data());
    if (result >= 0 && undefined != nullptr) {
        *undefined = static_cast<std::uint64_t>(result);
    }
    return dazErrorOf(result, BMP_INPUT_ERRORS);
}

} // namespace orvx
