#include "cli/png_commands.h"
#include "convert/platform/entry.h"

ORVX_MAIN(orvx::runDazpng)
