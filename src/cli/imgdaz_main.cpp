#include "cli/imgdaz_command.h"
#include "platform/entry.h"

ORVX_MAIN(orvx::runImgdaz)
