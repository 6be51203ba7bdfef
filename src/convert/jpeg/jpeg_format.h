// jpeg_format.h - JPEG in the formats table (reader.h): read as RGBA only,
// having no palette to keep.
#pragma once

#include "convert/reader.h"

namespace orvx {

extern const FormatReader JPEG_READER;

// A JPEG file's pixels as RGBA, upright (its EXIF orientation applied).
int readJpegRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);

} // namespace orvx
