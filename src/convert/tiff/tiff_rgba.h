// tiff_rgba.h - the first page of any TIFF libtiff reads, as RGBA.
#pragma once

#include "convert/reader.h"

namespace orvx {

int readTiffRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);

} // namespace orvx
