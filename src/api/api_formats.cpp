// The formats the library knows, in one table: how each is told from its
// first bytes, and, for an input, its reader's conversion into daz. Nothing
// outside this table (no binding, no command) tells formats apart.
#include "api/api_convert.h"
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
    {DAZ_FORMAT_DAZ, "daz", isDaz, nullptr, nullptr, NO_INPUT_ERRORS, false},
    {DAZ_FORMAT_BMP, "BMP", isBmp, convertBmpStreamToDaz, convertBmpToDaz, BMP_INPUT_ERRORS, false},
    {DAZ_FORMAT_PNG, "PNG", isPng, convertPngStreamToDaz, convertPngToDaz, PNG_INPUT_ERRORS, true},
    {DAZ_FORMAT_PGM, "PGM", isPgm, convertPgmStreamToDaz, convertPgmToDaz, PGM_INPUT_ERRORS, false},
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

} // namespace orvx

extern "C" {

daz_format daz_guess_format(const void* data, size_t size) {
    return orvx::guessFormat(static_cast<const std::uint8_t*>(data), size);
}

const char* daz_format_name(int format) {
    const orvx::FormatEntry* entry = orvx::formatEntry(format);
    return entry != nullptr ? entry->name : "unknown";
}

} // extern "C"
