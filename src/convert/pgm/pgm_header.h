// pgm_header.h - a binary PGM's header (netpbm's "P5"), read as netpbm reads
// it:
//
//   "P5", then the width, the height and maxval, each an unsigned decimal
//   number after whitespace (blank, tab, CR, LF: netpbm's four). A comment,
//   '#' to the end of its line (CR or LF), counts as whitespace wherever
//   whitespace may stand. After maxval, one whitespace character (or a
//   comment and the end of its line), then the raster: height rows of width
//   samples, top row first, one byte each when maxval is below 256.
//
// Stricter than netpbm in one way: a field must end in whitespace, where
// netpbm takes any character after its digits.
#pragma once

#include "convert/pgm/netpbm.h"
#include "convert/result_codes.h"

#include <cstdint>
#include <cstdio>

namespace orvx {

// One byte a sample up to this; past it, two (which no daz image holds).
inline constexpr std::uint32_t PGM_MAX_BYTE_MAXVAL = 255;

struct PgmHeader {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t maxval = 0;
    std::uint64_t rasterOffset = 0; // where the first sample lies in the file
};

// Whether c is whitespace to netpbm.
constexpr bool isPgmSpace(int c) {
    return isNetpbmSpace(c);
}

// Reads the header from the stream's position (the file's start), a piece at
// a time: a comment may be of any length. Each field is checked once read,
// before anything after it: ERR_NOT_BMP for what is not a PGM this reads
// ("P5" missing, a field that is not a number or is not followed by
// whitespace, a width outside 1..65535 or a height outside 1..32767, what a
// daz header holds with its rows bottom-up, a maxval of 0), ERR_BAD_DEPTH for
// a maxval past 255 (two bytes a sample), ERR_READ when the stream fails or
// ends before the raster starts. 0 on success; the stream is then anywhere.
ConvertResult readPgmHeader(std::FILE* source, PgmHeader& header);

} // namespace orvx
