// The TIFF's row of the formats table, and its conversion with the indices
// kept: the first page of a palette TIFF (1, 2, 4 or 8 bits a pixel, strips
// or tiles, any compression libtiff decodes) into the daz file orvx -c
// writes for the bitmap of the same picture: 4 bits a pixel up to 4 bits
// in the TIFF, 8 for 8; the colour map of 1 << bits entries, each 16-bit
// value cut to its high byte.
#include "convert/tiff/tiff_format.h"

#include "convert/daz_rows.h"
#include "convert/tiff/tiff_glue.h"
#include "convert/tiff/tiff_rgba.h"
#include "format/daz_format.h"

#include <cstring>

namespace orvx {

namespace {

// "II*\0" and "MM\0*", and BigTIFF's "II+\0" and "MM\0+".
bool isTiff(const std::uint8_t* bytes, std::size_t size) {
    return size >= 4 &&
           (std::memcmp(bytes, "II*\0", 4) == 0 || std::memcmp(bytes, "MM\0*", 4) == 0 ||
            std::memcmp(bytes, "II+\0", 4) == 0 || std::memcmp(bytes, "MM\0+", 4) == 0);
}

struct TiffIndices {
    TiffHandle handle;
    TiffPage page;
    DazRowWriter writer;
};

int openTiffIndices(std::FILE* source, const IndexRequest& request, const PlanCheck* check,
                    ReaderState& state) {
    auto* indices = holdState<TiffIndices>(state);
    if (indices == nullptr) {
        return DAZ_ERR_MEMORY;
    }
    TiffHandle& handle = indices->handle;
    TiffPage& page = indices->page;
    int result = openTiff(handle, source, TIFF_HEADER_MEMORY);
    if (result == DAZ_OK) {
        result = readTiffPage(handle, page);
    }
    if (result != DAZ_OK) {
        return result;
    }
    if (!isIndexedTiff(page)) {
        return DAZ_ERR_NOT_INDEXED;
    }
    if (!tiffOrientationKept(page)) {
        return DAZ_ERR_BAD_IMAGE;
    }
    if (page.width > DAZ_MAX_WIDTH || page.height > DAZ_MAX_HEIGHT) {
        return DAZ_ERR_LIMITS;
    }
    std::array<std::uint8_t, std::size_t{4} * 256> palette{};
    IndexedShape shape;
    result = readTiffColormap(handle, page, palette, shape.entries);
    if (result != DAZ_OK) {
        return result;
    }
    shape.width = page.width;
    shape.height = page.height;
    shape.bits = page.bits <= 4 ? 4 : 8;
    shape.palette = palette.data();
    result = planDazRows(indices->writer, shape, request, check, tiffRowsInOrder(page));
    return result == DAZ_OK ? reopenTiffFor(handle, page) : result;
}

int writeTiffIndices(ReaderState& state, const DazOutput& out, std::uint64_t* undefined) {
    auto& indices = *static_cast<TiffIndices*>(state.data);
    int result = startDazRows(indices.writer, out);
    if (result == DAZ_OK) {
        result = forEachTiffRow(indices.handle, indices.page,
                                [&indices](std::uint32_t top, const std::uint8_t* row) {
                                    return putDazRow(indices.writer, top, row);
                                });
    }
    return result == DAZ_OK ? finishDazRows(indices.writer, undefined) : result;
}

} // namespace

// Strips or tiles are decoded one at a time while the daz file is written.
const FormatReader TIFF_READER{DAZ_FORMAT_TIFF, "TIFF",          "tif tiff",       "image/tiff",
                               isTiff,          openTiffIndices, writeTiffIndices, true,
                               readTiffRgba,    nullptr,         nullptr,          false};

} // namespace orvx
