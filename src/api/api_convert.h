// api_convert.h - what the C API's calls share: the guard that keeps
// exceptions inside a call, and the one table of the formats the library
// knows.
#pragma once

#include "convert/result_codes.h"
#include "daz/daz.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>

namespace orvx {

// Runs call, a function returning a daz_error, and keeps every exception in:
// memory that can't be had is DAZ_ERR_MEMORY, as is anything else thrown
// (the code below throws nothing else).
template <typename Call> int guarded(Call call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return DAZ_ERR_MEMORY;
    } catch (...) {
        return DAZ_ERR_MEMORY;
    }
}

// One format the library knows, told by its first bytes; for an input
// format, its conversion into daz, from the reader in src/convert. Adding an
// input format is a reader there and one row in the table (api_formats.cpp).
struct FormatEntry {
    daz_format format;
    const char* name; // daz_format_name's
    // Whether bytes[0, size) (size at most DAZ_GUESS_BYTES) start a file of
    // this format.
    bool (*recognises)(const std::uint8_t* bytes, std::size_t size);
    // Into daz between two streams, as convertBmpStreamToDaz; null for daz
    // itself.
    ConvertResult (*convertStream)(std::FILE* in, std::FILE* out, bool seekable, int colors,
                                   std::uint16_t key, const PlanCheck* check);
    // The same, file to file, with the commands' safe output.
    ConvertResult (*convertFile)(const char* source, const char* destination, int colors,
                                 std::uint16_t key, const PlanCheck* check);
    InputErrors errors;
    // The reader may find a fault after it began writing (compressed data):
    // in memory, its output is staged until it is whole.
    bool faultsLate;
};

// The format data[0, size) starts with, as daz_guess_format tells it.
daz_format guessFormat(const std::uint8_t* data, std::size_t size);

// format's row, or null for one this library doesn't know.
const FormatEntry* formatEntry(int format);

} // namespace orvx
