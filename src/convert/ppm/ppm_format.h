// ppm_format.h - the binary PPM (netpbm's "P6") in the formats table
// (reader.h).
#pragma once

#include "convert/reader.h"

namespace orvx {

extern const FormatReader PPM_READER;

} // namespace orvx
