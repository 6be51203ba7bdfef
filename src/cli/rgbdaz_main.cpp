#include "cli/rgbdaz_command.h"
#include "platform/entry.h"

ORVX_MAIN(orvx::runRgbdaz)
