#include "cli/gif_commands.h"
#include "platform/entry.h"

ORVX_MAIN(orvx::runDazgif)
