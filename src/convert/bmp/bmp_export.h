// bmp_export.h - one daz file back into an uncompressed palette bitmap.
//
// The bitmap written:
//
//   offset  size            field             content
//   ------  --------------  ----------------  ----------------------------------------
//        0  2               bfType            "BM"
//        2  4               bfSize            whole file
//        6  4               bfReserved        0
//       10  4               bfOffBits         54 + 4 * colorCount
//       14  4               biSize            40
//       18  4               biWidth           the daz width (0..65535)
//       22  4               biHeight          rows, negated when the daz height is negative
//       26  2               biPlanes          1
//       28  2               biBitCount        4 or 8
//       30  4               biCompression     0 (none)
//       34  4               biSizeImage       rows * rowSize
//       38  8               biX/YPelsPerMeter 2835 (72 dpi)
//       46  4               biClrUsed         colorCount
//       50  4               biClrImportant    0
//       54  4 * colorCount  palette           blue, green, red, the daz entry's fourth byte
//        .  rows * rowSize  pixel rows        (stored - keystream offset) mod 256
//
// rowSize = ((width * bitsPerPixel + 31) / 32) * 4. The rows are the first
// |daz height| rows of the daz pixel area, or its whole rows if it holds fewer
// (daz/daz_source.h); the bytes after them are dropped. A daz file that gives no
// row is refused (DAZ_ERR_NO_ROWS). At most 32768 rows of 65536 bytes: the
// bitmap is always under 4 GiB.
#pragma once

#include "convert/reader.h"
#include "convert/result_codes.h"
#include "output/file_ops.h"

#include <cstdint>
#include <cstdio>

namespace orvx {

inline constexpr std::uint32_t BMP_PIXELS_PER_METRE = 2835;

// The bitmap is written as destination.h describes: a failure or an
// interruption never leaves part of one, nor harms a file that was there.
int convertDazToBmp(const char* source, const char* destination, const PlanCheck* check = nullptr);
int convertDazToBmpWith(const FileOps& ops, const char* source, const char* destination,
                        const PlanCheck* check = nullptr);

// The same conversion between two streams the caller holds: source read from
// its start (it must seek), the bitmap written to out from its position. What
// out holds after a failure is the caller's.
// The two steps of the formats table's way back (reader.h).
int openBmpExport(std::FILE* source, const PlanCheck* check, ReaderState& state);
int writeBmpExport(ReaderState& state, std::FILE* out);

} // namespace orvx
