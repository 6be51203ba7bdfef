// bmp_format.h - BMP in the formats table (reader.h).
#pragma once

#include "convert/reader.h"

namespace orvx {

extern const FormatReader BMP_READER;

} // namespace orvx
