// png_export.h - one daz file back into an indexed PNG.
//
// The PNG: colour type 3, bit depth the daz file's (4 or 8), not interlaced;
// its PLTE the daz palette in order (red, green, blue; the fourth byte has no
// place in a PNG); its indices the daz pixels with the keystream taken off,
// top row first: a daz file whose height is negative stores its rows top-down,
// any other bottom-up. Width and rows are found as for a bitmap (the first
// |height| rows of ((width * bpp + 31) / 32) * 4 bytes, or the whole rows
// there are if fewer; their padding dropped). Indices past the palette are
// kept as they are.
//
// Codes as for the bitmap. The PNG is written as destination.h describes.
// Memory: one block of rows at a time, read backwards from the image's last
// stored row when its rows are bottom-up.
#pragma once

#include "convert/reader.h"
#include "convert/result_codes.h"
#include "output/file_ops.h"

#include <cstdio>

namespace orvx {

int convertDazToPng(const char* source, const char* destination, const PlanCheck* check = nullptr);
int convertDazToPngWith(const FileOps& ops, const char* source, const char* destination,
                        const PlanCheck* check = nullptr);

// The same conversion between two streams the caller holds, as for the
// bitmap (bmp/bmp_export.h).
// The two steps of the formats table's way back (reader.h).
int openPngExport(std::FILE* source, const PlanCheck* check, ReaderState& state);
int writePngExport(ReaderState& state, std::FILE* out);

} // namespace orvx
