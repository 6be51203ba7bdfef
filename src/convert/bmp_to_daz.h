// bmp_to_daz.h - one palette bitmap (4 or 8 bits per pixel) into one daz file.
#pragma once

#include "convert/reader.h"
#include "convert/result_codes.h"
#include "output/file_ops.h"

#include <cstdint>
#include <cstdio>

namespace orvx {

// A bitmap's faults as the library names them.
inline constexpr InputErrors BMP_INPUT_ERRORS{DAZ_ERR_NOT_BMP, DAZ_ERR_BMP_BITS};

// requestedColors: palette entries to keep, 0 for all of them. An int, so that
// a count outside 16 bits stays out of range instead of wrapping. The daz file
// is written as destination.h describes: a failure or an interruption never
// leaves part of one, nor harms a file that was there before. The command's
// own result: the count of undefined pixels, or one of orvx -c's codes.
ConvertResult convertBmpToDaz(const char* source, const char* destination, int requestedColors,
                              std::uint16_t key);
ConvertResult convertBmpToDazWith(const FileOps& ops, const char* source, const char* destination,
                                  int requestedColors, std::uint16_t key);

// The command's code for a library result: DAZ_OK gives the count of
// undefined pixels, the errors orvx -c's seven codes (memory and every other
// failure of the input counting as a failed read) and pngdaz's -8.
ConvertResult resultCodeOf(int error, std::uint64_t undefined);

} // namespace orvx
