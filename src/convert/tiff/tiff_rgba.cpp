// The first page of a TIFF as RGBA.
//
// A palette page (1 to 8 bits) is read as its indices through its colour
// map, the same map and indices its conversion to daz keeps (libtiff's own
// RGBA of a 16-bit map scales each value by 255/65535 cut down, one less
// than the high byte Pillow and ImageMagick write and read).
//
// Every other page goes through libtiff's RGBA reader, top row first: grey,
// RGB, CMYK, YCbCr, Lab, 16-bit samples cut to 8, separate planes, strips
// or tiles. Alpha comes out unassociated: an unassociated alpha as stored
// (libtiff told to take it as is, not to multiply it in), an associated one
// divided out of the colours as Pillow does, 255 x colour / alpha cut down;
// a colour under alpha 0 stays as stored.
#include "convert/tiff/tiff_rgba.h"

#include "convert/tiff/tiff_glue.h"

#include <algorithm>
#include <limits>

namespace orvx {

namespace {

// Alpha, if any, as libtiff's RGBA reader will see it: true when it holds
// colours multiplied by alpha, which must be divided out.
bool takeAlphaAsStored(TIFF* tiff) {
    std::uint16_t count = 0;
    std::uint16_t* kinds = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds) != 1 || count == 0 ||
        kinds == nullptr) {
        return false;
    }
    if (kinds[0] == EXTRASAMPLE_ASSOCALPHA) {
        return true;
    }
    if (kinds[0] == EXTRASAMPLE_UNASSALPHA) {
        std::vector<std::uint16_t> asStored(kinds, kinds + count);
        asStored[0] = EXTRASAMPLE_ASSOCALPHA;
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, count, asStored.data());
    }
    return false;
}

void divideAlpha(std::vector<std::uint8_t>& pixels) {
    for (std::size_t at = 0; at + 3 < pixels.size(); at += 4) {
        const unsigned alpha = pixels[at + 3];
        if (alpha == 0 || alpha == 255) {
            continue;
        }
        for (std::size_t c = at; c < at + 3; ++c) {
            pixels[c] = static_cast<std::uint8_t>(std::min(255U, 255U * pixels[c] / alpha));
        }
    }
}

int readIndexedRgba(TiffHandle& handle, const TiffPage& page, RgbaImage& image) {
    int entries = 0;
    std::array<std::uint8_t, std::size_t{4} * 256> palette{};
    int result = readTiffColormap(handle, page, palette, entries);
    if (result != DAZ_OK) {
        return result;
    }
    std::vector<std::uint8_t> pixels(std::size_t{4} * page.width * page.height);
    result = forEachTiffRow(handle, page, [&](std::uint32_t top, const std::uint8_t* row) {
        std::uint8_t* out = pixels.data() + std::size_t{4} * page.width * top;
        for (std::uint32_t x = 0; x < page.width; ++x, out += 4) {
            std::copy_n(palette.data() + std::size_t{4} * row[x], 3, out);
            out[3] = 0xFF;
        }
        return DAZ_OK;
    });
    if (result != DAZ_OK) {
        return result;
    }
    image.pixels = std::move(pixels);
    image.paletteEntries = entries;
    image.palette = palette;
    return DAZ_OK;
}

int readAnyRgba(TiffHandle& handle, const TiffPage& page, RgbaImage& image) {
    TIFF* tiff = handle.tiff;
    std::array<char, 1024> why{};
    if (TIFFRGBAImageOK(tiff, why.data()) != 1) {
        return DAZ_ERR_BAD_IMAGE;
    }
    const bool divide = takeAlphaAsStored(tiff);
    const std::size_t count = std::size_t{page.width} * page.height;
    std::vector<std::uint32_t> raster(count);
    if (TIFFReadRGBAImageOriented(tiff, page.width, page.height, raster.data(), ORIENTATION_TOPLEFT,
                                  1) != 1 ||
        handle.failed || handle.cut) {
        return tiffFailure(handle);
    }
    std::vector<std::uint8_t> pixels(4 * count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t abgr = raster[i];
        pixels[4 * i] = static_cast<std::uint8_t>(TIFFGetR(abgr));
        pixels[4 * i + 1] = static_cast<std::uint8_t>(TIFFGetG(abgr));
        pixels[4 * i + 2] = static_cast<std::uint8_t>(TIFFGetB(abgr));
        pixels[4 * i + 3] = static_cast<std::uint8_t>(TIFFGetA(abgr));
    }
    if (divide) {
        divideAlpha(pixels);
    }
    image.pixels = std::move(pixels);
    return DAZ_OK;
}

} // namespace

int readTiffRgba(std::FILE* source, const PlanCheck* check, bool sizeOnly, RgbaImage& image) {
    TiffHandle handle;
    TiffPage page;
    int result = openTiff(handle, source, TIFF_HEADER_MEMORY);
    if (result == DAZ_OK) {
        result = readTiffPage(handle, page);
    }
    if (result != DAZ_OK) {
        return result;
    }
    const bool indexed = isIndexedTiff(page) && tiffOrientationKept(page);
    // Beside the pixels: libtiff's raster of as many (or the rows of
    // indices), and one strip or tile decoded.
    const std::uint64_t beside = (indexed ? std::uint64_t{page.width} * page.rowsPerStrip
                                          : std::uint64_t{4} * page.width * page.height) +
                                 page.bufferBound;
    result = checkRgbaSize(check, page.width, page.height, beside);
    if (result != DAZ_OK) {
        return result;
    }
    if (std::uint64_t{page.width} * page.height > std::numeric_limits<std::size_t>::max() / 8) {
        return DAZ_ERR_LIMITS;
    }
    image.width = page.width;
    image.height = page.height;
    if (sizeOnly) {
        return DAZ_OK;
    }
    result = reopenTiffFor(handle, page);
    if (result != DAZ_OK) {
        return result;
    }
    return indexed ? readIndexedRgba(handle, page, image) : readAnyRgba(handle, page, image);
}

} // namespace orvx
