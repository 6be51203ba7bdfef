// png_format.h - PNG in the formats table (reader.h).
#pragma once

#include "convert/reader.h"

#include <cstdio>

namespace orvx {

extern const FormatReader PNG_READER;

// The row's RGBA step (reader.h).
int readPngRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);

} // namespace orvx
