#include "cli/png_commands.h"

#include "cli/commands.h"
#include "cli/texts.h"
#include "daz/daz.h"

#include <cstdio>

namespace orvx {

int runPngdaz(int argc, const char* const* argv) {
    static const ConversionCommand command{daz_convert_png_file, PNGDAZ_USAGE_TEXT};
    startRun();
    if (argc < 3 || argc > 5) {
        std::fputs(PNGDAZ_USAGE_TEXT, stdout);
        return finishRun(STATUS_FAILURE);
    }
    return finishRun(runConversion(command, argv[1], argv[2], argc >= 4 ? argv[3] : nullptr,
                                   argc == 5 ? argv[4] : nullptr));
}

int runDazpng(int argc, const char* const* argv) {
    static const DecodingCommand command{daz_write_png_file, pngWritingMessage, DAZPNG_USAGE_TEXT};
    return runDecoding(command, argc, argv);
}

} // namespace orvx
