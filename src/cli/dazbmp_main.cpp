#include "cli/dazbmp_command.h"
#include "platform/entry.h"

ORVX_MAIN(orvx::runDazbmp)
