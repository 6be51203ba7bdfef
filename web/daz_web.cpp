// daz_web.cpp - what the page's worker calls in the WebAssembly module: the
// library's in-memory calls (conversion, reduction and mapping, export), its
// result and format numbers, the commands' reading of a colour count and a
// key, and the commands' own texts. The
// worker runs one job at a time, so the last call's output stays here, for
// the script to copy out, until the next.
#include "cli/commands.h"
#include "cli/texts.h"
#include "daz/daz.h"

#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// A file past this size is refused before any work: its copy, the output and
// the script's copies of both must fit in the module's 2 GiB.
constexpr std::size_t MAX_INPUT_BYTES = std::size_t{512} << 20U;
// No output may pass this either (a 10-byte RLE bitmap can claim 2 GiB).
constexpr std::size_t MAX_OUTPUT_BYTES = std::size_t{768} << 20U;
// The preview is drawn on a canvas: at most this many pixels, 4 bytes each.
constexpr std::uint64_t MAX_PREVIEW_PIXELS = std::uint64_t{1} << 25U;
constexpr std::uint32_t MAX_PREVIEW_SIDE = 16384;

// The library's names the script uses, with their numbers: every result of
// daz.h's table, and the formats.
struct Constant {
    const char* name;
    int value;
};
#define WEB_RESULT_CONSTANT(name, number, text) {#name, number},
constexpr Constant CONSTANTS[] = {
    // clang-format off
    DAZ_ERROR_TABLE(WEB_RESULT_CONSTANT)
    // clang-format on
    {"DAZ_FORMAT_UNKNOWN", DAZ_FORMAT_UNKNOWN},
    {"DAZ_FORMAT_DAZ", DAZ_FORMAT_DAZ},
    {"DAZ_FORMAT_BMP", DAZ_FORMAT_BMP},
    {"DAZ_FORMAT_PNG", DAZ_FORMAT_PNG},
    {"DAZ_FORMAT_CONVERTS", DAZ_FORMAT_CONVERTS},
    {"DAZ_FORMAT_LOADS", DAZ_FORMAT_LOADS},
    {"DAZ_GUESS_BYTES", DAZ_GUESS_BYTES},
};
#undef WEB_RESULT_CONSTANT
constexpr int CONSTANT_COUNT = static_cast<int>(sizeof CONSTANTS / sizeof CONSTANTS[0]);

struct Output {
    std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    std::uint64_t undefined = 0;
};

Output output;
// An output set aside by web_keep, read while the next is made.
Output kept;
daz_info info;
daz_format_info formatInfo;
char line[256];
// The palette web_load_palette read, to map images onto; none while
// mappingEntries is 0.
std::uint8_t mapping[DAZ_PALETTE_BYTES];
int mappingEntries = 0;

void dropOutput() {
    std::free(output.bytes);
    output = Output{};
}

// Runs call(out, capacity, written) into a buffer of guess bytes, and again
// at the size it then asks for when guess was short: a conversion is run
// once when the guess holds it, as it does for an uncompressed image.
template <typename Call> int produce(std::size_t guess, Call call) {
    dropOutput();
    std::size_t size = std::min(guess, MAX_OUTPUT_BYTES);
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto* bytes = static_cast<std::uint8_t*>(std::malloc(size > 0 ? size : 1));
        if (bytes == nullptr) {
            return DAZ_ERR_MEMORY;
        }
        std::size_t written = 0;
        const int error = call(bytes, size, &written);
        if (error == DAZ_OK) {
            output.bytes = bytes;
            output.size = written;
            return DAZ_OK;
        }
        std::free(bytes);
        if (error != DAZ_ERR_BUFFER || attempt > 0) {
            return error;
        }
        const int asked = call(nullptr, 0, &size);
        if (asked != DAZ_OK) {
            return asked;
        }
        if (size > MAX_OUTPUT_BYTES) {
            return DAZ_ERR_LIMITS;
        }
    }
    return DAZ_ERR_BUFFER;
}

daz_limits pageLimits() {
    daz_limits limits;
    daz_default_limits(&limits);
    limits.max_pixels = std::uint64_t{MAX_OUTPUT_BYTES} * 2; // 4-bit pixels: half a byte
    limits.max_bytes = MAX_OUTPUT_BYTES;
    return limits;
}

// The error orvx -c and pngdaz report for what the page meets and they never
// do: a file of no format the library converts is to orvx -c (the page's
// command for any file but a PNG or a daz image) a bitmap that is not valid,
// and an image past the page's limits is too big to hold.
int commandError(int error) {
    switch (error) {
    case DAZ_ERR_FORMAT:
        return DAZ_ERR_NOT_BMP;
    case DAZ_ERR_LIMITS:
        return DAZ_ERR_TOO_BIG_TO_HOLD;
    default:
        return error;
    }
}

} // namespace

extern "C" {

// The constants, by index: CONSTANT_COUNT names and their numbers.
EMSCRIPTEN_KEEPALIVE int web_constant_count() {
    return CONSTANT_COUNT;
}

EMSCRIPTEN_KEEPALIVE const char* web_constant_name(int index) {
    return index >= 0 && index < CONSTANT_COUNT ? CONSTANTS[index].name : "";
}

EMSCRIPTEN_KEEPALIVE int web_constant_value(int index) {
    return index >= 0 && index < CONSTANT_COUNT ? CONSTANTS[index].value : 0;
}

// The format of the file whose first bytes are data[0..size), and its name.
EMSCRIPTEN_KEEPALIVE int web_guess_format(const std::uint8_t* data, std::size_t size) {
    return daz_guess_format(data, size);
}

EMSCRIPTEN_KEEPALIVE const char* web_format_name(int format) {
    return daz_format_name(format);
}

// The colour count and the key as orvx -c and pngdaz read their arguments.
EMSCRIPTEN_KEEPALIVE int web_parse_colors(const char* text) {
    return orvx::parseColorCount(text);
}

EMSCRIPTEN_KEEPALIVE int web_parse_key(const char* text) {
    return orvx::parseKey(text);
}

// The commands' messages for a daz_error: kind 0 for orvx -c and pngdaz,
// 1 for dazbmp, 2 for dazpng, 3 for rgbdaz, 4 for rgbdaz's palette file;
// then the line they print for a failure. format: the input's daz_format,
// for the lines that name it.
EMSCRIPTEN_KEEPALIVE const char* web_failure_line(int kind, int error, int format) {
    orvx::MessageText text;
    const char* name = format != DAZ_FORMAT_UNKNOWN ? daz_format_name(format) : nullptr;
    const char* message = kind == 0   ? orvx::formatMessage(commandError(error), name, text)
                          : kind == 1 ? orvx::bmpWritingMessage(error)
                          : kind == 2 ? orvx::pngWritingMessage(error)
                                      : orvx::reductionMessage(error, name, text);
    std::snprintf(line, sizeof line,
                  kind == 4 ? orvx::RGBDAZ_PALETTE_LINE_FORMAT : orvx::ERROR_LINE_FORMAT, message);
    return line;
}

// The line orvx -c prints for undefined pixels.
EMSCRIPTEN_KEEPALIVE const char* web_undefined_line(double count) {
    std::snprintf(line, sizeof line, orvx::UNDEFINED_LINE_FORMAT, static_cast<long long>(count));
    return line;
}

EMSCRIPTEN_KEEPALIVE const char* web_success_banner() {
    return orvx::SUCCESS_BANNER;
}

// The largest file the page hands over: it checks File.size against this
// before it reads or allocates anything, as a size past 2^32 would wrap in
// the module's 32-bit size_t.
EMSCRIPTEN_KEEPALIVE double web_max_input() {
    return static_cast<double>(MAX_INPUT_BYTES);
}

// An image of any format the library converts to daz, as orvx -c and pngdaz
// write it.
EMSCRIPTEN_KEEPALIVE int web_convert(const std::uint8_t* data, std::size_t size, int colors,
                                     int key) {
    dropOutput();
    if (size > MAX_INPUT_BYTES) {
        return DAZ_ERR_LIMITS;
    }
    const daz_limits limits = pageLimits();
    // An uncompressed bitmap gives a daz file no larger than itself, a palette
    // of 256 entries aside; a compressed input's size says little, and the
    // call refuses a buffer short of the output before it decodes anything.
    const std::size_t guess = size + DAZ_HEADER_SIZE + DAZ_PALETTE_BYTES;
    std::uint64_t undefined = 0;
    const int error = produce(guess, [&](void* out, std::size_t capacity, std::size_t* written) {
        return daz_convert(data, size, &limits, colors, static_cast<std::uint16_t>(key), out,
                           capacity, written, &undefined);
    });
    output.undefined = undefined;
    return error;
}

// The palette of a daz, BMP or PNG file (daz_load_palette), which web_reduce
// then maps images onto, until web_drop_palette.
EMSCRIPTEN_KEEPALIVE int web_load_palette(const std::uint8_t* data, std::size_t size) {
    mappingEntries = 0;
    if (size > MAX_INPUT_BYTES) {
        return DAZ_ERR_LIMITS;
    }
    const daz_limits limits = pageLimits();
    int entries = 0;
    const int error = daz_load_palette(data, size, &limits, mapping, &entries);
    mappingEntries = error == DAZ_OK ? entries : 0;
    return error;
}

EMSCRIPTEN_KEEPALIVE void web_drop_palette() {
    mappingEntries = 0;
}

// The reduction's options from the page's colour count (2..256, 0: 256; with a
// palette to map onto, 1..its entries, 0: all of them) and dithering:
// DAZ_ERR_COLORS for a count out of range, as rgbdaz says before it reads
// the image.
int reductionOptions(int colors, int dither, daz_quantize_options& options) {
    const int most = mappingEntries > 0 ? mappingEntries : DAZ_MAX_PALETTE;
    if (colors != 0 && (colors < (mappingEntries > 0 ? 1 : 2) || colors > most)) {
        return DAZ_ERR_COLORS;
    }
    daz_default_quantize_options(&options);
    options.colors = colors == 0 ? most : colors;
    options.dither = dither != 0 ? DAZ_DITHER_DIFFUSION : DAZ_DITHER_NONE;
    return DAZ_OK;
}

// An image of any format the library reads to daz, as rgbdaz writes it:
// reduced to colors (2..256, 0: 256), or mapped onto the first colors
// entries (0: all) of the palette web_load_palette read; dither non-zero
// for error diffusion. A count out of range is DAZ_ERR_COLORS, as rgbdaz
// says before it reads the image.
EMSCRIPTEN_KEEPALIVE int web_reduce(const std::uint8_t* data, std::size_t size, int colors,
                                    int dither, int key) {
    dropOutput();
    if (size > MAX_INPUT_BYTES) {
        return DAZ_ERR_LIMITS;
    }
    daz_quantize_options options;
    const int asked = reductionOptions(colors, dither, options);
    if (asked != DAZ_OK) {
        return asked;
    }
    const daz_limits limits = pageLimits();
    // The most the file can take, from the header alone: the reduction then
    // runs once.
    const std::uint8_t* palette = mappingEntries > 0 ? mapping : nullptr;
    std::size_t most = 0;
    const int sized = daz_reduce(data, size, &limits, &options, palette, options.colors,
                                 static_cast<std::uint16_t>(key), nullptr, 0, &most);
    if (sized != DAZ_OK) {
        return sized;
    }
    const int error = produce(most, [&](void* out, std::size_t capacity, std::size_t* written) {
        return daz_reduce(data, size, &limits, &options, palette, options.colors,
                          static_cast<std::uint16_t>(key), out, capacity, written);
    });
    return error;
}

// Pixels the browser decoded (red, green, blue, alpha; width x height, top
// row first) to the daz file daz_reduce makes of an image of those pixels:
// reduced (daz_quantize) or mapped onto the palette web_load_palette read
// (daz_remap), 4 bits a pixel for at most 16 entries, rows bottom-up, every
// entry kept. colors, dither and key as for web_reduce.
EMSCRIPTEN_KEEPALIVE int web_reduce_rgba(const std::uint8_t* rgba, std::uint32_t width,
                                         std::uint32_t height, int colors, int dither, int key) {
    dropOutput();
    daz_quantize_options options;
    const int asked = reductionOptions(colors, dither, options);
    if (asked != DAZ_OK) {
        return asked;
    }
    const daz_limits limits = pageLimits();
    // Stored bottom-up, as rgbdaz stores it: a positive height, 32767 at most.
    if (width > DAZ_MAX_WIDTH || height > DAZ_MAX_ROWS - 1 ||
        std::uint64_t{width} * height * 4 > MAX_INPUT_BYTES) {
        return DAZ_ERR_LIMITS;
    }
    auto* indices = static_cast<std::uint8_t*>(std::malloc(std::size_t{width} * height + 1));
    if (indices == nullptr) {
        return DAZ_ERR_MEMORY;
    }
    std::uint8_t palette[DAZ_PALETTE_BYTES];
    // Mapped onto the palette's first options.colors entries, as web_reduce.
    int entries = mappingEntries > 0 ? options.colors : 0;
    const std::size_t stride = std::size_t{width} * 4;
    const std::size_t pixels = std::size_t{width} * height;
    int error = mappingEntries > 0 ? daz_remap(rgba, stride, width, height, &limits, &options,
                                               mapping, entries, indices, pixels)
                                   : daz_quantize(rgba, stride, width, height, &limits, &options,
                                                  palette, &entries, indices, pixels);
    if (error == DAZ_OK) {
        const std::uint8_t* used = mappingEntries > 0 ? mapping : palette;
        const int bits = entries <= 16 ? 4 : 8;
        std::size_t size = 0;
        error = daz_encoded_size(width, static_cast<std::int32_t>(height), bits, entries, 0, &size);
        if (error == DAZ_OK) {
            error = produce(size, [&](void* out, std::size_t capacity, std::size_t* written) {
                return daz_encode(indices, width, width, static_cast<std::int32_t>(height), bits,
                                  used, entries, 0, static_cast<std::uint16_t>(key), out, capacity,
                                  written, nullptr);
            });
        }
    }
    std::free(indices);
    return error;
}

// The formats this build knows, by index (daz_format_at): DAZ_OK, and its
// fields through web_format_number, _flags and _text, or DAZ_ERR_ARGUMENT
// past the last.
EMSCRIPTEN_KEEPALIVE int web_format_at(int index) {
    return daz_format_at(index, &formatInfo);
}

EMSCRIPTEN_KEEPALIVE int web_format_number() {
    return formatInfo.format;
}

EMSCRIPTEN_KEEPALIVE int web_format_flags() {
    return static_cast<int>(formatInfo.flags);
}

// 0: the name, 1: the extensions, 2: the MIME type.
EMSCRIPTEN_KEEPALIVE const char* web_format_text(int field) {
    const char* text = field == 0   ? formatInfo.name
                       : field == 1 ? formatInfo.extensions
                                    : formatInfo.mime_type;
    return text != nullptr ? text : "";
}

// A daz file to the bitmap dazbmp writes (format DAZ_FORMAT_BMP) or the PNG
// dazpng writes (DAZ_FORMAT_PNG).
EMSCRIPTEN_KEEPALIVE int web_export(int format, const std::uint8_t* data, std::size_t size) {
    dropOutput();
    if (size > MAX_INPUT_BYTES) {
        return DAZ_ERR_LIMITS;
    }
    const daz_limits limits = pageLimits();
    // The bitmap is the daz file with 30 more bytes of header; the PNG is
    // rarely larger than the pixels it deflates.
    const std::size_t guess = size + size / 64 + 65536;
    return produce(guess, [&](void* out, std::size_t capacity, std::size_t* written) {
        return daz_export(data, size, &limits, format, out, capacity, written);
    });
}

// daz_inspect's fields, then the preview: daz_decode_rgba within the canvas's
// limits (DAZ_ERR_LIMITS past them; the fields stay valid).
EMSCRIPTEN_KEEPALIVE int web_inspect(const std::uint8_t* data, std::size_t size) {
    return daz_inspect(data, size, &info);
}

EMSCRIPTEN_KEEPALIVE int web_preview(const std::uint8_t* data, std::size_t size) {
    daz_limits limits;
    daz_default_limits(&limits);
    limits.max_width = MAX_PREVIEW_SIDE;
    limits.max_height = MAX_PREVIEW_SIDE;
    limits.max_pixels = MAX_PREVIEW_PIXELS;
    limits.max_bytes = MAX_PREVIEW_PIXELS * 4;
    std::size_t rgba = 0;
    dropOutput();
    const int sized = daz_decoded_size(&info, &limits, nullptr, &rgba);
    if (sized != DAZ_OK) {
        return sized;
    }
    return produce(rgba, [&](void* out, std::size_t capacity, std::size_t* written) {
        const int error = daz_decode_rgba(data, size, &limits, nullptr,
                                          static_cast<std::uint8_t*>(out), capacity);
        *written = capacity;
        return error;
    });
}

// The fields of the last daz_inspect, in this order: width, height as stored,
// rows, bits, colours, key; and the palette (red, green, blue, fourth byte).
EMSCRIPTEN_KEEPALIVE double web_info_field(int field) {
    switch (field) {
    case 0:
        return info.width;
    case 1:
        return info.height;
    case 2:
        return info.rows;
    case 3:
        return info.bits;
    case 4:
        return info.colors;
    default:
        return info.key;
    }
}

EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_info_palette() {
    return info.palette;
}

// The last call's output, until the next call, web_keep or web_release.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_output() {
    return output.bytes;
}

EMSCRIPTEN_KEEPALIVE double web_output_size() {
    return static_cast<double>(output.size);
}

EMSCRIPTEN_KEEPALIVE double web_output_undefined() {
    return static_cast<double>(output.undefined);
}

// Sets the last call's output aside, where it stays (unmoved, uncopied)
// until the next web_keep or web_release, and returns where it is.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_keep() {
    std::free(kept.bytes);
    kept = output;
    output = Output{};
    return kept.bytes;
}

EMSCRIPTEN_KEEPALIVE void web_release() {
    dropOutput();
    std::free(kept.bytes);
    kept = Output{};
}

} // extern "C"
