// tiff_format.h - TIFF in the formats table (reader.h).
#pragma once

#include "convert/reader.h"

namespace orvx {

extern const FormatReader TIFF_READER;

} // namespace orvx
