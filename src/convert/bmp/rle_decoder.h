// rle_decoder.h - RLE8 and RLE4 pixel data into the rows an uncompressed
// bitmap would store, streamed through one chunk buffer.
//
// Commands, two bytes each (n, v):
//   n > 0          a run of n pixels of v (RLE4: v's high nibble, low nibble, ...)
//   0, 0           end of row
//   0, 1           end of bitmap
//   0, 2, dx, dy   move right dx and up dy rows
//   0, v >= 3      v literal pixels follow, padded to an even byte count
// Pixels that are never set stay index 0. Pixels past the row's width are
// dropped. A delta that leaves the image, end of bitmap or the end of the data
// stops decoding; the rows left are zeros.
#pragma once

#include "convert/bmp/bmp_source.h"
#include "convert/pixel_sink.h"

#include <cstdio>

namespace orvx {

// Decodes from the source's current position to its end (or end of bitmap),
// handing CHUNK_SIZE pieces of the decoded rows to the sink. window is the
// CHUNK_SIZE output buffer; input is a CHUNK_SIZE read buffer. 0, DAZ_ERR_READ
// or the sink's error.
int decodeRle(std::FILE* source, const BmpLayout& layout, PixelSink& sink, std::uint8_t* window,
              std::uint8_t* input);

// The same commands into indices, one byte a pixel, width bytes a row, rows
// in stored order (bottom row first): for the RGBA reader, which holds the
// image whole. indices holds width x height bytes. Stricter than the
// conversion into daz, which keeps what it can: 0 only for data that ends
// with the bitmap (or its last row) and draws only inside the image; else
// DAZ_ERR_NOT_BMP, or DAZ_ERR_READ when the read fails.
int decodeRleToIndices(std::FILE* source, const BmpLayout& layout, std::uint8_t* indices);

} // namespace orvx
