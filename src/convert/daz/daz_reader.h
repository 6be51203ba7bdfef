// daz_reader.h - the daz format itself in the formats table (reader.h): read
// as RGBA only; it is no input of the conversions into daz, nor an output.
#pragma once

#include "convert/reader.h"

#include <cstdio>

namespace orvx {

extern const FormatReader DAZ_READER;

// The row's RGBA step (reader.h).
// As daz_decode_rgba: an index past the palette is opaque magenta.
int readDazRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);

} // namespace orvx
