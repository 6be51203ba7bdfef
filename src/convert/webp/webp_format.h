// webp_format.h - WebP in the formats table (reader.h): read as RGBA only,
// having no palette to keep.
#pragma once

#include "convert/reader.h"

namespace orvx {

extern const FormatReader WEBP_READER;

// A WebP file's pixels as RGBA; an animation's first frame on its canvas.
int readWebpRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);

} // namespace orvx
