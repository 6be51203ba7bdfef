#include "cli/entry.h"
#include "cli/png_commands.h"

ORVX_MAIN(runDazpng)
