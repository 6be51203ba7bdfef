#include "cli/png_commands.h"

#include "cli/commands.h"
#include "cli/texts.h"
#include "convert/png/png_export.h"
#include "convert/png/png_indices.h"

#include <cstdio>

namespace orvx {

int runPngdaz(int argc, const char* const* argv) {
    static const ConversionCommand command{
        [](const char* source, const char* destination, int colors, std::uint16_t key,
           std::uint64_t* undefined) {
            return convertPngToDaz(source, destination, colors, key, undefined);
        },
        PNGDAZ_USAGE_TEXT, nullptr};
    startRun();
    if (argc < 3 || argc > 5) {
        std::fputs(PNGDAZ_USAGE_TEXT, stdout);
        return finishRun(STATUS_FAILURE);
    }
    return finishRun(runConversion(command, argv[1], argv[2], argc >= 4 ? argv[3] : nullptr,
                                   argc == 5 ? argv[4] : nullptr));
}

int runDazpng(int argc, const char* const* argv) {
    static const DecodingCommand command{convertDazToPng, pngWritingMessage, DAZPNG_USAGE_TEXT};
    return runDecoding(command, argc, argv);
}

} // namespace orvx
