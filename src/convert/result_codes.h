// result_codes.h - what a BMP to daz conversion reports, for every module of
// the conversion and for the front end that turns the codes into text.
#pragma once

#include <cstdint>

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
inline constexpr int RESULT_CODE_COUNT = 7;
