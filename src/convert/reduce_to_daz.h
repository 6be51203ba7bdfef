// reduce_to_daz.h - any image the formats table reads (formats.h) into a
// daz file: its colours reduced to a palette of its own, or mapped onto a
// palette given, by the quantizer (src/quantize).
//
// The daz file holds the palette's entries, all of them, as they are (a
// palette given keeps its fourth bytes and its order), 4 bits a pixel for at
// most 16 entries and 8 for more, its rows bottom-up, as daz_encode writes
// them for a positive height.
//
// Memory: the image is held whole as RGBA beside its indices and the
// quantizer's working memory, then the RGBA goes and the file is written a
// row at a time. check is asked once the reader knows the size, before it
// allocates, with all of that (held); then, once the palette is made, with
// the file's exact size (bytes).
#pragma once

#include "convert/result_codes.h"
#include "output/file_ops.h"
#include "quantize/quantize.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace orvx {

struct ReduceRequest {
    quantize::Options options;
    const std::uint8_t* palette = nullptr; // null: reduce to options.colors entries
    int entries = 0;                       // of palette: 1..256
    std::uint16_t key = 0;
};

// The daz file for source (read from its start; it must seek) written to
// out from its position. DAZ_OK, or a daz_error: DAZ_ERR_FORMAT for an
// input of no known format, the reader's own faults, the check's refusal,
// DAZ_ERR_LIMITS for an image the daz header can't hold with its rows
// bottom-up (wider than 65535 pixels, taller than 32767 rows), the
// quantizer's (DAZ_ERR_ARGUMENT for options out of range). What out holds
// after a failure is the caller's.
int reduceStreamToDaz(std::FILE* source, std::FILE* out, const ReduceRequest& request,
                      const PlanCheck* check);

// The most the daz file of source can take, from its header alone (the
// palette of request.entries, or of options.colors when reduced: an image
// of fewer colours makes a smaller file), with check asked as the
// reduction would ask it before it holds anything.
int reducedDazSize(std::FILE* source, const ReduceRequest& request, const PlanCheck* check,
                   std::uint64_t& size);

// File to file, with the commands' safe output (destination.h): nothing is
// written when the reduction fails. DAZ_ERR_OPEN, DAZ_ERR_CREATE and
// DAZ_ERR_WRITE for the files.
int reduceFileToDaz(const char* source, const char* destination, const ReduceRequest& request,
                    const PlanCheck* check);
int reduceFileToDazWith(const FileOps& ops, const char* source, const char* destination,
                        const ReduceRequest& request, const PlanCheck* check);

// The palette to map onto, from the image at source (read from its start; it
// must seek): a daz image's stored entries (fourth byte as stored), an
// indexed bitmap's or PNG's (fourth byte 0); for an image without one, its
// colours (red, green, blue, 0) in order of first appearance, when there are
// at most 256 of them, else DAZ_ERR_NO_PALETTE. palette gets 1024 bytes,
// zero past entries. check as for reduceToDaz's reader.
int readPaletteOf(std::FILE* source, const PlanCheck* check, std::uint8_t* palette, int& entries);

// What the commands hold without limits of the caller's: an image of at most
// DAZ_MAX_WIDTH x DAZ_MAX_ROWS pixels, holding at most 1 GiB, as libdaz's
// default limits (else DAZ_ERR_LIMITS).
const PlanCheck& commandBounds();

} // namespace orvx
