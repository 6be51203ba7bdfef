// bmp_to_daz.h - one palette bitmap (4 or 8 bits per pixel) into one daz file.
#pragma once

#include "output/file_ops.h"
#include "convert/result_codes.h"

#include <cstdint>
#include <cstdio>

namespace orvx {

// requestedColors: palette entries to keep, 0 for all of them. An int, so that
// a count outside 16 bits stays out of range instead of wrapping. The daz file
// is written as destination.h describes: a failure or an interruption never
// leaves part of one, nor harms a file that was there before.
ConvertResult convertBmpToDaz(const char* source, const char* destination, int requestedColors,
                              std::uint16_t key);
ConvertResult convertBmpToDazWith(const FileOps& ops, const char* source, const char* destination,
                                  int requestedColors, std::uint16_t key);

// The same conversion between two streams the caller holds: source read from
// its start (it must seek), the daz file written to out from its position.
// No output file's life here: what out holds after a failure is the caller's.
ConvertResult convertBmpStreamToDaz(std::FILE* source, std::FILE* out, int requestedColors,
                                    std::uint16_t key);

} // namespace orvx
