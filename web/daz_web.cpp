// daz_web.cpp - what the page's worker calls in the WebAssembly module: the
// library's in-memory calls, the commands' reading of a colour count and a
// key, and the commands' own texts. The worker runs one job at a time, so the
// last call's output stays here, for the script to copy out, until the next.
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

struct Output {
    std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    std::uint64_t undefined = 0;
};

Output output;
// An output set aside by web_keep, read while the next is made.
Output kept;
daz_info info;
char line[256];

void dropOutput() {
    std::free(output.bytes);
    output = Output{};
}

// Runs call(out, capacity, written) into a buffer of guess bytes, and again
// at the size it then asks for when guess was short: a conversion is run
// once when the guess holds it, as it does for an uncompressed image.
template <typename Call> int produce(std::size_t guess, int tooBig, Call call) {
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
            return tooBig;
        }
    }
    return DAZ_ERR_BUFFER;
}

} // namespace

extern "C" {

// The colour count and the key as orvx -c and pngdaz read their arguments.
EMSCRIPTEN_KEEPALIVE int web_parse_colors(const char* text) {
    return orvx::parseColorCount(text);
}

EMSCRIPTEN_KEEPALIVE int web_parse_key(const char* text) {
    return orvx::parseKey(text);
}

// The commands' messages for a daz_error: kind 0 for orvx -c and pngdaz,
// 1 for dazbmp, 2 for dazpng; then the line they print for a failure.
EMSCRIPTEN_KEEPALIVE const char* web_failure_line(int kind, int error) {
    const char* message = kind == 0   ? orvx::conversionMessage(error)
                          : kind == 1 ? orvx::bmpWritingMessage(error)
                                      : orvx::pngWritingMessage(error);
    std::snprintf(line, sizeof line, orvx::ERROR_LINE_FORMAT, message);
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

// A bitmap (png 0) or an indexed PNG (png 1) to daz, as orvx -c and pngdaz.
EMSCRIPTEN_KEEPALIVE int web_from_image(int png, const std::uint8_t* data, std::size_t size,
                                        int colors, int key) {
    if (size > MAX_INPUT_BYTES) {
        dropOutput();
        return DAZ_ERR_TOO_BIG_TO_HOLD;
    }
    const auto call = png != 0 ? daz_from_png : daz_from_bmp;
    // An uncompressed bitmap gives a daz file no larger than itself, a palette
    // of 256 entries aside; a PNG's size says little, so its is asked first.
    const std::size_t guess = png != 0 ? 0 : size + DAZ_HEADER_SIZE + DAZ_PALETTE_BYTES;
    std::uint64_t undefined = 0;
    const int error = produce(guess, DAZ_ERR_TOO_BIG_TO_HOLD,
                              [&](void* out, std::size_t capacity, std::size_t* written) {
                                  return call(data, size, colors, static_cast<std::uint16_t>(key),
                                              out, capacity, written, &undefined);
                              });
    output.undefined = undefined;
    return error;
}

// A daz file to the bitmap dazbmp writes (png 0) or the PNG dazpng writes.
EMSCRIPTEN_KEEPALIVE int web_to_image(int png, const std::uint8_t* data, std::size_t size) {
    if (size > MAX_INPUT_BYTES) {
        dropOutput();
        return DAZ_ERR_LIMITS;
    }
    const auto call = png != 0 ? daz_to_png : daz_to_bmp;
    // The bitmap is the daz file with 30 more bytes of header; the PNG is
    // rarely larger than the pixels it deflates.
    const std::size_t guess = size + size / 64 + 65536;
    return produce(guess, DAZ_ERR_LIMITS,
                   [&](void* out, std::size_t capacity, std::size_t* written) {
                       return call(data, size, out, capacity, written);
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
    std::size_t indices = 0;
    std::size_t rgba = 0;
    dropOutput();
    const int sized = daz_decoded_size(&info, &indices, &rgba);
    if (sized != DAZ_OK) {
        return sized;
    }
    if (rgba > limits.max_bytes || info.width > limits.max_width || info.rows > limits.max_height) {
        return DAZ_ERR_LIMITS;
    }
    return produce(rgba, DAZ_ERR_LIMITS,
                   [&](void* out, std::size_t capacity, std::size_t* written) {
                       daz_info decoded;
                       const int error = daz_decode_rgba(data, size, &limits, &decoded,
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
