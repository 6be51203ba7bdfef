#include "convert/reduce_to_daz.h"

#include "convert/daz_rows.h"
#include "convert/formats.h"
#include "format/daz_format.h"
#include "output/destination.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <unordered_set>

namespace orvx {

namespace {

// The bits a pixel of a palette of entries takes.
unsigned bitsFor(int entries) {
    return entries <= MAX_COLORS_4BPP ? 4 : 8;
}

// The size of the daz file of a width x height image on entries colours.
std::uint64_t dazSize(std::uint64_t width, std::uint64_t height, int entries) {
    return DAZ_HEADER_SIZE + PALETTE_ENTRY_SIZE * static_cast<std::uint64_t>(entries) +
           dazRowSize(width, bitsFor(entries)) * height;
}

// Writes the daz file of indices (width x height, top row first) onto
// palette to out, a row at a time.
int writeDaz(std::FILE* out, std::uint32_t width, std::uint32_t height,
             const quantize::Palette& palette, const std::vector<std::uint8_t>& indices,
             std::uint16_t key) {
    const unsigned bits = bitsFor(palette.entries);
    std::array<std::uint8_t, DAZ_HEADER_SIZE + PALETTE_ENTRY_SIZE * MAX_COLORS_8BPP> prefix{};
    const std::size_t prefixSize =
        DAZ_HEADER_SIZE + PALETTE_ENTRY_SIZE * static_cast<std::size_t>(palette.entries);
    DazHeader header;
    header.width = static_cast<std::uint16_t>(width);
    header.height = static_cast<std::uint16_t>(height);
    header.bitsPerPixel = static_cast<std::uint16_t>(bits);
    header.colorCount = static_cast<std::int16_t>(palette.entries);
    header.key = key;
    writeDazHeader(header, prefix.data());
    std::memcpy(prefix.data() + DAZ_HEADER_SIZE, palette.bytes, prefixSize - DAZ_HEADER_SIZE);
    if (std::fwrite(prefix.data(), 1, prefixSize, out) != prefixSize) {
        return DAZ_ERR_WRITE;
    }
    const auto rowSize = static_cast<std::size_t>(dazRowSize(width, bits));
    std::vector<std::uint8_t> row(rowSize);
    PixelKeystream stream = makeKeystream(key);
    IndexedShape shape;
    shape.width = width;
    shape.bits = static_cast<int>(bits);
    // Rows bottom-up: the image's last row is stored first. Every index is
    // below the entries, so it fits its bits.
    for (std::uint32_t y = height; y-- > 0;) {
        packRow(indices.data() + std::size_t{y} * width, shape, row.data(), rowSize);
        encodePixels(row.data(), row.size(), stream);
        if (std::fwrite(row.data(), 1, row.size(), out) != row.size()) {
            return DAZ_ERR_WRITE;
        }
    }
    return DAZ_OK;
}

// A reduction's say on its reader's plan, before the reader allocates: all
// the reduction will hold (the RGBA, the indices, the quantizer's working
// memory, a row of the file), and an image the daz header can't hold.
struct ReduceBounds {
    const PlanCheck* outer = nullptr;
    bool reduce = true;
    quantize::Dither dither = quantize::Dither::None;
};

std::uint64_t reductionHeld(const ReduceBounds& bounds, std::uint64_t width, std::uint64_t height) {
    const std::uint64_t pixels = width * height;
    return 5 * pixels + sizeof(quantize::Palette) + width +
           quantize::workingBytes(static_cast<std::uint32_t>(width),
                                  static_cast<std::uint32_t>(height), bounds.reduce, bounds.dither);
}

int checkReduction(void* context, const OutputPlan& plan) {
    const auto& bounds = *static_cast<const ReduceBounds*>(context);
    if (plan.width > DAZ_MAX_WIDTH || plan.rows > DAZ_MAX_HEIGHT) {
        return DAZ_ERR_LIMITS;
    }
    OutputPlan whole = plan;
    whole.bytes = UNKNOWN_SIZE;
    whole.held = std::max(plan.held, reductionHeld(bounds, plan.width, plan.rows));
    return checkPlan(bounds.outer, whole);
}

// The image reduced: its size, palette and indices (width x height, top row
// first).
struct Reduced {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::unique_ptr<quantize::Palette> palette = std::make_unique<quantize::Palette>();
    std::vector<std::uint8_t> indices;
};

// An image's colours in order of first appearance, as palette entries:
// false past 256 of them.
bool distinctColours(const RgbaImage& image, std::uint8_t* palette, int& entries) {
    std::unordered_set<std::uint32_t> seen;
    entries = 0;
    const std::size_t pixels = std::size_t{image.width} * image.height;
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t* pixel = image.pixels.data() + 4 * i;
        const std::uint32_t colour =
            std::uint32_t{pixel[0]} << 16U | std::uint32_t{pixel[1]} << 8U | pixel[2];
        if (seen.count(colour) != 0) {
            continue;
        }
        if (entries == MAX_COLORS_8BPP) {
            return false;
        }
        seen.insert(colour);
        std::memcpy(palette + PALETTE_ENTRY_SIZE * static_cast<std::size_t>(entries), pixel, 3);
        ++entries;
    }
    return true;
}

// The image in source, read by the reader its first bytes name (sizeOnly:
// its size alone).
int readRgbaImage(std::FILE* source, const PlanCheck* check, RgbaImage& image,
                  bool sizeOnly = false) {
    int error = DAZ_OK;
    const FormatReader* reader = readerFor(source, error);
    if (reader == nullptr) {
        return error;
    }
    return reader->readRgba(source, check, sizeOnly, image);
}

constexpr std::uint64_t COMMAND_MAX_PIXELS = std::uint64_t{1} << 28U;
constexpr std::uint64_t COMMAND_MAX_BYTES = std::uint64_t{1} << 30U;

int checkCommandPlan(void* /*context*/, const OutputPlan& plan) {
    const std::uint64_t bytes =
        plan.bytes == UNKNOWN_SIZE ? plan.held : std::max(plan.bytes, plan.held);
    const bool within = plan.width <= DAZ_MAX_WIDTH && plan.rows <= DAZ_MAX_ROWS &&
                        plan.width * plan.rows <= COMMAND_MAX_PIXELS && bytes <= COMMAND_MAX_BYTES;
    return within ? DAZ_OK : DAZ_ERR_LIMITS;
}

} // namespace

int readPaletteOf(std::FILE* source, const PlanCheck* check, std::uint8_t* palette, int& entries) {
    RgbaImage image;
    const int error = readRgbaImage(source, check, image);
    if (error != DAZ_OK) {
        return error;
    }
    std::array<std::uint8_t, PALETTE_ENTRY_SIZE * MAX_COLORS_8BPP> found{};
    int count = image.paletteEntries;
    if (count > 0) {
        std::memcpy(found.data(), image.palette.data(),
                    PALETTE_ENTRY_SIZE * static_cast<std::size_t>(count));
    } else if (!distinctColours(image, found.data(), count)) {
        return DAZ_ERR_NO_PALETTE;
    }
    std::memcpy(palette, found.data(), found.size());
    entries = count;
    return DAZ_OK;
}

const PlanCheck& commandBounds() {
    static const PlanCheck check{checkCommandPlan, nullptr};
    return check;
}

namespace {

int reduceImage(std::FILE* source, const ReduceRequest& request, const PlanCheck* check,
                Reduced& reduced) {
    if (request.palette != nullptr) {
        if (request.entries < 1 || request.entries > MAX_COLORS_8BPP) {
            return DAZ_ERR_ARGUMENT;
        }
        std::memcpy(reduced.palette->bytes, request.palette,
                    PALETTE_ENTRY_SIZE * static_cast<std::size_t>(request.entries));
        reduced.palette->entries = request.entries;
    }
    ReduceBounds bounds{check, request.palette == nullptr, request.options.dither};
    const PlanCheck whole{checkReduction, &bounds};
    RgbaImage image;
    int error = readRgbaImage(source, &whole, image);
    if (error != DAZ_OK) {
        return error;
    }
    reduced.width = image.width;
    reduced.height = image.height;
    reduced.indices.resize(std::size_t{image.width} * image.height);
    const quantize::RgbaImage pixels{image.pixels.data(), std::size_t{4} * image.width, image.width,
                                     image.height};
    error = request.palette != nullptr
                ? quantize::mapToPalette(pixels, request.options, *reduced.palette,
                                         reduced.indices.data())
                : quantize::reducePalette(pixels, request.options, *reduced.palette,
                                          reduced.indices.data());
    if (error != DAZ_OK) {
        return error;
    }
    // Once the palette is made, the file's exact size.
    OutputPlan plan;
    plan.width = image.width;
    plan.rows = image.height;
    plan.bytes = dazSize(image.width, image.height, reduced.palette->entries);
    plan.held = reduced.indices.size() + image.width;
    return checkPlan(check, plan);
}

} // namespace

int reducedDazSize(std::FILE* source, const ReduceRequest& request, const PlanCheck* check,
                   std::uint64_t& size) {
    ReduceBounds bounds{check, request.palette == nullptr, request.options.dither};
    const PlanCheck whole{checkReduction, &bounds};
    RgbaImage image;
    const int error = readRgbaImage(source, &whole, image, true);
    if (error != DAZ_OK) {
        return error;
    }
    const int most = request.palette != nullptr ? request.entries : request.options.colors;
    size = dazSize(image.width, image.height, most);
    return DAZ_OK;
}

int reduceStreamToDaz(std::FILE* source, std::FILE* out, const ReduceRequest& request,
                      const PlanCheck* check) {
    Reduced reduced;
    const int error = reduceImage(source, request, check, reduced);
    if (error != DAZ_OK) {
        return error;
    }
    return writeDaz(out, reduced.width, reduced.height, *reduced.palette, reduced.indices,
                    request.key);
}

int reduceFileToDaz(const char* source, const char* destination, const ReduceRequest& request,
                    const PlanCheck* check) {
    return reduceFileToDazWith(stdioFileOps(), source, destination, request, check);
}

int reduceFileToDazWith(const FileOps& ops, const char* source, const char* destination,
                        const ReduceRequest& request, const PlanCheck* check) {
    Reduced reduced;
    const int error = withSource(ops, source, int{DAZ_ERR_OPEN}, [&](std::FILE* stream) {
        return reduceImage(stream, request, check, reduced);
    });
    if (error != DAZ_OK) {
        return error;
    }
    return writeDestination(ops, source, destination, DECODE_OUTPUT_ERRORS,
                            [&](Destination& output) -> int {
                                return writeDaz(output.stream, reduced.width, reduced.height,
                                                *reduced.palette, reduced.indices, request.key);
                            });
}

} // namespace orvx
