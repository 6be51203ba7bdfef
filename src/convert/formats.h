// formats.h - the formats the library knows, in one table of readers
// (reader.h), one row each (formats.cpp): how each is told from its first
// bytes, its conversion with the indices kept, its RGBA reader and its
// writer from daz. Nothing outside this table (no binding, no command, no
// page) lists formats; they ask it, through daz_guess_format and
// daz_format_at.
#pragma once

#include "convert/reader.h"
#include "daz/daz.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace orvx {

// The format data[0, size) starts with, as daz_guess_format tells it.
daz_format guessFormat(const std::uint8_t* data, std::size_t size);

// format's reader, or null for one this build doesn't know.
const FormatReader* formatReader(int format);

// The table's rows in order: index 0 up to formatCount().
std::size_t formatCount();
const FormatReader& formatAt(std::size_t index);

// The reader for the stream's content, told from its first bytes (read from
// its position, which is put back at its start): null, with error
// DAZ_ERR_FORMAT for no known format or DAZ_ERR_READ for a failed read.
const FormatReader* readerFor(std::FILE* source, int& error);

} // namespace orvx
