// daz_rows.h - a daz file from rows of indices, one index a byte, for the
// readers whose images come that way (GIF, TIFF): the header and the kept
// palette from the image's palette and the request, then each row encoded
// for the place it takes in the file, bottom-up, as orvx -c writes the
// bitmap of the same image.
//
// Rows that come in order, top row first, to a stream that seeks are
// written in blocks of a few MiB straight into place. Rows that come out of
// order (an interlaced image), or a stream that can't seek, make the writer
// hold the whole pixel area, written once the last row is in: the plan says
// so (held), before anything is allocated.
#pragma once

#include "convert/pixel_sink.h"
#include "convert/reader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvx {

// The image as the daz file will hold it.
struct IndexedShape {
    std::uint32_t width = 0;  // 1..65535
    std::uint32_t height = 0; // 1..32767: rows bottom-up
    int bits = 8;             // the daz file's: 4 (every index below 16) or 8
    // entries of red, green, blue and a fourth byte; 1..16 for 4 bits,
    // 1..256 for 8.
    const std::uint8_t* palette = nullptr;
    int entries = 0;
};

struct DazRowWriter {
    PixelSink sink;                                           // first: it lines up on 64 bytes
    std::array<std::uint8_t, std::size_t{4} * 256> palette{}; // the shape's, copied
    std::vector<std::uint8_t> block; // a block of rows, or the whole pixel area held
    IndexedShape shape;
    DazOutput out;
    std::size_t rowSize = 0;
    std::size_t prefixSize = 0;
    std::size_t perBlock = 0; // rows a block, in place
    IndexRequest request;
    int kept = 0;
    std::uint32_t next = 0; // in place: the next row expected
    bool hold = false;
    bool failed = false;
};

// One row of width indices as the daz file stores it, into out[0, rowSize):
// bytes as they are, or nibbles, the first in the high one; then zeros to
// the row's end. false for an index past what the bits hold.
bool packRow(const std::uint8_t* indices, const IndexedShape& shape, std::uint8_t* out,
             std::size_t rowSize);

// Step 2 of a reader: checks request.colors against the palette
// (DAZ_ERR_COLORS) and puts the plan to check (held: the whole pixel area
// when the rows will not come top row first). inOrder: they will. The
// palette is copied; nothing else is allocated.
int planDazRows(DazRowWriter& writer, const IndexedShape& shape, const IndexRequest& request,
                const PlanCheck* check, bool inOrder);

// Step 3: writes the header and kept palette to out, ready for the rows.
// Rows in order to a stream that can't seek are held too, up to
// MAX_HELD_ROWS_BYTES (DAZ_ERR_TOO_BIG_TO_HOLD past it).
int startDazRows(DazRowWriter& writer, const DazOutput& out);

inline constexpr std::uint64_t MAX_HELD_ROWS_BYTES = std::uint64_t{256} << 20U;

// The row at top (0: the top row), width indices. In order, rows must come
// top row first; held, in any order. A row whose index is past what the
// bits hold gives DAZ_ERR_ARGUMENT.
int putDazRow(DazRowWriter& writer, std::uint32_t top, const std::uint8_t* indices);

// Once every row is in: the rest written, *undefined (may be null) the
// count of pixel values past the kept palette. DAZ_ERR_WRITE when a write
// failed.
int finishDazRows(DazRowWriter& writer, std::uint64_t* undefined);

} // namespace orvx
