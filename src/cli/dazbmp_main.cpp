#include "cli/dazbmp_command.h"
#include "cli/entry.h"

ORVX_MAIN(runDazbmp)
