#include "convert/png/png_export.h"

#include "convert/daz/daz_source.h"
#include "convert/driver.h"
#include "convert/png/png_format.h"
#include "convert/png/png_glue.h"
#include "convert/png/png_indices.h"
#include "output/destination.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>
#include <zlib.h>

namespace orvx {

namespace {

// The header's height bounds the rows to |DAZ_MIN_HEIGHT|, well within a PNG.
static_assert(-DAZ_MIN_HEIGHT <= PNG_UINT_31_MAX);

struct PngOutput {
    std::FILE* stream = nullptr;
};

void writeForPng(png_structp png, png_bytep data, std::size_t size) {
    const PngOutput& out = *static_cast<PngOutput*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, size, out.stream) != size) {
        png_error(png, "short write");
    }
}

void flushForPng(png_structp /*png*/) {} // the destination is flushed when it closes

struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngOutput output;

    PngWriter() = default;
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;
    ~PngWriter() { png_destroy_write_struct(&png, &info); }
};

// How the image data is compressed: as Pillow's PNG writer does for a palette
// image (no filtering, zlib level 6, default strategy, libpng's 32 KiB window),
// with the memLevel picked from the first rows, and cut into IDAT chunks of
// IDAT_BYTES, not libpng's 8 KiB (Pillow: 64 KiB): fewer chunk headers and
// CRCs, through one buffer of that size whatever the image. Filters only cost
// time on indices, which are not samples of anything.
//
// memLevel 8 (libpng's) against 9 (Pillow's): on noise deflate finds next to
// nothing, and 9, with twice the hash chains and blocks twice as long, is both
// faster and smaller there: the deflate data are then Pillow's, byte for byte
// (libpng narrows the window of an image of a few KiB, which changes the zlib
// header only). On the pictures tried (photos, screenshots, gradients) 8 came
// out smaller, and faster on flat ones: its hash table, slid every 32 KiB of
// input, is half the size. Noise is told by how few index bytes repeat the one
// before them. bench/png_compare.py times it; docs/performance-png.md has the
// figures.
constexpr int ZLIB_LEVEL = 6;
constexpr int MEM_LEVEL_FOR_RUNS = 8;
constexpr int MEM_LEVEL_FOR_NOISE = 9;
constexpr std::size_t NOISE_REPEATS_PER = 4; // under one byte in 4 repeating
constexpr std::size_t IDAT_BYTES = std::size_t{1} << 20U;

void chooseCompression(png_structp png) {
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, ZLIB_LEVEL);
    png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
    png_set_compression_buffer_size(png, IDAT_BYTES);
}

// Before the first row: libpng sets deflate up when the image data start.
int memLevelFor(const std::uint8_t* rows, std::size_t count, std::size_t rowSize,
                std::size_t rowBytes) {
    std::size_t repeats = 0;
    for (std::size_t r = 0; r < count; ++r) {
        const std::uint8_t* row = rows + r * rowSize;
        for (std::size_t i = 1; i < rowBytes; ++i) {
            repeats += row[i] == row[i - 1] ? 1U : 0U;
        }
    }
    const std::size_t pairs = count * (rowBytes - 1);
    return repeats * NOISE_REPEATS_PER < pairs ? MEM_LEVEL_FOR_NOISE : MEM_LEVEL_FOR_RUNS;
}

// The calls into libpng, each through withPngJump (png_glue.h). Anything
// libpng reports while writing is a write failure.

int writeFailed() {
    return DAZ_ERR_WRITE;
}

int startPngFile(PngWriter& writer, const DazSource& daz) {
    std::array<png_color, MAX_COLORS_8BPP> palette{};
    const int colors = daz.header.colorCount;
    for (int i = 0; i < colors; ++i) {
        const std::uint8_t* entry = daz.palette + PALETTE_ENTRY_SIZE * static_cast<unsigned>(i);
        palette[static_cast<std::size_t>(i)] = png_color{entry[0], entry[1], entry[2]};
    }
    return withPngJump(writer.png, writeFailed, [&writer, &daz, &palette, colors] {
        png_set_write_fn(writer.png, &writer.output, writeForPng, flushForPng);
        png_set_user_limits(writer.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
        png_set_check_for_invalid_index(writer.png, 0); // every index is kept
        chooseCompression(writer.png);
        png_set_IHDR(writer.png, writer.info, daz.header.width, static_cast<png_uint_32>(daz.rows),
                     daz.header.bitsPerPixel, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_PLTE(writer.png, writer.info, palette.data(), colors);
        png_write_info(writer.png, writer.info);
    });
}

int writePngRow(PngWriter& writer, std::uint8_t* row) {
    return withPngJump(writer.png, writeFailed, [&writer, row] { png_write_row(writer.png, row); });
}

int finishPngFile(PngWriter& writer) {
    return withPngJump(writer.png, writeFailed, [&writer] { png_write_end(writer.png, nullptr); });
}

// The rows top row first, read a block at a time: from the end of the pixel
// area backwards when the daz file stores them bottom-up.
int writeRows(DazSource& daz, PngWriter& writer) {
    const bool topDown = static_cast<std::int16_t>(daz.header.height) < 0;
    const std::size_t rowSize = static_cast<std::size_t>(daz.rowSize);
    const std::size_t pngRowBytes =
        (std::size_t{daz.header.width} * daz.header.bitsPerPixel + 7) / 8;
    const bool halfByte = daz.header.bitsPerPixel == 4 && daz.header.width % 2 != 0;
    const std::uint64_t perBlock = std::max<std::size_t>(1, PNG_BLOCK_BYTES / rowSize);
    std::vector<std::uint8_t> block(static_cast<std::size_t>(perBlock) * rowSize);
    for (std::uint64_t done = 0; done < daz.rows;) {
        const auto count = static_cast<std::size_t>(std::min(perBlock, daz.rows - done));
        const std::uint64_t first = topDown ? done : daz.rows - done - count;
        if (readDazPixels(daz, first * rowSize, count * rowSize, block.data()) < 0) {
            return DAZ_ERR_READ;
        }
        if (done == 0) {
            png_set_compression_mem_level(writer.png,
                                          memLevelFor(block.data(), count, rowSize, pngRowBytes));
        }
        for (std::size_t i = 0; i < count; ++i) {
            std::uint8_t* row = block.data() + (topDown ? i : count - 1 - i) * rowSize;
            if (halfByte) {
                row[pngRowBytes - 1] &= 0xF0U; // a padding nibble, not a pixel
            }
            const int written = writePngRow(writer, row);
            if (written < 0) {
                return written;
            }
        }
        done += count;
    }
    return DAZ_OK;
}

int writePng(DazSource& daz, std::FILE* out) {
    PngWriter writer;
    writer.output.stream = out;
    writer.png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, jumpOnPngError, dropPngWarning);
    writer.info = writer.png != nullptr ? png_create_info_struct(writer.png) : nullptr;
    if (writer.info == nullptr) {
        return DAZ_ERR_WRITE;
    }
    int result = startPngFile(writer, daz);
    if (result == DAZ_OK) {
        result = writeRows(daz, writer);
    }
    if (result == DAZ_OK) {
        result = finishPngFile(writer);
    }
    if (result < 0) {
        return result;
    }
    return DAZ_OK;
}

// Reads the daz file's header and palette and asks check about the PNG,
// whose size is known only once it is written.
int openDaz(std::FILE* source, DazSource& daz, const PlanCheck* check) {
    const int checked = openDazSource(source, daz);
    if (checked < 0) {
        return checked;
    }
    OutputPlan plan;
    plan.width = daz.header.width;
    plan.rows = daz.rows;
    plan.bytes = UNKNOWN_SIZE;
    return checkPlan(check, plan);
}

} // namespace

int openPngExport(std::FILE* source, const PlanCheck* check, ReaderState& state) {
    auto* daz = holdState<DazSource>(state);
    return daz == nullptr ? DAZ_ERR_MEMORY : openDaz(source, *daz, check);
}

int writePngExport(ReaderState& state, std::FILE* out) {
    return writePng(*static_cast<DazSource*>(state.data), out);
}

int convertDazToPng(const char* source, const char* destination, const PlanCheck* check) {
    return convertDazToPngWith(stdioFileOps(), source, destination, check);
}

int convertDazToPngWith(const FileOps& ops, const char* source, const char* destination,
                        const PlanCheck* check) {
    return exportFileFromDaz(ops, source, destination, PNG_READER, check);
}

} // namespace orvx
