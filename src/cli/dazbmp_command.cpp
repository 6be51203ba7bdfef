#include "cli/dazbmp_command.h"

#include "cli/commands.h"
#include "cli/texts.h"
#include "daz/daz.h"

namespace orvx {

int runDazbmp(int argc, const char* const* argv) {
    static const DecodingCommand command{daz_write_bmp_file, bmpWritingMessage, DAZBMP_USAGE_TEXT};
    return runDecoding(command, argc, argv);
}

} // namespace orvx
