// result_codes.h - what the conversions report, for every module of a
// conversion and for the front end that turns the codes into text.
#pragma once

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

// The way back, daz to an image file: 0 on success, else one of these.
using DecodeResult = int;

inline constexpr DecodeResult DECODE_OK = 0;
inline constexpr DecodeResult DECODE_ERR_OPEN = -1;       // daz file can't be opened
inline constexpr DecodeResult DECODE_ERR_READ = -2;       // daz file seek or read failed
inline constexpr DecodeResult DECODE_ERR_NOT_DAZ = -3;    // no "EW" magic
inline constexpr DecodeResult DECODE_ERR_BAD_DEPTH = -4;  // bits per pixel neither 4 nor 8
inline constexpr DecodeResult DECODE_ERR_BAD_COLORS = -5; // colorCount outside 1..16 or 1..256
inline constexpr DecodeResult DECODE_ERR_SHORT = -6;      // shorter than its header and palette
inline constexpr DecodeResult DECODE_ERR_TOO_BIG = -7;    // unused now: |height| bounds the rows
inline constexpr DecodeResult DECODE_ERR_CREATE = -8;     // image can't be created, or is refused
inline constexpr DecodeResult DECODE_ERR_WRITE = -9;      // image write, flush or close failed
inline constexpr DecodeResult DECODE_ERR_NO_ROWS = -10;   // not one whole row of pixels
inline constexpr int DECODE_CODE_COUNT = 10;

} // namespace orvx
