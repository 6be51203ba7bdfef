#include "cli/gif_commands.h"

#include "cli/commands.h"
#include "cli/texts.h"
#include "convert/driver.h"
#include "convert/gif/gif_format.h"

namespace orvx {

namespace {

int convertDazToGif(const char* source, const char* destination, const PlanCheck* check) {
    return exportFileFromDaz(stdioFileOps(), source, destination, GIF_READER, check);
}

} // namespace

int runDazgif(int argc, const char* const* argv) {
    static const DecodingCommand command{convertDazToGif, gifWritingMessage, DAZGIF_USAGE_TEXT};
    return runDecoding(command, argc, argv);
}

} // namespace orvx
