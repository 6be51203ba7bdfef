// tiff_glue.h - libtiff over the stream the driver gives (a file or a
// memory stream), one handle at a time and every message kept to the
// handle: nothing printed, no process-wide handler, libtiff's own
// allocations bounded.
#pragma once

#include "convert/reader.h"

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace orvx {

// libtiff's allocations, one at a time, while the directory is read: enough
// for the offsets of any strip layout of a picture the daz header holds.
inline constexpr std::uint64_t TIFF_HEADER_MEMORY = std::uint64_t{64} << 20U;

// An open TIFF on a stream, at its first page. Not movable: libtiff holds
// its address.
struct TiffHandle {
    std::FILE* file = nullptr;
    TIFF* tiff = nullptr;
    std::uint64_t position = 0;      // the stream's, as libtiff's reads and seeks left it
    bool cut = false;                // a read came back short: the file ends too soon
    bool failed = false;             // libtiff reported an error
    std::array<char, 160> message{}; // its first error, for a debugger

    TiffHandle() = default;
    TiffHandle(const TiffHandle&) = delete;
    TiffHandle& operator=(const TiffHandle&) = delete;
    ~TiffHandle() { close(); }
    void close();
};

// What the first page's directory says, checked for what this reader needs.
struct TiffPage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bits = 1;
    std::uint16_t samples = 1;
    std::uint16_t photometric = 0;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    bool tiled = false;
    std::uint32_t rowsPerStrip = 0; // strips: rows a strip; tiles: rows a tile
    std::uint32_t tileWidth = 0;
    // The most bytes one strip or tile (of every plane) holds decoded, as
    // samples of whole bytes: a bound on what libtiff decodes at a time.
    std::uint64_t bufferBound = 0;
};

// Opens the TIFF at the stream's start (it seeks), libtiff's allocations each
// at most maxAlloc bytes. DAZ_OK, DAZ_ERR_READ (cut short), DAZ_ERR_MEMORY,
// DAZ_ERR_BAD_IMAGE.
int openTiff(TiffHandle& handle, std::FILE* file, std::uint64_t maxAlloc);

// The page's directory: DAZ_ERR_BAD_IMAGE when a size is 0 or missing.
int readTiffPage(TiffHandle& handle, TiffPage& page);

// The handle reopened with room for one strip or tile of the page decoded,
// when that is past what it was opened with.
int reopenTiffFor(TiffHandle& handle, const TiffPage& page);

// The result of libtiff's failure: DAZ_ERR_READ when the file ended first.
int tiffFailure(const TiffHandle& handle);

// Whether the page holds indices into a colour map this reader keeps: one
// sample of 1, 2, 4 or 8 bits, photometric palette.
bool isIndexedTiff(const TiffPage& page);

// The colour map as 8-bit entries of red, green, blue and 0, 1 << bits of
// them: each 16-bit value's high byte, or the value itself when no value
// of the map is past 255 (a writer that stored 8-bit values).
int readTiffColormap(TiffHandle& handle, const TiffPage& page,
                     std::array<std::uint8_t, std::size_t{4} * 256>& palette, int& entries);

// Each row of indices of an indexed page, one index a byte, in the order
// the file stores them: put(top, indices) with top the row's place from
// the top of the picture (orientations 1 to 4: rows flipped or mirrored as
// the page says). A put's non-DAZ_OK ends the reading with it.
template <typename Put> int forEachTiffRow(TiffHandle& handle, const TiffPage& page, Put put);

// Whether the rows come top row first, and each as stored.
bool tiffRowsInOrder(const TiffPage& page);
// Whether forEachTiffRow takes the page's orientation (1 to 4).
bool tiffOrientationKept(const TiffPage& page);

// The pieces forEachTiffRow is made of.
// count indices of bits each, packed from the high bits of each byte down.
void unpackTiffIndices(const std::uint8_t* packed, std::uint32_t count, int bits,
                       std::uint8_t* out);

template <typename Put> int forEachTiffRow(TiffHandle& handle, const TiffPage& page, Put put) {
    TIFF* tiff = handle.tiff;
    const std::uint32_t width = page.width;
    const bool flip =
        page.orientation == ORIENTATION_BOTLEFT || page.orientation == ORIENTATION_BOTRIGHT;
    const bool mirror =
        page.orientation == ORIENTATION_TOPRIGHT || page.orientation == ORIENTATION_BOTRIGHT;
    const std::uint32_t band = page.rowsPerStrip;
    const std::uint32_t across = page.tiled ? page.tileWidth : width;
    const std::uint64_t pieceSize = page.tiled ? TIFFTileSize64(tiff) : TIFFStripSize64(tiff);
    const std::uint64_t pieceRow = page.tiled ? TIFFTileRowSize64(tiff) : TIFFScanlineSize64(tiff);
    if (pieceSize == 0 || pieceRow == 0 || pieceRow < (std::uint64_t{across} * page.bits + 7) / 8 ||
        pieceSize < pieceRow * band) {
        return DAZ_ERR_BAD_IMAGE;
    }
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(pieceSize));
    std::vector<std::uint8_t> rows(std::size_t{width} * band);
    std::vector<std::uint8_t> mirrored(mirror ? width : 0);
    for (std::uint32_t y = 0; y < page.height; y += band) {
        const std::uint32_t count = std::min(band, page.height - y);
        for (std::uint32_t x = 0; x < width; x += across) {
            const std::uint32_t span = std::min(across, width - x);
            const tmsize_t got =
                page.tiled ? TIFFReadEncodedTile(tiff, TIFFComputeTile(tiff, x, y, 0, 0),
                                                 piece.data(), static_cast<tmsize_t>(pieceSize))
                           : TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, y, 0), piece.data(),
                                                  static_cast<tmsize_t>(pieceRow * count));
            if (got < 0 || handle.failed || handle.cut) {
                return tiffFailure(handle);
            }
            for (std::uint32_t r = 0; r < count; ++r) {
                unpackTiffIndices(piece.data() + pieceRow * r, span, page.bits,
                                  rows.data() + std::size_t{width} * r + x);
            }
        }
        for (std::uint32_t r = 0; r < count; ++r) {
            const std::uint8_t* row = rows.data() + std::size_t{width} * r;
            if (mirror) {
                std::reverse_copy(row, row + width, mirrored.data());
                row = mirrored.data();
            }
            const std::uint32_t stored = y + r;
            const int result = put(flip ? page.height - 1 - stored : stored, row);
            if (result != DAZ_OK) {
                return result;
            }
        }
    }
    return DAZ_OK;
}

} // namespace orvx
