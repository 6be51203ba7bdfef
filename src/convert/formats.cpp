// The formats the library knows, one row each. A new format is a folder
// src/convert/<format>/ (its reader behind the shape of reader.h, and its
// format.cmake), a row here and its daz_format value in daz.h.
#include "convert/formats.h"

#include "convert/bmp/bmp_format.h"
#include "convert/daz/daz_reader.h"
#include "convert/pgm/pgm_format.h"
#include "convert/png/png_format.h"
#if ORVX_HAVE_GIF
#include "convert/gif/gif_format.h"
#endif
#if ORVX_HAVE_JPEG
#include "convert/jpeg/jpeg_format.h"
#endif
#if ORVX_HAVE_WEBP
#include "convert/webp/webp_format.h"
#endif
#if ORVX_HAVE_HEIF
#include "convert/heif/heif_format.h"
#endif

#include <algorithm>
#include <array>
#include <iterator>

namespace orvx {

namespace {

// In the order they are tried: no two recognise the same bytes.
// A row a line, each behind its build's condition.
// clang-format off
const FormatReader* const FORMATS[] = {
    &DAZ_READER,
    &BMP_READER,
    &PNG_READER,
    &PGM_READER,
#if ORVX_HAVE_GIF
    &GIF_READER,
#endif
#if ORVX_HAVE_JPEG
    &JPEG_READER,
#endif
#if ORVX_HAVE_WEBP
    &WEBP_READER,
#endif
#if ORVX_HAVE_HEIF
    &HEIF_READER,
    &AVIF_READER,
#endif
};
// clang-format on

} // namespace

daz_format guessFormat(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr) {
        return DAZ_FORMAT_UNKNOWN;
    }
    size = std::min<std::size_t>(size, DAZ_GUESS_BYTES);
    for (const FormatReader* reader : FORMATS) {
        if (reader->recognises(data, size)) {
            return reader->format;
        }
    }
    return DAZ_FORMAT_UNKNOWN;
}

const FormatReader* formatReader(int format) {
    for (const FormatReader* reader : FORMATS) {
        if (reader->format == format) {
            return reader;
        }
    }
    return nullptr;
}

std::size_t formatCount() {
    return std::size(FORMATS);
}

const FormatReader& formatAt(std::size_t index) {
    return *FORMATS[index];
}

const FormatReader* readerFor(std::FILE* source, int& error) {
    std::array<std::uint8_t, DAZ_GUESS_BYTES> bytes{};
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), source);
    if (std::ferror(source) != 0 || std::fseek(source, 0, SEEK_SET) != 0) {
        error = DAZ_ERR_READ;
        return nullptr;
    }
    const FormatReader* reader = formatReader(guessFormat(bytes.data(), got));
    error = reader != nullptr ? DAZ_OK : DAZ_ERR_FORMAT;
    return reader;
}

} // namespace orvx
