#include "convert/png/png_indices.h"

#include "convert/driver.h"
#include "convert/pixel_sink.h"
#include "convert/png/png_format.h"
#include "convert/png/png_glue.h"
#include "format/byte_order.h"
#include "format/daz_format.h"
#include "output/destination.h"
#include "platform/platform.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace orvx {

namespace {

constexpr std::size_t SIGNATURE_SIZE = 8;
constexpr std::size_t CHUNK_HEADER_SIZE = 8; // length, type
constexpr std::size_t CHUNK_CRC_SIZE = 4;
constexpr std::size_t IHDR_DATA_SIZE = 13;
constexpr std::size_t IHDR_END = SIGNATURE_SIZE + CHUNK_HEADER_SIZE + IHDR_DATA_SIZE;
constexpr int PALETTE_COLOUR_TYPE = 3;
constexpr std::size_t PLTE_ENTRY_SIZE = 3;

// The bytes libpng reads, and what they held on the way past.
struct PngInput {
    std::FILE* file = nullptr;
    // Signature and IHDR, read and checked before libpng starts; handed to it
    // first.
    std::array<std::uint8_t, IHDR_END> ahead{};
    std::size_t aheadSize = 0;
    std::size_t aheadUsed = 0;
    bool cut = false; // the file ended, or a read failed, before libpng had enough
    // Chunk boundaries, followed byte by byte: libpng quietly drops PLTE
    // entries past what the bit depth allows, so the PLTE's true length is
    // taken here; and it only warns of an IDAT after a chunk that follows the
    // image data, so that is caught here too.
    std::array<std::uint8_t, CHUNK_HEADER_SIZE> chunkHeader{};
    std::size_t headerFill = 0;
    std::uint64_t skip = SIGNATURE_SIZE;
    std::uint64_t plteLength = 0;
    bool imageDataSeen = false;
    bool pastImageData = false;  // a chunk other than IDAT came after the image data
    bool imageDataAgain = false; // then an IDAT
};

void followChunks(PngInput& in, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        if (in.skip > 0) {
            const auto step = static_cast<std::size_t>(std::min<std::uint64_t>(in.skip, size));
            in.skip -= step;
            data += step;
            size -= step;
            continue;
        }
        in.chunkHeader[in.headerFill++] = *data++;
        --size;
        if (in.headerFill == CHUNK_HEADER_SIZE) {
            const std::uint32_t length = loadU32BigEndian(in.chunkHeader.data());
            const std::uint8_t* type = in.chunkHeader.data() + 4;
            if (std::memcmp(type, "PLTE", 4) == 0) {
                in.plteLength = length;
            }
            if (std::memcmp(type, "IDAT", 4) == 0) {
                in.imageDataAgain = in.imageDataAgain || in.pastImageData;
                in.imageDataSeen = true;
            } else {
                in.pastImageData = in.imageDataSeen;
            }
            in.skip = std::uint64_t{length} + CHUNK_CRC_SIZE;
            in.headerFill = 0;
        }
    }
}

void readForPng(png_structp png, png_bytep out, std::size_t size) {
    PngInput& in = *static_cast<PngInput*>(png_get_io_ptr(png));
    std::size_t done = std::min(size, in.aheadSize - in.aheadUsed);
    std::memcpy(out, in.ahead.data() + in.aheadUsed, done);
    in.aheadUsed += done;
    if (done < size) {
        done += std::fread(out + done, 1, size - done, in.file);
    }
    followChunks(in, out, done);
    if (done < size) {
        in.cut = true;
        png_error(png, "cut short");
    }
    if (in.imageDataAgain) {
        png_error(png, "IDAT after the image data");
    }
}

struct PngImage {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngInput input;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bitDepth = 0;
    bool interlaced = false;

    PngImage() = default;
    PngImage(const PngImage&) = delete;
    PngImage& operator=(const PngImage&) = delete;
    ~PngImage() { png_destroy_read_struct(&png, &info, nullptr); }
};

ConvertResult pngFailure(const PngImage& image) {
    return image.input.cut ? ERR_READ : ERR_NOT_BMP;
}

// The signature and the IHDR, before libpng sees the file: a wrong colour
// type is refused before anything else of the file is trusted.
ConvertResult readPngHeader(PngImage& image) {
    PngInput& in = image.input;
    in.aheadSize = std::fread(in.ahead.data(), 1, in.ahead.size(), in.file);
    if (std::ferror(in.file) != 0 || in.aheadSize == 0) {
        return ERR_READ;
    }
    const std::uint8_t* ihdr = in.ahead.data() + SIGNATURE_SIZE;
    if (png_sig_cmp(in.ahead.data(), 0, std::min(in.aheadSize, SIGNATURE_SIZE)) != 0 ||
        (in.aheadSize >= SIGNATURE_SIZE + CHUNK_HEADER_SIZE &&
         (loadU32BigEndian(ihdr) != IHDR_DATA_SIZE || std::memcmp(ihdr + 4, "IHDR", 4) != 0))) {
        return ERR_NOT_BMP;
    }
    if (in.aheadSize < IHDR_END) {
        return ERR_READ;
    }
    const std::uint8_t* fields = ihdr + CHUNK_HEADER_SIZE;
    image.width = loadU32BigEndian(fields);
    image.height = loadU32BigEndian(fields + 4);
    image.bitDepth = fields[8];
    image.interlaced = fields[12] != 0;
    if (fields[9] != PALETTE_COLOUR_TYPE) {
        return ERR_BAD_DEPTH;
    }
    const int depth = image.bitDepth;
    if ((depth != 1 && depth != 2 && depth != 4 && depth != 8) || image.width == 0 ||
        image.width > DAZ_MAX_WIDTH || image.height == 0 || image.height > DAZ_MAX_HEIGHT) {
        return ERR_NOT_BMP;
    }
    return 0;
}

// The calls into libpng, each through withPngJump (png_glue.h).

ConvertResult startPng(PngImage& image) {
    return withPngJump(
        image.png, [&image] { return pngFailure(image); },
        [&image] {
            png_set_read_fn(image.png, &image.input, readForPng);
            // Every ancillary chunk, tRNS too, is read past without being kept.
            png_set_keep_unknown_chunks(image.png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
            // Indices past the PLTE are kept as they are, and counted.
            png_set_check_for_invalid_index(image.png, 0);
            png_read_info(image.png, image.info);
            if (image.interlaced) {
                static_cast<void>(png_set_interlace_handling(image.png));
            }
            png_read_update_info(image.png, image.info);
        });
}

ConvertResult readPngRow(PngImage& image, std::uint8_t* row) {
    return withPngJump(
        image.png, [&image] { return pngFailure(image); },
        [&image, row] { png_read_row(image.png, row, nullptr); });
}

ConvertResult readPngImage(PngImage& image, png_bytepp rows) {
    return withPngJump(
        image.png, [&image] { return pngFailure(image); },
        [&image, rows] { png_read_image(image.png, rows); });
}

// Reads the chunks after the image data, up to IEND. Given the image's info
// (with none it would only check their CRCs), libpng refuses a critical chunk
// there: IHDR, a second PLTE, or one it doesn't know. A file that ends first
// is cut short.
ConvertResult finishPng(PngImage& image) {
    return withPngJump(
        image.png, [&image] { return pngFailure(image); },
        [&image] { png_read_end(image.png, image.info); });
}

// Where the rows go: the daz file's layout of the image.
struct DazShape {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int pngDepth = 0;
    int bitsPerPixel = 0; // the daz file's: 4 or 8
    int colorCount = 0;
    std::size_t rowSize = 0; // a daz row, padded to 4 bytes
    std::size_t prefixSize = 0;
};

// One PNG row of indices as the daz row stores it: 8-bit indices as they are,
// 1-, 2- and 4-bit ones as nibbles, then zeros to the end of the row.
void widenRow(const std::uint8_t* in, const DazShape& shape, std::uint8_t* out) {
    std::memset(out, 0, shape.rowSize);
    if (shape.pngDepth == 8) {
        std::memcpy(out, in, shape.width);
        return;
    }
    if (shape.pngDepth == 4) {
        std::memcpy(out, in, (shape.width + 1) / 2);
        if (shape.width % 2 != 0) {
            out[shape.width / 2] &= 0xF0U; // the unused nibble may hold anything
        }
        return;
    }
    const auto depth = static_cast<unsigned>(shape.pngDepth);
    const unsigned mask = (1U << depth) - 1;
    for (std::uint32_t x = 0; x < shape.width; ++x) {
        const std::uint32_t bit = x * depth;
        const unsigned index = (in[bit / 8] >> (8 - depth - bit % 8)) & mask;
        out[x / 2] = static_cast<std::uint8_t>(out[x / 2] | (x % 2 == 0 ? index << 4U : index));
    }
}

std::size_t rowsPerBlock(const DazShape& shape) {
    return std::max<std::size_t>(1, PNG_BLOCK_BYTES / shape.rowSize);
}

// Rows as they arrive, top-down, each encoded for the place it takes in the
// daz file, bottom-up; a block of rows goes out once its lowest one is in.
ConvertResult writeInPlace(PngImage& image, const DazShape& shape, PixelSink& sink,
                           std::FILE* out) {
    const std::size_t perBlock = rowsPerBlock(shape);
    std::vector<std::uint8_t> block(perBlock * shape.rowSize);
    std::vector<std::uint8_t> row(png_get_rowbytes(image.png, image.info));
    for (std::uint32_t r = 0; r < shape.height; ++r) {
        const ConvertResult read = readPngRow(image, row.data());
        if (read < 0) {
            return read;
        }
        const std::uint32_t first = r - r % static_cast<std::uint32_t>(perBlock);
        const std::uint32_t last =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(first + perBlock, shape.height)) - 1;
        std::uint8_t* slot = block.data() + std::size_t{last - r} * shape.rowSize;
        widenRow(row.data(), shape, slot);
        encodeAt(sink, std::uint64_t{shape.height - 1 - r} * shape.rowSize, slot, shape.rowSize);
        if (r == last) {
            const std::size_t bytes = std::size_t{last - first + 1} * shape.rowSize;
            const std::uint64_t at =
                shape.prefixSize + std::uint64_t{shape.height - 1 - last} * shape.rowSize;
            if (seekFile(out, static_cast<std::int64_t>(at)) != 0 ||
                std::fwrite(block.data(), 1, bytes, out) != bytes) {
                return ERR_WRITE;
            }
        }
    }
    return 0;
}

// The whole image first (interlaced rows come in passes; a FIFO can't be
// written out of order), then the rows in daz order, block by block.
ConvertResult writeHeld(PngImage& image, const DazShape& shape, PixelSink& sink, std::FILE* out) {
    const std::size_t pngRowBytes = png_get_rowbytes(image.png, image.info);
    std::vector<std::uint8_t> pixels(pngRowBytes * shape.height);
    std::vector<png_bytep> rows(shape.height);
    for (std::uint32_t r = 0; r < shape.height; ++r) {
        rows[r] = pixels.data() + std::size_t{r} * pngRowBytes;
    }
    const ConvertResult read = readPngImage(image, rows.data());
    if (read < 0) {
        return read;
    }
    const std::size_t perBlock = rowsPerBlock(shape);
    std::vector<std::uint8_t> block(perBlock * shape.rowSize);
    std::size_t filled = 0;
    for (std::uint32_t stored = 0; stored < shape.height; ++stored) {
        std::uint8_t* slot = block.data() + filled;
        widenRow(rows[shape.height - 1 - stored], shape, slot);
        encodeAt(sink, std::uint64_t{stored} * shape.rowSize, slot, shape.rowSize);
        filled += shape.rowSize;
        if (filled == block.size() || stored + 1 == shape.height) {
            if (std::fwrite(block.data(), 1, filled, out) != filled) {
                return ERR_WRITE;
            }
            filled = 0;
        }
    }
    return 0;
}

// The header and palette the canonical bitmap would give, into prefix.
ConvertResult buildPrefix(const PngImage& image, int requestedColors, std::uint16_t key,
                          DazShape& shape, std::uint8_t* prefix) {
    png_colorp palette = nullptr;
    int entries = 0;
    if (png_get_PLTE(image.png, image.info, &palette, &entries) == 0 || entries < 1 ||
        image.input.plteLength > PLTE_ENTRY_SIZE << static_cast<unsigned>(image.bitDepth)) {
        return ERR_NOT_BMP;
    }
    if (requestedColors < 0 || requestedColors > entries) {
        return ERR_BAD_COLORS;
    }
    const int colorCount = requestedColors == 0 ? entries : requestedColors;
    DazHeader header;
    header.width = static_cast<std::uint16_t>(image.width);
    header.height = static_cast<std::uint16_t>(image.height);
    header.bitsPerPixel = image.bitDepth == 8 ? 8 : 4;
    header.colorCount = static_cast<std::int16_t>(colorCount);
    header.key = key;
    writeDazHeader(header, prefix);
    for (int i = 0; i < colorCount; ++i) {
        const png_color& colour = palette[i];
        storePaletteEntry(PaletteEntry{colour.red, colour.green, colour.blue, 0},
                          prefix + DAZ_HEADER_SIZE + PALETTE_ENTRY_SIZE * static_cast<unsigned>(i));
    }
    shape.width = image.width;
    shape.height = image.height;
    shape.pngDepth = image.bitDepth;
    shape.bitsPerPixel = header.bitsPerPixel;
    shape.colorCount = colorCount;
    shape.rowSize = static_cast<std::size_t>(dazRowSize(image.width, header.bitsPerPixel));
    shape.prefixSize = DAZ_HEADER_SIZE + PALETTE_ENTRY_SIZE * static_cast<unsigned>(colorCount);
    return 0;
}

// hold: the image is read whole before it is written, as out can't seek.
ConvertResult writeDaz(PngImage& image, const DazShape& shape, const std::uint8_t* prefix,
                       std::FILE* out, bool hold, std::uint16_t key) {
    if (std::fwrite(prefix, 1, shape.prefixSize, out) != shape.prefixSize) {
        return ERR_WRITE;
    }
    auto sink = std::make_unique<PixelSink>();
    initPixelSink(*sink, out, key, shape.bitsPerPixel, shape.colorCount);
    ConvertResult result = hold || image.interlaced ? writeHeld(image, shape, *sink, out)
                                                    : writeInPlace(image, shape, *sink, out);
    if (result == 0) {
        result = finishPng(image);
    }
    if (result < 0) {
        return result;
    }
    return static_cast<ConvertResult>(sink->undefinedCount);
}

// Everything known once the PNG's header and palette are read.
struct PngSource {
    PngImage image;
    std::array<std::uint8_t, DAZ_MAX_PREFIX_SIZE> prefix{};
    DazShape shape;
    std::uint64_t held = 0; // bytes of the image held whole
    std::uint16_t key = 0;
};

// Reads and checks the PNG up to its image data and builds the daz prefix;
// then the plan goes to check.
int readPngSource(std::FILE* file, int requestedColors, std::uint16_t key, const PlanCheck* check,
                  PngSource& source) {
    PngImage& image = source.image;
    image.input.file = file;
    ConvertResult checked = readPngHeader(image);
    if (checked < 0) {
        return dazErrorOf(checked, PNG_INPUT_ERRORS);
    }
    image.png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, jumpOnPngError, dropPngWarning);
    image.info = image.png != nullptr ? png_create_info_struct(image.png) : nullptr;
    if (image.info == nullptr) {
        return DAZ_ERR_READ;
    }
    checked = startPng(image);
    if (checked >= 0) {
        checked = buildPrefix(image, requestedColors, key, source.shape, source.prefix.data());
    }
    if (checked < 0) {
        return dazErrorOf(checked, PNG_INPUT_ERRORS);
    }
    source.key = key;
    source.held = std::uint64_t{png_get_rowbytes(image.png, image.info)} * source.shape.height;
    if (image.interlaced && source.held > MAX_HELD_PNG_BYTES) {
        return DAZ_ERR_TOO_BIG_TO_HOLD;
    }
    OutputPlan plan;
    plan.width = source.shape.width;
    plan.rows = source.shape.height;
    plan.bytes =
        source.shape.prefixSize + std::uint64_t{source.shape.rowSize} * source.shape.height;
    plan.held = image.interlaced ? source.held : 0;
    return checkPlan(check, plan);
}

} // namespace

int openPngIndices(std::FILE* source, const IndexRequest& request, const PlanCheck* check,
                   ReaderState& state) {
    auto* png = holdState<PngSource>(state);
    if (png == nullptr) {
        return DAZ_ERR_MEMORY;
    }
    return readPngSource(source, request.colors, request.key, check, *png);
}

// Writes the daz file to out, holding the image whole when out can't seek.
int writePngIndices(ReaderState& state, const DazOutput& out, std::uint64_t* undefined) {
    auto& source = *static_cast<PngSource*>(state.data);
    if (!out.seekable && source.held > MAX_HELD_PNG_BYTES) {
        return DAZ_ERR_TOO_BIG_TO_HOLD; // a device or FIFO past what may be held
    }
    const ConvertResult result = writeDaz(source.image, source.shape, source.prefix.data(),
                                          out.stream, !out.seekable, source.key);
    if (result >= 0 && undefined != nullptr) {
        *undefined = static_cast<std::uint64_t>(result);
    }
    return dazErrorOf(result, PNG_INPUT_ERRORS);
}

int convertPngToDaz(const char* source, const char* destination, int requestedColors,
                    std::uint16_t key, std::uint64_t* undefined) {
    return convertPngToDazWith(stdioFileOps(), source, destination, requestedColors, key,
                               undefined);
}

int convertPngToDazWith(const FileOps& ops, const char* source, const char* destination,
                        int requestedColors, std::uint16_t key, std::uint64_t* undefined) {
    return convertFileToDaz(
        ops, source, destination, [](std::FILE*, int&) { return &PNG_READER; },
        IndexRequest{requestedColors, key}, nullptr, undefined);
}

} // namespace orvx
