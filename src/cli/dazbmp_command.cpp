#include "cli/dazbmp_command.h"

#include "cli/commands.h"
#include "cli/texts.h"
#include "convert/bmp/bmp_export.h"

namespace orvx {

int runDazbmp(int argc, const char* const* argv) {
    static const DecodingCommand command{convertDazToBmp, bmpWritingMessage, DAZBMP_USAGE_TEXT};
    return runDecoding(command, argc, argv);
}

} // namespace orvx
