#include "cli/commands.h"
#include "cli/entry.h"

ORVX_MAIN(runOrvx)
