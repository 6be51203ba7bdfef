#include "convert/tiff/tiff_glue.h"

#include "platform/platform.h"

#include <cstdarg>
#include <limits>

namespace orvx {

namespace {

TiffHandle& handleOf(thandle_t data) {
    return *static_cast<TiffHandle*>(data);
}

tmsize_t readForTiff(thandle_t data, void* buffer, tmsize_t size) {
    TiffHandle& handle = handleOf(data);
    if (size <= 0) {
        return 0;
    }
    const std::size_t asked = static_cast<std::size_t>(size);
    const std::size_t got = std::fread(buffer, 1, asked, handle.file);
    handle.position += got;
    if (got != asked) {
        handle.cut = true;
    }
    return static_cast<tmsize_t>(got);
}

tmsize_t writeForTiff(thandle_t /*data*/, void* /*buffer*/, tmsize_t /*size*/) {
    return 0; // read only
}

toff_t seekForTiff(thandle_t data, toff_t offset, int whence) {
    constexpr auto FAILED = static_cast<toff_t>(-1);
    TiffHandle& handle = handleOf(data);
    std::int64_t base = 0;
    if (whence == SEEK_CUR) {
        base = static_cast<std::int64_t>(handle.position);
    } else if (whence == SEEK_END) {
        base = fileSize(handle.file);
    }
    // An offset back from the end comes wrapped round.
    const auto target = static_cast<std::int64_t>(static_cast<std::uint64_t>(base) + offset);
    if (base < 0 || target < 0 || seekFile(handle.file, target) != 0) {
        static_cast<void>(seekFile(handle.file, static_cast<std::int64_t>(handle.position)));
        return FAILED;
    }
    handle.position = static_cast<std::uint64_t>(target);
    return static_cast<toff_t>(target);
}

int closeForTiff(thandle_t /*data*/) {
    return 0; // the stream is the driver's
}

toff_t sizeForTiff(thandle_t data) {
    TiffHandle& handle = handleOf(data);
    const std::int64_t size = fileSize(handle.file);
    if (size < 0 || seekFile(handle.file, static_cast<std::int64_t>(handle.position)) != 0) {
        return 0;
    }
    return static_cast<toff_t>(size);
}

int mapForTiff(thandle_t /*data*/, void** /*base*/, toff_t* /*size*/) {
    return 0; // never mapped
}

void unmapForTiff(thandle_t /*data*/, void* /*base*/, toff_t /*size*/) {}

// Errors and warnings, each kept to its handle and never printed: 1 tells
// libtiff it is handled.
int keepTiffError(TIFF* /*tiff*/, void* data, const char* /*module*/, const char* format,
                  va_list args) {
    auto& handle = *static_cast<TiffHandle*>(data);
    if (!handle.failed) {
        std::vsnprintf(handle.message.data(), handle.message.size(), format, args);
    }
    handle.failed = true;
    return 1;
}

int dropTiffWarning(TIFF* /*tiff*/, void* /*data*/, const char* /*module*/, const char* /*format*/,
                    va_list /*args*/) {
    return 1;
}

} // namespace

void TiffHandle::close() {
    if (tiff != nullptr) {
        TIFFClose(tiff);
        tiff = nullptr;
    }
}

int openTiff(TiffHandle& handle, std::FILE* file, std::uint64_t maxAlloc) {
    handle.close();
    handle.file = file;
    handle.cut = false;
    handle.failed = false;
    handle.position = 0;
    if (seekFile(file, 0) != 0) {
        return DAZ_ERR_READ;
    }
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        return DAZ_ERR_MEMORY;
    }
    constexpr auto MOST = static_cast<std::uint64_t>(std::numeric_limits<tmsize_t>::max());
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(std::min(maxAlloc, MOST)));
    TIFFOpenOptionsSetErrorHandlerExtR(options, keepTiffError, &handle);
    TIFFOpenOptionsSetWarningHandlerExtR(options, dropTiffWarning, &handle);
    // "m": no mapping; the stream may be memory already.
    handle.tiff = TIFFClientOpenExt("daz", "rm", &handle, readForTiff, writeForTiff, seekForTiff,
                                    closeForTiff, sizeForTiff, mapForTiff, unmapForTiff, options);
    TIFFOpenOptionsFree(options);
    return handle.tiff != nullptr ? DAZ_OK : tiffFailure(handle);
}

int tiffFailure(const TiffHandle& handle) {
    return handle.cut ? DAZ_ERR_READ : DAZ_ERR_BAD_IMAGE;
}

int readTiffPage(TiffHandle& handle, TiffPage& page) {
    TIFF* tiff = handle.tiff;
    if (TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &page.width) != 1 ||
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &page.height) != 1 || page.width == 0 ||
        page.height == 0) {
        return DAZ_ERR_BAD_IMAGE;
    }
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &page.bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &page.samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &page.planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &page.orientation);
    if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &page.photometric) != 1) {
        page.photometric = std::numeric_limits<std::uint16_t>::max(); // none: libtiff guesses
    }
    page.tiled = TIFFIsTiled(tiff) != 0;
    std::uint64_t across = page.width;
    if (page.tiled) {
        std::uint32_t tileHeight = 0;
        if (TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &page.tileWidth) != 1 ||
            TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight) != 1 || page.tileWidth == 0 ||
            tileHeight == 0) {
            return DAZ_ERR_BAD_IMAGE;
        }
        page.rowsPerStrip = tileHeight;
        across = page.tileWidth;
    } else {
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &page.rowsPerStrip);
        page.rowsPerStrip = std::max<std::uint32_t>(1, std::min(page.rowsPerStrip, page.height));
    }
    const std::uint64_t sampleBytes = (std::uint64_t{page.bits} + 7) / 8;
    // Bounded by the sizes' 32 bits each: no overflow.
    page.bufferBound = across * page.rowsPerStrip * std::max<std::uint16_t>(page.samples, 4) *
                       std::max<std::uint64_t>(sampleBytes, 1);
    return DAZ_OK;
}

int reopenTiffFor(TiffHandle& handle, const TiffPage& page) {
    const std::uint64_t wanted = page.bufferBound + (std::uint64_t{1} << 20U);
    if (wanted <= TIFF_HEADER_MEMORY) {
        return DAZ_OK;
    }
    return openTiff(handle, handle.file, wanted);
}

bool isIndexedTiff(const TiffPage& page) {
    return page.photometric == PHOTOMETRIC_PALETTE && page.samples == 1 &&
           (page.bits == 1 || page.bits == 2 || page.bits == 4 || page.bits == 8);
}

int readTiffColormap(TiffHandle& handle, const TiffPage& page,
                     std::array<std::uint8_t, std::size_t{4} * 256>& palette, int& entries) {
    std::uint16_t* red = nullptr;
    std::uint16_t* green = nullptr;
    std::uint16_t* blue = nullptr;
    if (TIFFGetField(handle.tiff, TIFFTAG_COLORMAP, &red, &green, &blue) != 1 || red == nullptr ||
        green == nullptr || blue == nullptr) {
        return DAZ_ERR_BAD_IMAGE;
    }
    entries = 1 << page.bits;
    const auto count = static_cast<std::size_t>(entries);
    bool wide = false;
    for (std::size_t i = 0; i < count; ++i) {
        wide = wide || red[i] > 255 || green[i] > 255 || blue[i] > 255;
    }
    const unsigned shift = wide ? 8U : 0U;
    for (std::size_t i = 0; i < count; ++i) {
        palette[4 * i] = static_cast<std::uint8_t>(red[i] >> shift);
        palette[4 * i + 1] = static_cast<std::uint8_t>(green[i] >> shift);
        palette[4 * i + 2] = static_cast<std::uint8_t>(blue[i] >> shift);
        palette[4 * i + 3] = 0;
    }
    return DAZ_OK;
}

bool tiffOrientationKept(const TiffPage& page) {
    return page.orientation >= ORIENTATION_TOPLEFT && page.orientation <= ORIENTATION_BOTLEFT;
}

bool tiffRowsInOrder(const TiffPage& page) {
    return page.orientation == ORIENTATION_TOPLEFT || page.orientation == ORIENTATION_TOPRIGHT;
}

void unpackTiffIndices(const std::uint8_t* packed, std::uint32_t count, int bits,
                       std::uint8_t* out) {
    if (bits == 8) {
        std::copy(packed, packed + count, out);
        return;
    }
    const auto width = static_cast<unsigned>(bits);
    const unsigned mask = (1U << width) - 1U;
    const unsigned perByte = 8U / width;
    for (std::uint32_t x = 0; x < count; ++x) {
        const unsigned shift = 8U - width * (x % perByte + 1U);
        out[x] = static_cast<std::uint8_t>((unsigned{packed[x / perByte]} >> shift) & mask);
    }
}

} // namespace orvx
