#include "cli/commands.h"
#include "convert/platform/entry.h"

ORVX_MAIN(orvx::runOrvx)
