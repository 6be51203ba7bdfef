// pgm_format.h - PGM in the formats table (reader.h).
#pragma once

#include "convert/reader.h"

#include <cstdio>

namespace orvx {

extern const FormatReader PGM_READER;

// The row's RGBA step (reader.h).
int readPgmRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);

} // namespace orvx
