#include "cli/dazbmp_command.h"

#include "cli/commands.h"
#include "cli/texts.h"
#include "convert/daz_to_bmp.h"

#include <cstdio>

namespace {

int convertCommand(int argc, const char* const* argv) {
    if (argc != 3) {
        std::fputs(DAZBMP_USAGE_TEXT, stdout);
        return STATUS_FAILURE;
    }
    const DecodeResult result = convertDazToBmp(argv[1], argv[2]);
    if (result < 0) {
        std::printf(ERROR_LINE_FORMAT, decodeMessage(result));
        return STATUS_FAILURE;
    }
    std::fputs(SUCCESS_BANNER, stdout);
    return STATUS_SUCCESS;
}

} // namespace

int runDazbmp(int argc, const char* const* argv) {
    startRun();
    return finishRun(convertCommand(argc, argv));
}
