// A daz image as a GIF: one frame, not interlaced, GIF87a. Its colour table
// is the daz palette (red, green, blue: the fourth byte has no place in a
// GIF), padded with the undefined colour (DAZ_UNDEFINED_*, as
// daz_decode_rgba shows an index past the palette) up to a power of two
// that holds every index the image uses; its indices are the daz pixels with
// the keystream taken off, exactly, top row first whichever way the daz file
// stores its rows. The key has no place in a GIF and is lost.
//
// The table's size is known only once every index has been seen: the pixel
// area is read twice, a block at a time, and nothing image-sized is held.
#include "convert/gif/gif_format.h"

#include "convert/daz/daz_source.h"

#include <algorithm>
#include <gif_lib.h>
#include <vector>

namespace orvx {

namespace {

constexpr std::size_t BLOCK_BYTES = std::size_t{1} << 20U;

struct GifExport {
    DazSource daz;
};

struct GifWriting {
    GifFileType* gif = nullptr;
    std::FILE* out = nullptr;
    bool failed = false; // a write came short

    GifWriting() = default;
    GifWriting(const GifWriting&) = delete;
    GifWriting& operator=(const GifWriting&) = delete;
    ~GifWriting() {
        if (gif != nullptr) {
            int error = 0;
            static_cast<void>(EGifCloseFile(gif, &error));
        }
    }
};

int writeForGif(GifFileType* gif, const GifByteType* data, int size) {
    auto& writing = *static_cast<GifWriting*>(gif->UserData);
    if (size <= 0) {
        return 0;
    }
    const std::size_t put = std::fwrite(data, 1, static_cast<std::size_t>(size), writing.out);
    if (put != static_cast<std::size_t>(size)) {
        writing.failed = true;
    }
    return static_cast<int>(put);
}

int failureOf(const GifWriting& writing, int giflibError) {
    return giflibError == E_GIF_ERR_NOT_ENOUGH_MEM && !writing.failed ? DAZ_ERR_MEMORY
                                                                      : DAZ_ERR_WRITE;
}

// Calls each(row) for every row of indices, one index a byte, top row
// first: DAZ_OK, DAZ_ERR_READ or each's failure.
template <typename Each> int forEachRow(DazSource& daz, Each each) {
    const bool topDown = static_cast<std::int16_t>(daz.header.height) < 0;
    const auto rowSize = static_cast<std::size_t>(daz.rowSize);
    const std::uint32_t width = daz.header.width;
    const std::uint64_t perBlock = std::max<std::size_t>(1, BLOCK_BYTES / rowSize);
    std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min(perBlock, daz.rows)) *
                                    rowSize);
    std::vector<std::uint8_t> row(width);
    for (std::uint64_t done = 0; done < daz.rows;) {
        const auto count = static_cast<std::size_t>(std::min(perBlock, daz.rows - done));
        const std::uint64_t first = topDown ? done : daz.rows - done - count;
        if (readDazPixels(daz, first * rowSize, count * rowSize, block.data()) < 0) {
            return DAZ_ERR_READ;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* stored = block.data() + (topDown ? i : count - 1 - i) * rowSize;
            if (daz.header.bitsPerPixel == 8) {
                std::copy_n(stored, width, row.begin());
            } else {
                for (std::uint32_t x = 0; x < width; ++x) {
                    const unsigned pair = stored[x / 2];
                    row[x] = static_cast<std::uint8_t>(x % 2 == 0 ? pair >> 4U : pair & 0x0FU);
                }
            }
            const int result = each(row.data());
            if (result != DAZ_OK) {
                return result;
            }
        }
        done += count;
    }
    return DAZ_OK;
}

// The smallest power of two, 2 at least, that holds count entries.
int tableBits(int count) {
    int bits = 1;
    while ((1 << bits) < count) {
        ++bits;
    }
    return bits;
}

int writeGif(DazSource& daz, int bits, std::FILE* out) {
    GifWriting writing;
    writing.out = out;
    int error = 0;
    writing.gif = EGifOpen(&writing, writeForGif, &error);
    if (writing.gif == nullptr) {
        return failureOf(writing, error);
    }
    const int entries = 1 << bits;
    ColorMapObject* map = GifMakeMapObject(entries, nullptr);
    if (map == nullptr) {
        return DAZ_ERR_MEMORY;
    }
    const int colors = daz.header.colorCount;
    for (int i = 0; i < entries; ++i) {
        GifColorType& colour = map->Colors[i];
        if (i < colors) {
            const std::uint8_t* entry = daz.palette + PALETTE_ENTRY_SIZE * static_cast<unsigned>(i);
            colour = GifColorType{entry[0], entry[1], entry[2]};
        } else {
            colour = GifColorType{DAZ_UNDEFINED_RED, DAZ_UNDEFINED_GREEN, DAZ_UNDEFINED_BLUE};
        }
    }
    // giflib copies the table.
    const int width = daz.header.width;
    const auto rows = static_cast<int>(daz.rows);
    const int started = EGifPutScreenDesc(writing.gif, width, rows, 8, 0, map);
    GifFreeMapObject(map);
    if (started == GIF_ERROR ||
        EGifPutImageDesc(writing.gif, 0, 0, width, rows, false, nullptr) == GIF_ERROR) {
        return failureOf(writing, writing.gif->Error);
    }
    const int written = forEachRow(daz, [&writing, width](std::uint8_t* row) {
        return EGifPutLine(writing.gif, row, width) == GIF_ERROR
                   ? failureOf(writing, writing.gif->Error)
                   : int{DAZ_OK};
    });
    if (written != DAZ_OK) {
        return written;
    }
    GifFileType* gif = writing.gif;
    writing.gif = nullptr;
    if (EGifCloseFile(gif, &error) == GIF_ERROR || writing.failed) {
        return failureOf(writing, error);
    }
    return DAZ_OK;
}

} // namespace

int openGifExport(std::FILE* daz, const PlanCheck* check, ReaderState& state) {
    auto* held = holdState<GifExport>(state);
    if (held == nullptr) {
        return DAZ_ERR_MEMORY;
    }
    const int opened = openDazSource(daz, held->daz);
    if (opened != DAZ_OK) {
        return opened;
    }
    OutputPlan plan;
    plan.width = held->daz.header.width;
    plan.rows = held->daz.rows;
    plan.bytes = UNKNOWN_SIZE;
    return checkPlan(check, plan);
}

int writeGifExport(ReaderState& state, std::FILE* out) {
    DazSource& daz = static_cast<GifExport*>(state.data)->daz;
    int highest = 0;
    const int seen = forEachRow(daz, [&highest, &daz](const std::uint8_t* row) {
        highest = std::max<int>(highest, *std::max_element(row, row + daz.header.width));
        return int{DAZ_OK};
    });
    if (seen != DAZ_OK) {
        return seen;
    }
    return writeGif(daz, tableBits(std::max<int>(daz.header.colorCount, highest + 1)), out);
}

} // namespace orvx
