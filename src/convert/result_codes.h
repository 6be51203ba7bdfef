// result_codes.h - what the conversions report, for every module of a
// conversion and for the front end that turns the codes into text.
#pragma once

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

// What a conversion knows of its output once its input's headers are read,
// before it writes or holds anything.
struct OutputPlan {
    std::uint64_t width = 0; // pixels a row
    std::uint64_t rows = 0;
    std::uint64_t bytes = 0; // the output's size, exactly; UNKNOWN_SIZE when it can't be known yet
    std::uint64_t held = 0;  // bytes the conversion holds whole in memory (0: none past a chunk)
};

inline constexpr std::uint64_t UNKNOWN_SIZE = UINT64_MAX;

// The caller's say on a plan: check returns DAZ_OK to go on, or a daz_error
// to stop with before anything is written (a conversion into daz then
// returns ERR_REFUSED, one back returns that daz_error). A null PlanCheck*
// takes every plan.
struct PlanCheck {
    int (*check)(void* context, const OutputPlan& plan) = nullptr;
    void* context = nullptr;
};

// DAZ_OK when check is null or takes plan.
inline int checkPlan(const PlanCheck* check, const OutputPlan& plan) {
    return check == nullptr ? DAZ_OK : check->check(check->context, plan);
}

} // namespace orvx
