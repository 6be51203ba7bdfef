#include "cli/rgbdaz_command.h"

#include "cli/commands.h"
#include "cli/imgdaz_command.h"
#include "cli/texts.h"
#include "convert/reduce_to_daz.h"
#include "format/daz_format.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace orvx {

namespace {

struct Arguments {
    bool dither = false;
    const char* palette = nullptr;
    const char* index = nullptr;
    const char* background = nullptr;
    const char* source = nullptr;
    const char* destination = nullptr;
    const char* count = nullptr;
    const char* key = nullptr;
};

// The options first, each once at most, then two to four words. False for
// anything else: the usage text is the answer.
bool parseArguments(int argc, const char* const* argv, Arguments& arguments) {
    int at = 1;
    for (; at < argc && argv[at][0] == '-' && argv[at][1] != '\0'; ++at) {
        const char* option = argv[at];
        const char** value = nullptr;
        if (std::strcmp(option, "-d") == 0 && !arguments.dither) {
            arguments.dither = true;
            continue;
        }
        if (std::strcmp(option, "-p") == 0) {
            value = &arguments.palette;
        } else if (std::strcmp(option, "-t") == 0) {
            value = &arguments.index;
        } else if (std::strcmp(option, "-s") == 0) {
            value = &arguments.background;
        }
        if (value == nullptr || *value != nullptr || at + 1 == argc) {
            return false;
        }
        *value = argv[++at];
    }
    const int words = argc - at;
    if (words < 2 || words > 4) {
        return false;
    }
    arguments.source = argv[at];
    arguments.destination = argv[at + 1];
    arguments.count = words >= 3 ? argv[at + 2] : nullptr;
    arguments.key = words == 4 ? argv[at + 3] : nullptr;
    return true;
}

// A decimal index, 0..255, digits only.
bool parseIndex(const char* text, int& index) {
    const std::size_t length = std::strlen(text);
    if (length == 0 || length > 3 || std::strspn(text, "0123456789") != length) {
        return false;
    }
    index = std::atoi(text);
    return index <= 255;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// RRGGBB, six hexadecimal digits.
bool parseBackground(const char* text, std::uint8_t* rgb) {
    if (std::strlen(text) != 6) {
        return false;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        const int high = hexDigit(text[2 * i]);
        const int low = hexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        rgb[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return true;
}

int fail(const char* format, const char* message) {
    std::printf(format, message);
    std::fputs(RGBDAZ_USAGE_TEXT, stdout);
    return STATUS_FAILURE;
}

// The line for error, an image's at path.
int failOn(const char* format, int error, const char* path) {
    MessageText text;
    return fail(format,
                reductionMessage(error, path != nullptr ? formatNameOf(path) : nullptr, text));
}

// The palette of the image at path, as the reduction maps onto it.
int loadPalette(const char* path, std::uint8_t* palette, int& entries) {
    std::FILE* file = stdioFileOps().openSource(path);
    if (file == nullptr) {
        return DAZ_ERR_OPEN;
    }
    const int result = readPaletteOf(file, &commandBounds(), palette, entries);
    static_cast<void>(std::fclose(file));
    return result;
}

int reduce(const Arguments& arguments) {
    ReduceRequest request;
    request.options.dither =
        arguments.dither ? quantize::Dither::Diffusion : quantize::Dither::None;
    if (arguments.background != nullptr &&
        !parseBackground(arguments.background, request.options.background)) {
        return fail(ERROR_LINE_FORMAT, rgbdazFaultMessage(RgbdazFault::BACKGROUND));
    }
    int index = -1;
    if (arguments.index != nullptr && !parseIndex(arguments.index, index)) {
        return fail(ERROR_LINE_FORMAT, rgbdazFaultMessage(RgbdazFault::INDEX));
    }
    std::array<std::uint8_t, PALETTE_ENTRY_SIZE * MAX_COLORS_8BPP> palette{};
    int entries = 0;
    if (arguments.palette != nullptr) {
        const int loaded = loadPalette(arguments.palette, palette.data(), entries);
        if (loaded != DAZ_OK) {
            return failOn(RGBDAZ_PALETTE_LINE_FORMAT, loaded, arguments.palette);
        }
    }
    const int count = arguments.count != nullptr ? parseColorCount(arguments.count) : 0;
    const int lowest = arguments.palette != nullptr ? 1 : 2;
    const int most = arguments.palette != nullptr ? entries : MAX_COLORS_8BPP;
    if (count != 0 && (count < lowest || count > most)) {
        return failOn(ERROR_LINE_FORMAT, DAZ_ERR_COLORS, nullptr);
    }
    const int colors = count == 0 ? most : count;
    if (index >= colors) {
        return fail(ERROR_LINE_FORMAT, rgbdazFaultMessage(RgbdazFault::INDEX));
    }
    request.options.colors = colors;
    request.options.transparentIndex = index;
    if (arguments.palette != nullptr) {
        request.palette = palette.data();
        request.entries = colors;
    }
    request.key = arguments.key != nullptr ? parseKey(arguments.key) : 0;
    const int result =
        reduceFileToDaz(arguments.source, arguments.destination, request, &commandBounds());
    if (result != DAZ_OK) {
        return failOn(ERROR_LINE_FORMAT, result, arguments.source);
    }
    std::fputs(SUCCESS_BANNER, stdout);
    return STATUS_SUCCESS;
}

} // namespace

int runRgbdaz(int argc, const char* const* argv) {
    startRun();
    Arguments arguments;
    if (!parseArguments(argc, argv, arguments)) {
        std::fputs(RGBDAZ_USAGE_TEXT, stdout);
        return finishRun(STATUS_FAILURE);
    }
    int status = STATUS_FAILURE;
    try {
        status = reduce(arguments);
    } catch (const std::bad_alloc&) {
        status = failOn(ERROR_LINE_FORMAT, DAZ_ERR_MEMORY, nullptr);
    }
    return finishRun(status);
}

} // namespace orvx
