// The formats the tool and the library know, in one table: how each is told
// from its first bytes, and, for an input, its reader's conversion into daz
// and its reader into RGBA. Nothing outside this table (no binding, no
// command) tells formats apart.
#include "convert/formats.h"

#include "convert/bmp_to_daz.h"
#include "convert/pgm/pgm_header.h"
#include "convert/pgm_to_daz.h"
#include "convert/png_to_daz.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace orvx {

namespace {

bool startsWith(const std::uint8_t* bytes, std::size_t size, const char* magic,
                std::size_t length) {
    return size >= length && std::memcmp(bytes, magic, length) == 0;
}

bool isDaz(const std::uint8_t* bytes, std::size_t size) {
    return startsWith(bytes, size, "EW", 2);
}

bool isBmp(const std::uint8_t* bytes, std::size_t size) {
    return startsWith(bytes, size, "BM", 2);
}

bool isPng(const std::uint8_t* bytes, std::size_t size) {
    return startsWith(bytes, size, "\x89PNG\r\n\x1a\n", 8);
}

// "P5" and the whitespace (or comment) before the width.
bool isPgm(const std::uint8_t* bytes, std::size_t size) {
    return startsWith(bytes, size, "P5", 2) && size > 2 &&
           (isPgmSpace(bytes[2]) || bytes[2] == '#');
}

constexpr InputErrors NO_INPUT_ERRORS{DAZ_ERR_FORMAT, DAZ_ERR_FORMAT};

// faultsLate: a PGM's raster is known whole before anything is written.
const std::array<FormatEntry, 4> FORMATS{{
    {DAZ_FORMAT_DAZ, "daz", isDaz, nullptr, nullptr, NO_INPUT_ERRORS, false, readDazRgba},
    {DAZ_FORMAT_BMP, "BMP", isBmp, convertBmpStreamToDaz, convertBmpToDaz, BMP_INPUT_ERRORS, false,
     readBmpRgba},
    {DAZ_FORMAT_PNG, "PNG", isPng, convertPngStreamToDaz, convertPngToDaz, PNG_INPUT_ERRORS, true,
     readPngRgba},
    {DAZ_FORMAT_PGM, "PGM", isPgm, convertPgmStreamToDaz, convertPgmToDaz, PGM_INPUT_ERRORS, false,
     readPgmRgba},
}};

} // namespace

daz_format guessFormat(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr) {
        return DAZ_FORMAT_UNKNOWN;
    }
    size = std::min<std::size_t>(size, DAZ_GUESS_BYTES);
    for (const FormatEntry& entry : FORMATS) {
        if (entry.recognises(data, size)) {
            return entry.format;
        }
    }
    return DAZ_FORMAT_UNKNOWN;
}

const FormatEntry* formatEntry(int format) {
    for (const FormatEntry& entry : FORMATS) {
        if (entry.format == format) {
            return &entry;
        }
    }
    return nullptr;
}

RgbaReader rgbaReaderFor(std::FILE* source, int& error) {
    std::array<std::uint8_t, DAZ_GUESS_BYTES> bytes{};
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), source);
    if (std::ferror(source) != 0 || std::fseek(source, 0, SEEK_SET) != 0) {
        error = DAZ_ERR_READ;
        return nullptr;
    }
    const FormatEntry* entry = formatEntry(guessFormat(bytes.data(), got));
    error = entry != nullptr ? DAZ_OK : DAZ_ERR_FORMAT;
    return entry != nullptr ? entry->readRgba : nullptr;
}

} // namespace orvx
