// The daz format's own row of the formats table: read as RGBA, for
// reduction and mapping; no input of the conversions into daz, no output.
#include "convert/daz/daz_reader.h"

#include <cstring>

namespace orvx {

namespace {

bool isDaz(const std::uint8_t* bytes, std::size_t size) {
    return size >= 2 && std::memcmp(bytes, "EW", 2) == 0;
}

} // namespace

const FormatReader DAZ_READER{DAZ_FORMAT_DAZ, "daz", "daz",       "image/x-daz", isDaz,   nullptr,
                              nullptr,        false, readDazRgba, nullptr,       nullptr, false};

} // namespace orvx
