// formats.h - the formats the tool and the library know, in one table: how
// each is told from its first bytes, its reader's conversion into daz, and
// its reader into RGBA. Nothing outside this table (no binding, no command)
// tells formats apart; libdaz's calls and the rgbdaz command both ask it.
#pragma once

#include "convert/result_codes.h"
#include "convert/rgba_readers.h"
#include "daz/daz.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace orvx {

// One format, told by its first bytes; for an input format, its conversion
// into daz, from the reader in src/convert. Adding an input format is a
// reader there and one row in the table (formats.cpp).
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
    // The whole image as RGBA (rgba_readers.h), for reduction and mapping.
    RgbaReader readRgba;
};

// The format data[0, size) starts with, as daz_guess_format tells it.
daz_format guessFormat(const std::uint8_t* data, std::size_t size);

// format's row, or null for one this library doesn't know.
const FormatEntry* formatEntry(int format);

// The RGBA reader for the stream's content, told from its first bytes (read
// from its position, which is put back at its start): null, with error
// DAZ_ERR_FORMAT for no known format or DAZ_ERR_READ for a failed read.
RgbaReader rgbaReaderFor(std::FILE* source, int& error);

} // namespace orvx
