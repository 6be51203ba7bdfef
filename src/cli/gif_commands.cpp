#include "cli/gif_commands.h"

#include "cli/commands.h"
#include "cli/texts.h"
#include "convert/gif/gif_format.h"
#include "output/destination.h"

namespace orvx {

namespace {

// The daz file at source into a GIF at destination, as the driver exports
// any format: the destination is opened only once the daz header is read
// and the plan taken.
int convertDazToGif(const char* source, const char* destination, const PlanCheck* check) {
    const FileOps& ops = stdioFileOps();
    return withSource(ops, source, int{DAZ_ERR_OPEN}, [&](std::FILE* in) {
        ReaderState state;
        const int opened = GIF_READER.openExport(in, check, state);
        if (opened != DAZ_OK) {
            return opened;
        }
        return writeDestination(
            ops, source, destination, DECODE_OUTPUT_ERRORS,
            [&](Destination& output) { return GIF_READER.writeExport(state, output.stream); });
    });
}

} // namespace

int runDazgif(int argc, const char* const* argv) {
    static const DecodingCommand command{convertDazToGif, gifWritingMessage, DAZGIF_USAGE_TEXT};
    return runDecoding(command, argc, argv);
}

} // namespace orvx
