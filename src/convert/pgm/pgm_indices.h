// pgm_indices.h - one binary PGM (netpbm's "P5", maxval 1..255) into one daz
// file.
//
// The daz file is 8 bits a pixel with maxval + 1 palette entries, the greys
// of the PGM's scale: entry i is round(i * 255 / maxval) for red, green and
// blue, fourth byte 0. The indices are the samples, rows bottom-up and padded
// with zeros to 4 bytes, as for the canonical bitmap of the same image (what
// daz_encode writes for a positive height). A sample past maxval is kept as
// it is, an index past the palette; it counts as undefined, as do those past
// the kept colours.
//
// Checks, in this order: open (ERR_OPEN), the header (pgm_header.h:
// ERR_NOT_BMP, ERR_BAD_DEPTH, ERR_READ), the colour count (ERR_BAD_COLORS),
// the caller's check of the plan (ERR_REFUSED), a raster shorter than width x
// height bytes (ERR_READ), then the destination (ERR_CREATE). Bytes after the
// raster (a further image, say) are not read.
//
// Memory: a block of rows at a time, read from the raster's end backwards, so
// that the daz file is written in order: 128 KiB whatever the image.
#pragma once

#include "convert/reader.h"
#include "convert/result_codes.h"
#include "output/file_ops.h"

#include <cstdint>
#include <cstdio>

namespace orvx {

// A PGM's faults as the library names them: one code for both.
inline constexpr InputErrors PGM_INPUT_ERRORS{DAZ_ERR_NOT_PGM, DAZ_ERR_NOT_PGM};

// check as for the bitmap (bmp_to_daz.h).
// The two steps of the PGM's conversion in the formats table (reader.h).
int openPgmIndices(std::FILE* source, const IndexRequest& request, const PlanCheck* check,
                   ReaderState& state);
int writePgmIndices(ReaderState& state, const DazOutput& out, std::uint64_t* undefined);

} // namespace orvx
