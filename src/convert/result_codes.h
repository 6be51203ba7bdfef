// result_codes.h - what the conversions report, for every module of a
// conversion and for the front end that turns the codes into text.
#pragma once

#include "convert/plan.h"
#include "daz/daz.h"

#include <cstdint>

namespace orvx {

// Zero or positive: the conversion ran to its end and the value is the number
// of pixel values (nibbles for 4 bpp, bytes for 8 bpp) that index past the kept
// palette. 64 bits wide: a 4-bit bitmap over 1 GiB can hold more than 2^31.
// Negative: one of the codes below.
using ConvertResult = std::int64_t;

inline constexpr ConvertResult ERR_READ = -1;       // source seek or read failed
inline constexpr ConvertResult ERR_WRITE = -2;      // destination write, flush or close failed
inline constexpr ConvertResult ERR_OPEN = -3;       // source can't be opened
inline constexpr ConvertResult ERR_CREATE = -4;     // destination can't be created, or is refused
inline constexpr ConvertResult ERR_NOT_BMP = -5;    // not "BM", or a layout we can't read
inline constexpr ConvertResult ERR_BAD_DEPTH = -6;  // bits per pixel neither 4 nor 8
inline constexpr ConvertResult ERR_BAD_COLORS = -7; // requested colour count out of range
inline constexpr int RESULT_CODE_COUNT = 7;         // orvx -c's codes; the next is pngdaz's alone
// A valid PNG that has to be held whole (interlaced, or going to a device or
// FIFO) and is past MAX_HELD_PNG_BYTES.
inline constexpr ConvertResult ERR_TOO_BIG_TO_HOLD = -8;

// Not a command's: the caller's check of the output plan (below) refused
// the image; the caller knows why.
inline constexpr ConvertResult ERR_REFUSED = -9;

// The way back, daz to an image file, reports the library's own daz_error
// values (daz.h): DAZ_OK, or the fault.

// The daz_errors an input format gives for ERR_NOT_BMP (not this format, or a
// layout past reading) and ERR_BAD_DEPTH (of this format, but not a kind
// that converts): each reader names its own.
struct InputErrors {
    int notThisFormat;
    int wrongKind;
};

// The one mapping of a conversion's result onto daz_error: DAZ_OK for a
// count (0 or more), else the code's daz_error, the input's own for the two
// above. ERR_REFUSED gives refused, what the check said.
int dazErrorOf(ConvertResult result, const InputErrors& input, int refused = DAZ_ERR_LIMITS);

} // namespace orvx
