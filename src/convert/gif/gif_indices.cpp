// A GIF's first frame into daz with its indices and colour table kept, byte
// for byte as orvx -c writes the bitmap of the same image: the table's
// entries as the palette (red, green, blue, 0), 4 bits when the table has at
// most 16 entries and no index can reach 16 (an LZW code size of at most 4,
// and an index outside the frame below 16), else 8.
#include "convert/gif/gif_format.h"
#include "convert/gif/gif_source.h"

#include "convert/daz_rows.h"

#include <algorithm>
#include <array>
#include <vector>

namespace orvx {

namespace {

struct GifIndices {
    GifReading reading;
    GifFrame frame;
    DazRowWriter writer;
};

int shapeBits(const GifFrame& frame) {
    const bool small =
        frame.entries <= 16 && frame.codeSize <= 4 && (!frame.filled() || frame.fill() < 16);
    return small ? 4 : 8;
}

// A row the writer refuses holds an index past the bits, which a GIF's
// code size rules out: the image data are damaged.
int putRow(DazRowWriter& writer, std::uint32_t top, const std::uint8_t* row) {
    const int put = putDazRow(writer, top, row);
    return put == DAZ_ERR_ARGUMENT ? DAZ_ERR_BAD_IMAGE : put;
}

int writeRows(GifIndices& held) {
    const GifFrame& frame = held.frame;
    DazRowWriter& writer = held.writer;
    std::vector<std::uint8_t> row(frame.imageWidth, frame.fill());
    for (std::uint32_t y = 0; y < frame.top; ++y) {
        const int put = putRow(writer, y, row.data());
        if (put != DAZ_OK) {
            return put;
        }
    }
    for (std::uint32_t n = 0; n < frame.height; ++n) {
        const int read = readGifRow(held.reading, frame, row.data() + frame.left);
        if (read != DAZ_OK) {
            return read;
        }
        const int put = putRow(writer, frame.top + gifFrameRow(frame, n), row.data());
        if (put != DAZ_OK) {
            return put;
        }
    }
    std::fill(row.begin(), row.end(), frame.fill());
    for (std::uint32_t y = frame.top + frame.height; y < frame.imageHeight; ++y) {
        const int put = putRow(writer, y, row.data());
        if (put != DAZ_OK) {
            return put;
        }
    }
    return DAZ_OK;
}

} // namespace

int openGifIndices(std::FILE* source, const IndexRequest& request, const PlanCheck* check,
                   ReaderState& state) {
    auto* held = holdState<GifIndices>(state);
    if (held == nullptr) {
        return DAZ_ERR_MEMORY;
    }
    const int opened = openGif(source, held->reading, held->frame);
    if (opened != DAZ_OK) {
        return opened;
    }
    const GifFrame& frame = held->frame;
    // What a daz header holds.
    if (frame.imageWidth > 65535 || frame.imageHeight > 32767) {
        return DAZ_ERR_LIMITS;
    }
    std::array<std::uint8_t, std::size_t{4} * 256> palette{};
    for (std::size_t i = 0; i < static_cast<std::size_t>(frame.entries); ++i) {
        palette[4 * i] = frame.table[3 * i];
        palette[4 * i + 1] = frame.table[3 * i + 1];
        palette[4 * i + 2] = frame.table[3 * i + 2];
    }
    IndexedShape shape;
    shape.width = frame.imageWidth;
    shape.height = frame.imageHeight;
    shape.bits = shapeBits(frame);
    shape.palette = palette.data();
    shape.entries = frame.entries;
    return planDazRows(held->writer, shape, request, check, !frame.interlaced);
}

int writeGifIndices(ReaderState& state, const DazOutput& out, std::uint64_t* undefined) {
    auto& held = *static_cast<GifIndices*>(state.data);
    int result = startDazRows(held.writer, out);
    if (result == DAZ_OK) {
        result = writeRows(held);
    }
    return result == DAZ_OK ? finishDazRows(held.writer, undefined) : result;
}

} // namespace orvx
