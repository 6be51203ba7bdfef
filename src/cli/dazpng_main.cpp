#include "cli/png_commands.h"
#include "platform/entry.h"

ORVX_MAIN(orvx::runDazpng)
