#include "convert/pgm/pgm_indices.h"

#include "convert/pgm/pgm_header.h"
#include "convert/pixel_sink.h"
#include "format/daz_format.h"
#include "output/destination.h"
#include "platform/platform.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace orvx {

namespace {

// Rows move in blocks of at most this many bytes, and at least one row: a
// daz row of the widest image is 65536 bytes.
constexpr std::size_t BLOCK_BYTES = 65536;

struct PgmSource {
    std::FILE* file = nullptr;
    PgmHeader pgm;
    std::uint16_t key = 0;
    int colorCount = 0;
    std::size_t rowSize = 0; // a daz row, padded to 4 bytes
    std::size_t prefixSize = 0;
    std::array<std::uint8_t, DAZ_MAX_PREFIX_SIZE> prefix{};
};

// Entry i of maxval + 1 greys from black to white: round(i * 255 / maxval).
std::uint8_t greyOf(std::uint32_t index, std::uint32_t maxval) {
    return static_cast<std::uint8_t>((index * 2 * 255 + maxval) / (2 * maxval));
}

// Reads and checks the header, builds the daz prefix, asks check, then makes
// sure the raster is all there, before anything is written.
int readSource(std::FILE* file, int requestedColors, std::uint16_t key, const PlanCheck* check,
               PgmSource& source) {
    const ConvertResult read = readPgmHeader(file, source.pgm);
    if (read < 0) {
        return dazErrorOf(read, PGM_INPUT_ERRORS);
    }
    const PgmHeader& pgm = source.pgm;
    const auto entries = static_cast<int>(pgm.maxval + 1);
    if (requestedColors < 0 || requestedColors > entries) {
        return DAZ_ERR_COLORS;
    }
    source.key = key;
    source.colorCount = requestedColors == 0 ? entries : requestedColors;
    DazHeader header;
    header.width = static_cast<std::uint16_t>(pgm.width);
    header.height = static_cast<std::uint16_t>(pgm.height);
    header.bitsPerPixel = 8;
    header.colorCount = static_cast<std::int16_t>(source.colorCount);
    header.key = key;
    writeDazHeader(header, source.prefix.data());
    for (int i = 0; i < source.colorCount; ++i) {
        const std::uint8_t grey = greyOf(static_cast<std::uint32_t>(i), pgm.maxval);
        storePaletteEntry(PaletteEntry{grey, grey, grey, 0},
                          source.prefix.data() + DAZ_HEADER_SIZE +
                              PALETTE_ENTRY_SIZE * static_cast<std::size_t>(i));
    }
    source.rowSize = static_cast<std::size_t>(dazRowSize(pgm.width, 8));
    source.prefixSize =
        DAZ_HEADER_SIZE + PALETTE_ENTRY_SIZE * static_cast<std::size_t>(source.colorCount);
    OutputPlan plan;
    plan.width = pgm.width;
    plan.rows = pgm.height;
    plan.bytes = source.prefixSize + std::uint64_t{source.rowSize} * pgm.height;
    const int taken = checkPlan(check, plan);
    if (taken != DAZ_OK) {
        return taken;
    }
    const std::int64_t end = fileSize(file);
    const std::uint64_t raster = std::uint64_t{pgm.width} * pgm.height;
    if (end < 0 || static_cast<std::uint64_t>(end) < pgm.rasterOffset + raster) {
        return DAZ_ERR_READ;
    }
    return DAZ_OK;
}

struct Blocks {
    std::array<std::uint8_t, BLOCK_BYTES> in{};  // rows as the PGM has them
    std::array<std::uint8_t, BLOCK_BYTES> out{}; // the same rows as the daz file stores them
};

// The prefix, then the rows from the bottom up: each block of rows read from
// the raster in one piece, turned over, padded, encoded and written.
ConvertResult writeDaz(std::FILE* file, std::FILE* out, const PgmSource& source) {
    if (std::fwrite(source.prefix.data(), 1, source.prefixSize, out) != source.prefixSize) {
        return ERR_WRITE;
    }
    PixelSink sink;
    initPixelSink(sink, out, source.key, 8, source.colorCount);
    auto blocks = std::make_unique<Blocks>();
    const std::size_t width = source.pgm.width;
    const std::size_t perBlock = std::max<std::size_t>(1, BLOCK_BYTES / source.rowSize);
    for (std::size_t below = source.pgm.height; below > 0;) {
        const std::size_t rows = std::min(perBlock, below);
        below -= rows;
        const std::size_t bytes = rows * width;
        const std::uint64_t at = source.pgm.rasterOffset + std::uint64_t{below} * width;
        if (seekFile(file, static_cast<std::int64_t>(at)) != 0 ||
            std::fread(blocks->in.data(), 1, bytes, file) != bytes) {
            return ERR_READ;
        }
        for (std::size_t r = 0; r < rows; ++r) {
            std::uint8_t* row = blocks->out.data() + r * source.rowSize;
            std::memcpy(row, blocks->in.data() + (rows - 1 - r) * width, width);
            std::memset(row + width, 0, source.rowSize - width);
        }
        if (emitChunk(sink, blocks->out.data(), 0, rows * source.rowSize) < 0) {
            return ERR_WRITE;
        }
    }
    return static_cast<ConvertResult>(sink.undefinedCount);
}

} // namespace

int openPgmIndices(std::FILE* source, const IndexRequest& request, const PlanCheck* check,
                   ReaderState& state) {
    auto* pgm = holdState<PgmSource>(state);
    if (pgm == nullptr) {
        return DAZ_ERR_MEMORY;
    }
    pgm->file = source;
    return readSource(source, request.colors, request.key, check, *pgm);
}

int writePgmIndices(ReaderState& state, const DazOutput& out, std::uint64_t* undefined) {
    const auto& pgm = *static_cast<PgmSource*>(state.data);
    const ConvertResult result = writeDaz(pgm.file, out.stream, pgm);
    if (result >= 0 && undefined != nullptr) {
        *undefined = static_cast<std::uint64_t>(result);
    }
    return result >= 0 ? DAZ_OK : dazErrorOf(result, PGM_INPUT_ERRORS);
}

} // namespace orvx
