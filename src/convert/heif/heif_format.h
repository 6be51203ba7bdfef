// heif_format.h - HEIF and AVIF in the formats table (reader.h), two rows
// over one reader: read as RGBA only, having no palette to keep.
#pragma once

#include "convert/reader.h"

namespace orvx {

extern const FormatReader HEIF_READER;
extern const FormatReader AVIF_READER;

// A HEIF or AVIF file's primary image as RGBA, its rotation, mirroring and
// cropping applied.
int readHeifRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);

} // namespace orvx
