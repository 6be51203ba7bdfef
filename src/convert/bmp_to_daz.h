// bmp_to_daz.h - one palette bitmap (4 or 8 bits per pixel) into one daz file.
#pragma once

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
// leaves part of one, nor harms a file that was there before. check (null:
// none) is asked about the daz file once the headers are read, before the
// destination is touched; ERR_REFUSED when it refuses.
ConvertResult convertBmpToDaz(const char* source, const char* destination, int requestedColors,
                              std::uint16_t key, const PlanCheck* check = nullptr);
ConvertResult convertBmpToDazWith(const FileOps& ops, const char* source, const char* destination,
                                  int requestedColors, std::uint16_t key,
                                  const PlanCheck* check = nullptr);

// The same conversion between two streams the caller holds: source read from
// its start (it must seek), the daz file written to out from its position.
// No output file's life here: what out holds after a failure is the caller's.
// seekable is not used (the bitmap's rows are written in order); it is there
// so that every reader's stream call has one shape.
ConvertResult convertBmpStreamToDaz(std::FILE* source, std::FILE* out, bool seekable,
                                    int requestedColors, std::uint16_t key,
                                    const PlanCheck* check = nullptr);

} // namespace orvx
