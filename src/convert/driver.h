// driver.h - the one driver of the conversions between files: it owns the
// source (opened once, its reader picked from its first bytes or given),
// the caller's plan check, and the destination with the safe output of
// destination.h, and lets a reader of the formats (reader.h) do the rest.
// In memory, libdaz's calls drive the same readers over streams on the
// caller's bytes (src/api).
#pragma once

#include "convert/reader.h"
#include "output/file_ops.h"

#include <cstdint>
#include <cstdio>

namespace orvx {

// Picks the reader for an open source (at its start, put back there): null,
// with error, when there is none.
using ReaderPick = const FormatReader* (*)(std::FILE* source, int& error);

// The source into a daz file at destination, its indices kept: DAZ_OK with
// *undefined (may be null) the count of pixel values past the kept palette,
// or a daz_error: DAZ_ERR_OPEN, the pick's, DAZ_ERR_FORMAT for a format
// without a palette to keep, the reader's, DAZ_ERR_CREATE, DAZ_ERR_WRITE,
// DAZ_ERR_MEMORY. Nothing is written to destination before the reader has
// read the source's header and check has taken its plan.
int convertFileToDaz(const FileOps& ops, const char* source, const char* destination,
                     ReaderPick pick, const IndexRequest& request, const PlanCheck* check,
                     std::uint64_t* undefined);

// The daz image at source into format at destination.
int exportFileFromDaz(const FileOps& ops, const char* source, const char* destination,
                      const FormatReader& format, const PlanCheck* check);

} // namespace orvx
