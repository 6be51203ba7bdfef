#include "cli/commands.h"
#include "platform/entry.h"

ORVX_MAIN(orvx::runOrvx)
