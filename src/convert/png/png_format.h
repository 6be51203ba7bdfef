// png_format.h - PNG in the formats table (reader.h).
#pragma once

#include "convert/reader.h"

namespace orvx {

extern const FormatReader PNG_READER;

} // namespace orvx
