// The formats as libdaz names them: the table itself is the tool's
// (src/convert/formats.cpp), shared by the commands and the library.
#include "convert/formats.h"

#include <cstring>

extern "C" {

daz_format daz_guess_format(const void* data, size_t size) {
    return orvx::guessFormat(static_cast<const std::uint8_t*>(data), size);
}

const char* daz_format_name(int format) {
    const orvx::FormatReader* reader = orvx::formatReader(format);
    return reader != nullptr ? reader->name : "unknown";
}

int daz_format_at(int index, daz_format_info* info) {
    if (info == nullptr || index < 0 || static_cast<std::size_t>(index) >= orvx::formatCount()) {
        return DAZ_ERR_ARGUMENT;
    }
    const orvx::FormatReader& reader = orvx::formatAt(static_cast<std::size_t>(index));
    std::memset(info, 0, sizeof *info);
    info->format = reader.format;
    info->name = reader.name;
    info->extensions = reader.extensions;
    info->mime_type = reader.mimeType;
    info->flags = (reader.openIndices != nullptr ? unsigned{DAZ_FORMAT_CONVERTS} : 0U) |
                  (reader.readRgba != nullptr ? unsigned{DAZ_FORMAT_LOADS} : 0U) |
                  (reader.openExport != nullptr ? unsigned{DAZ_FORMAT_EXPORTS} : 0U);
    return DAZ_OK;
}

} // extern "C"
