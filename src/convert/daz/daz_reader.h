// daz_reader.h - the daz format itself in the formats table (reader.h): read
// as RGBA only; it is no input of the conversions into daz, nor an output.
#pragma once

#include "convert/reader.h"

namespace orvx {

extern const FormatReader DAZ_READER;

} // namespace orvx
