// bmp_indices.h - a palette bitmap (4 or 8 bits per pixel) into a daz file,
// its pixel area streamed through one buffer: the bitmap's steps in the
// formats table (reader.h), which orvx -c drives (bmp_to_daz.h).
#pragma once

#include "convert/reader.h"

#include <cstdint>
#include <cstdio>

namespace orvx {

// The bitmap's headers and kept palette read and checked (DAZ_ERR_NOT_BMP,
// DAZ_ERR_BMP_BITS, DAZ_ERR_COLORS, DAZ_ERR_READ, in orvx -c's order), then
// the plan to check: the daz file's size is the header, the kept palette and
// the bitmap's bytes from its pixels to its end (run-length bitmaps: every
// row decoded).
int openBmpIndices(std::FILE* source, const IndexRequest& request, const PlanCheck* check,
                   ReaderState& state);
int writeBmpIndices(ReaderState& state, const DazOutput& out, std::uint64_t* undefined);

} // namespace orvx
