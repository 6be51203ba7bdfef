// daz_to_bmp.h - one daz file back into an uncompressed palette bitmap.
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
// rowSize = ((width * bitsPerPixel + 31) / 32) * 4; rows = pixel-area bytes / rowSize.
// Bytes after the last whole row are dropped.
#pragma once

#include "convert/file_ops.h"

#include <cstdint>

using DecodeResult = int;

inline constexpr DecodeResult DECODE_OK = 0;
inline constexpr DecodeResult DECODE_ERR_OPEN = -1;       // daz file can't be opened
inline constexpr DecodeResult DECODE_ERR_READ = -2;       // daz file seek or read failed
inline constexpr DecodeResult DECODE_ERR_NOT_DAZ = -3;    // no "EW" magic
inline constexpr DecodeResult DECODE_ERR_BAD_DEPTH = -4;  // bits per pixel neither 4 nor 8
inline constexpr DecodeResult DECODE_ERR_BAD_COLORS = -5; // colorCount outside 1..16 or 1..256
inline constexpr DecodeResult DECODE_ERR_SHORT = -6;      // shorter than its header and palette
inline constexpr DecodeResult DECODE_ERR_TOO_BIG = -7;    // rows past what a BMP can state
inline constexpr DecodeResult DECODE_ERR_CREATE = -8; // bitmap can't be created, or is the input
inline constexpr DecodeResult DECODE_ERR_WRITE = -9;  // bitmap write, flush or close failed
inline constexpr int DECODE_CODE_COUNT = 9;

inline constexpr std::uint32_t BMP_PIXELS_PER_METRE = 2835;

// The bitmap is written as destination.h describes: a failure or an
// interruption never leaves part of one, nor harms a file that was there.
DecodeResult convertDazToBmp(const char* source, const char* destination);
DecodeResult convertDazToBmpWith(const FileOps& ops, const char* source, const char* destination);
