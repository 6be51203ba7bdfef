// rgba_readers.h - every input format read whole as red, green, blue and
// alpha bytes, behind one signature: one reader per format (bmp/, png/, pgm/
// and the daz file), picked by the formats table (formats.h) from the file's
// first bytes.
#pragma once

#include "convert/reader.h"
#include "convert/result_codes.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace orvx {

// Reads the image at source (from its start; it must seek) into image, and
// returns DAZ_OK or a daz_error: the format's own faults, DAZ_ERR_READ for
// one cut short or a failed read. Once the size is known, check (null: none)
// is asked about a plan of width x height pixels holding 4 x width x height
// bytes, before anything is allocated: its refusal is returned as it is.
// sizeOnly: stop there, with width and height set.
using RgbaReader = int (*)(std::FILE* source, const PlanCheck* check, bool sizeOnly,
                           RgbaImage& image);

int readBmpRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);
int readPngRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);
int readPgmRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);
// As daz_decode_rgba: an index past the palette is opaque magenta.
int readDazRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image);

} // namespace orvx
