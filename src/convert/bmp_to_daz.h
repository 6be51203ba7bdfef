// bmp_to_daz.h - one palette bitmap (4 or 8 bits per pixel) into one daz file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Zero or positive: the conversion ran to its end and the value is the number
// of pixel values (nibbles for 4 bpp, bytes for 8 bpp) that index past the kept
// palette. 64 bits wide: a 4-bit bitmap over 1 GiB can hold more than 2^31.
// Negative: one of the codes below.
using ConvertResult = std::int64_t;

inline constexpr ConvertResult ERR_READ = -1;      // source seek or read failed
inline constexpr ConvertResult ERR_WRITE = -2;     // destination write, flush or close failed
inline constexpr ConvertResult ERR_OPEN = -3;      // source can't be opened
inline constexpr ConvertResult ERR_CREATE = -4;    // destination can't be created, or is the source
inline constexpr ConvertResult ERR_NOT_BMP = -5;   // not "BM", or a layout we can't read
inline constexpr ConvertResult ERR_BAD_DEPTH = -6; // bits per pixel neither 4 nor 8
inline constexpr ConvertResult ERR_BAD_COLORS = -7; // requested colour count out of range
inline constexpr int RESULT_CODE_COUNT = 7;

// The pixel area streams through one buffer of this size.
inline constexpr std::size_t CHUNK_SIZE = 32768;

// How the conversion opens its two files. Everything else it does to them goes
// through the returned stdio streams, so a test can hand it streams that fail
// at any chosen call.
struct FileOps {
    std::FILE* (*openSource)(const char* path);
    std::FILE* (*openDestination)(const char* path);
};

// fopen(path, "rb") and fopen(path, "wb"), both without a stdio buffer.
const FileOps& stdioFileOps();

// requestedColors: palette entries to keep, 0 for all of them. An int, so that
// a count outside 16 bits stays out of range instead of wrapping.
ConvertResult convertBmpToDaz(const char* source, const char* destination, int requestedColors,
                              std::uint16_t key);
ConvertResult convertBmpToDazWith(const FileOps& ops, const char* source, const char* destination,
                                  int requestedColors, std::uint16_t key);
