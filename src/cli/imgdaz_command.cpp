#include "cli/imgdaz_command.h"

#include "cli/commands.h"
#include "cli/texts.h"
#include "convert/driver.h"
#include "convert/formats.h"

#include <cstdio>

namespace orvx {

namespace {

// Any format of the table, told by content, its indices kept.
int convertAnyToDaz(const char* source, const char* destination, int colors, std::uint16_t key,
                    std::uint64_t* undefined) {
    return convertFileToDaz(stdioFileOps(), source, destination, readerFor,
                            IndexRequest{colors, key}, nullptr, undefined);
}

} // namespace

const char* formatNameOf(const char* path) {
    std::FILE* file = stdioFileOps().openSource(path);
    if (file == nullptr) {
        return nullptr;
    }
    int error = DAZ_OK;
    const FormatReader* reader = readerFor(file, error);
    static_cast<void>(std::fclose(file));
    return reader != nullptr ? reader->name : nullptr;
}

int runImgdaz(int argc, const char* const* argv) {
    static const ConversionCommand command{convertAnyToDaz, IMGDAZ_USAGE_TEXT, formatNameOf};
    startRun();
    if (argc < 3 || argc > 5) {
        std::fputs(IMGDAZ_USAGE_TEXT, stdout);
        return finishRun(STATUS_FAILURE);
    }
    return finishRun(runConversion(command, argv[1], argv[2], argc >= 4 ? argv[3] : nullptr,
                                   argc == 5 ? argv[4] : nullptr));
}

} // namespace orvx
