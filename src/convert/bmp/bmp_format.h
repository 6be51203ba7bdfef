// bmp_format.h - BMP in the formats table (reader.h).
#pragma once

#include "convert/reader.h"

#include <cstdio>

namespace orvx {

extern const FormatReader BMP_READER;

// The row's RGBA step (reader.h).
int readBmpRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);

} // namespace orvx
