// pgm_format.h - PGM in the formats table (reader.h).
#pragma once

#include "convert/reader.h"

namespace orvx {

extern const FormatReader PGM_READER;

} // namespace orvx
