// The formats as libdaz names them: the table itself is the tool's
// (src/convert/formats.cpp), shared by the commands and the library.
#include "convert/formats.h"

extern "C" {

daz_format daz_guess_format(const void* data, size_t size) {
    return orvx::guessFormat(static_cast<const std::uint8_t*>(data), size);
}

const char* daz_format_name(int format) {
    const orvx::FormatEntry* entry = orvx::formatEntry(format);
    return entry != nullptr ? entry->name : "unknown";
}

} // extern "C"
