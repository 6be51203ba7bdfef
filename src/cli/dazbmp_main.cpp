#include "cli/dazbmp_command.h"
#include "convert/platform/entry.h"

ORVX_MAIN(orvx::runDazbmp)
