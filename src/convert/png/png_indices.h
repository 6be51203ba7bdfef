// png_indices.h - one indexed PNG into one daz file.
//
// The daz file is byte for byte what the BMP path writes for the canonical
// bitmap of the same image: a 40-byte info header, rows bottom-up, bits per
// pixel the PNG's bit depth (1- and 2-bit indices widened to 4 bits, their
// values unchanged), biClrUsed the number of PLTE entries, the palette the
// PLTE in order, each row padded with zeros to a multiple of 4 bytes. So the
// colour count, the key and the count of undefined pixels behave the same.
// tRNS and every other ancillary chunk are read past and ignored.
//
// Checks, in this order: open (DAZ_ERR_OPEN), the PNG signature (DAZ_ERR_NOT_PNG, or
// DAZ_ERR_READ when a file too short to say holds its start), the IHDR: colour
// type 3 only (DAZ_ERR_PNG_NOT_PALETTE), a width of 1..65535 and a height of 1..32767,
// what the daz header holds (DAZ_ERR_NOT_PNG); the chunks up to the image data,
// with a PLTE of 1 to 2^depth entries (DAZ_ERR_NOT_PNG if corrupt, DAZ_ERR_READ if the
// file ends); the colour count (DAZ_ERR_COLORS); then the destination
// (DAZ_ERR_CREATE). Broken image data, a bad CRC or a file that ends early after
// that give DAZ_ERR_NOT_PNG or DAZ_ERR_READ and leave no daz file. The file is read up
// to IEND (DAZ_ERR_READ if it ends first); after the image data only ancillary
// chunks may come: IHDR, PLTE, a critical chunk unknown to PNG, or IDAT after
// another chunk give DAZ_ERR_NOT_PNG. IDATs with nothing between them are one
// stream of image data.
//
// Memory: rows arrive top-down and the daz file stores them bottom-up. Each
// row's keystream offsets depend only on where it lands, so a non-interlaced
// PNG going to a regular file has each row encoded and written in its final
// place, in blocks of PNG_BLOCK_BYTES: a few MiB whatever the image. An
// interlaced PNG, or one going to a device or a FIFO, is held whole (as
// packed indices) before it is written, and refused with DAZ_ERR_TOO_BIG_TO_HOLD
// past MAX_HELD_PNG_BYTES: at once when interlaced, once the destination is
// known to be a device or FIFO otherwise; either way before any pixel is
// decoded.
#pragma once

#include "convert/reader.h"
#include "convert/result_codes.h"
#include "output/file_ops.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace orvx {

inline constexpr std::size_t PNG_BLOCK_BYTES = std::size_t{1} << 20U;
inline constexpr std::uint64_t MAX_HELD_PNG_BYTES = std::uint64_t{256} << 20U;

// pngdaz's conversion: the PNG at source into a daz file at destination,
// as destination.h writes it. DAZ_OK with *undefined (may be null) the
// count of undefined pixels, or a daz_error.
int convertPngToDaz(const char* source, const char* destination, int requestedColors,
                    std::uint16_t key, std::uint64_t* undefined = nullptr);
int convertPngToDazWith(const FileOps& ops, const char* source, const char* destination,
                        int requestedColors, std::uint16_t key, std::uint64_t* undefined = nullptr);

// The two steps of the PNG's conversion in the formats table (reader.h).
// The plan's held is the image held whole when interlaced; one going to a
// stream that can't seek is held whole too.
int openPngIndices(std::FILE* source, const IndexRequest& request, const PlanCheck* check,
                   ReaderState& state);
int writePngIndices(ReaderState& state, const DazOutput& out, std::uint64_t* undefined);

} // namespace orvx
