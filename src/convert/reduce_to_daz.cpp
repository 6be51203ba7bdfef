#include "convert/reduce_to_daz.h"

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

// The daz file of indices (width x height, top row first) onto palette.
void encodeDaz(const RgbaImage& image, const quantize::Palette& palette,
               const std::vector<std::uint8_t>& indices, std::uint16_t key,
               std::vector<std::uint8_t>& daz) {
    const int bits = palette.entries <= MAX_COLORS_4BPP ? 4 : 8;
    const auto rowSize =
        static_cast<std::size_t>(dazRowSize(image.width, static_cast<unsigned>(bits)));
    const std::size_t prefixSize =
        DAZ_HEADER_SIZE + PALETTE_ENTRY_SIZE * static_cast<std::size_t>(palette.entries);
    daz.assign(prefixSize + rowSize * image.height, 0);
    DazHeader header;
    header.width = static_cast<std::uint16_t>(image.width);
    header.height = static_cast<std::uint16_t>(image.height);
    header.bitsPerPixel = static_cast<std::uint16_t>(bits);
    header.colorCount = static_cast<std::int16_t>(palette.entries);
    header.key = key;
    writeDazHeader(header, daz.data());
    std::memcpy(daz.data() + DAZ_HEADER_SIZE, palette.bytes, prefixSize - DAZ_HEADER_SIZE);
    // Rows bottom-up: the image's last row is stored first.
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* in = indices.data() + std::size_t{y} * image.width;
        std::uint8_t* out = daz.data() + prefixSize + std::size_t{image.height - 1 - y} * rowSize;
        if (bits == 8) {
            std::memcpy(out, in, image.width);
            continue;
        }
        for (std::uint32_t x = 0; x < image.width; ++x) {
            out[x / 2] = static_cast<std::uint8_t>(
                out[x / 2] | (x % 2 == 0 ? unsigned{in[x]} << 4U : in[x] & 0x0FU));
        }
    }
    PixelKeystream stream = makeKeystream(key);
    encodePixels(daz.data() + prefixSize, daz.size() - prefixSize, stream);
}

// What the daz file of this image will take, and all that is held to make
// it: the RGBA, the indices and the file.
OutputPlan planOf(const RgbaImage& image, int entries) {
    const unsigned bits = entries <= MAX_COLORS_4BPP ? 4 : 8;
    OutputPlan plan;
    plan.width = image.width;
    plan.rows = image.height;
    plan.bytes = DAZ_HEADER_SIZE + PALETTE_ENTRY_SIZE * static_cast<std::uint64_t>(entries) +
                 dazRowSize(image.width, bits) * image.height;
    plan.held = std::uint64_t{5} * image.width * image.height + plan.bytes;
    return plan;
}

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

// The image in source, read by the reader its first bytes name.
int readRgbaImage(std::FILE* source, const PlanCheck* check, RgbaImage& image) {
    int error = DAZ_OK;
    const FormatReader* reader = readerFor(source, error);
    if (reader == nullptr) {
        return error;
    }
    return reader->readRgba(source, check, false, image);
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

int reduceToDaz(std::FILE* source, const ReduceRequest& request, const PlanCheck* check,
                std::vector<std::uint8_t>& daz) {
    RgbaImage image;
    int error = readRgbaImage(source, check, image);
    if (error != DAZ_OK) {
        return error;
    }
    if (image.width > DAZ_MAX_WIDTH || image.height > DAZ_MAX_HEIGHT) {
        return DAZ_ERR_LIMITS;
    }
    auto palette = std::make_unique<quantize::Palette>();
    if (request.palette != nullptr) {
        if (request.entries < 1 || request.entries > MAX_COLORS_8BPP) {
            return DAZ_ERR_ARGUMENT;
        }
        std::memcpy(palette->bytes, request.palette,
                    PALETTE_ENTRY_SIZE * static_cast<std::size_t>(request.entries));
        palette->entries = request.entries;
    }
    // Before the quantizer runs, what is held, with the most the file may
    // take; once the palette is made, the file's exact size.
    const int most = request.palette != nullptr ? request.entries : request.options.colors;
    OutputPlan plan = planOf(image, most);
    plan.bytes = UNKNOWN_SIZE;
    error = checkPlan(check, plan);
    if (error != DAZ_OK) {
        return error;
    }
    const quantize::RgbaImage pixels{image.pixels.data(), std::size_t{4} * image.width, image.width,
                                     image.height};
    std::vector<std::uint8_t> indices(std::size_t{image.width} * image.height);
    error = request.palette != nullptr
                ? quantize::mapToPalette(pixels, request.options, *palette, indices.data())
                : quantize::reducePalette(pixels, request.options, *palette, indices.data());
    if (error != DAZ_OK) {
        return error;
    }
    plan.bytes = planOf(image, palette->entries).bytes;
    error = checkPlan(check, plan);
    if (error != DAZ_OK) {
        return error;
    }
    image.pixels = std::vector<std::uint8_t>(); // let the RGBA go before the file is made
    encodeDaz(image, *palette, indices, request.key, daz);
    return DAZ_OK;
}

int reduceStreamToDaz(std::FILE* source, std::FILE* out, const ReduceRequest& request,
                      const PlanCheck* check) {
    std::vector<std::uint8_t> daz;
    const int reduced = reduceToDaz(source, request, check, daz);
    if (reduced != DAZ_OK) {
        return reduced;
    }
    return std::fwrite(daz.data(), 1, daz.size(), out) == daz.size() ? DAZ_OK : DAZ_ERR_WRITE;
}

int reduceFileToDaz(const char* source, const char* destination, const ReduceRequest& request,
                    const PlanCheck* check) {
    return reduceFileToDazWith(stdioFileOps(), source, destination, request, check);
}

int reduceFileToDazWith(const FileOps& ops, const char* source, const char* destination,
                        const ReduceRequest& request, const PlanCheck* check) {
    std::vector<std::uint8_t> daz;
    const int reduced = withSource(ops, source, int{DAZ_ERR_OPEN}, [&](std::FILE* stream) {
        return reduceToDaz(stream, request, check, daz);
    });
    if (reduced != DAZ_OK) {
        return reduced;
    }
    return writeDestination(
        ops, source, destination, DECODE_OUTPUT_ERRORS, [&](Destination& output) -> int {
            return std::fwrite(daz.data(), 1, daz.size(), output.stream) == daz.size()
                       ? DAZ_OK
                       : DAZ_ERR_WRITE;
        });
}

} // namespace orvx
